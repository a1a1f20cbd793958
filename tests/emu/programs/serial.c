/* putchar over the serial port in mode 1 with timer 1 as baud generator. */
#include "kz_done.h"

unsigned char sent;

int putchar(int c) {
  while (!TI)
    ;
  TI = 0;
  SBUF = c;
  sent++;
  return c;
}

static void puts_(const char* s) {
  while (*s) putchar(*s++);
}

void main(void) {
  unsigned char i;
  SCON = 0x50;
  TMOD = (TMOD & 0x0F) | 0x20;
  TH1 = 0xFD;
  TR1 = 1;
  TI = 1;
  puts_("hello 8051\r\n");
  for (i = 0; i < 5; i++) putchar('0' + i);
  while (!TI)
    ;
  kz_done();
}
