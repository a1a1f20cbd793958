/* Prints through the serial port (mode 1, timer 1 as baud generator) and
   stops at a breakpoint between two pieces of output. */
#include <8052.h>

int putchar(int c) {
  while (!TI)
    ;
  TI = 0;
  SBUF = c;
  return c;
}

static void print(const char* s) {
  while (*s) putchar(*s++);
}

void main(void) {
  unsigned char i;
  SCON = 0x50;
  TMOD = (TMOD & 0x0F) | 0x20;
  TH1 = 0xFD;
  TR1 = 1;
  TI = 1;
  print("hello from the 8051\r\n");
  /* A byte reaches the file when its transmission ends (TI set). */
  while (!TI)
    ;
  for (i = 0; i < 3; i++) putchar('a' + i); /* @first */
  print("\r\nbye\r\n");
  while (!TI)
    ;
  P1 = 0; /* @end */
  for (;;)
    ;
}
