/* Long-running workload for the cpu_rate benchmark: sieve, CRC-16, 32-bit
   arithmetic and xdata copies, repeated a fixed number of rounds. */
#include <8052.h>

__xdata unsigned char sieve[1024];
__xdata unsigned char buf[256];
unsigned int crc;
unsigned long acc32;
unsigned int primes;

void kz_done(void) __naked {
  __asm__("00001$: sjmp 00001$");
}

static unsigned int crc16(__xdata unsigned char* p, unsigned int n, unsigned int c) {
  unsigned char i;
  while (n--) {
    c ^= (unsigned int)*p++ << 8;
    for (i = 0; i < 8; i++) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
  }
  return c;
}

void main(void) {
  unsigned char round;
  unsigned int i, j;
  crc = 0xFFFF;
  acc32 = 1;
  for (round = 0; round < 12; round++) {
    for (i = 0; i < 1024; i++) sieve[i] = 1;
    primes = 0;
    for (i = 2; i < 1024; i++)
      if (sieve[i]) {
        primes++;
        for (j = i + i; j < 1024; j += i) sieve[j] = 0;
      }
    for (i = 0; i < 256; i++) buf[i] = (unsigned char)(i * 7 + round);
    crc = crc16(buf, 256, crc);
    for (i = 1; i < 200; i++) acc32 = acc32 * 1103515245UL + 12345UL + acc32 / i;
  }
  kz_done();
}
