/* The harness's UART output and counters (see check.h). The serial port runs
   in mode 1 at 9600 baud from an 11.0592 MHz crystal, timer 1 reloading. */
#include <8052.h>

#include "check.h"

unsigned char check_failures;
unsigned int check_count;

void check_init(void) {
  check_failures = 0;
  check_count = 0;
  SCON = 0x50;
  TMOD = (TMOD & 0x0F) | 0x20;
  TH1 = 0xFD;
  TR1 = 1;
  TI = 1; /* the transmitter is free */
}

static void put(char c) {
  while (!TI)
    ;
  TI = 0;
  SBUF = c;
}

void check_puts(const char *s) {
  while (*s) put(*s++);
}

static void put_unsigned(unsigned int n) {
  char digits[5];
  unsigned char i = 0;
  do {
    digits[i++] = '0' + n % 10;
    n /= 10;
  } while (n != 0);
  while (i != 0) put(digits[--i]);
}

void check_fail(const char *file, unsigned int line, const char *expr) {
  const char *name = file;
  /* Only the file's name: sdcc's __FILE__ is the path it was given. */
  for (; *file; file++)
    if (*file == '/' || *file == '\\') name = file + 1;
  if (check_failures != 255) check_failures++;
  check_puts("FAIL ");
  check_puts(name);
  put(':');
  put_unsigned(line);
  check_puts(": ");
  check_puts(expr);
  check_puts("\r\n");
}

void check_end(void) {
}

void check_summary(void) {
  put_unsigned(check_count);
  check_puts(" checks, ");
  put_unsigned(check_failures);
  check_puts(check_failures == 255 ? " or more failed\r\n" : " failed\r\n");
  /* A byte is sent when its transmission ends: wait for the last one. */
  while (!TI)
    ;
  check_end();
}
