/* Bit variables, bit-addressable RAM, SFR bits, masks and rotates. */
#include "kz_done.h"

__bit f0, f1, f2, f3;
__data __at(0x24) unsigned char flags;
__sbit __at(0x21) flag1; /* bit 1 of RAM 24h */
__sbit __at(0x27) flag7;
__sbit __at(0xF3) b_3; /* B.3 */
__sbit __at(0xF7) b_7;
unsigned char out[12];

static unsigned char rotl(unsigned char v, unsigned char n) {
  return (unsigned char)((v << n) | (v >> (8 - n)));
}

static unsigned char popcount(unsigned char v) {
  unsigned char n = 0;
  while (v) {
    n += v & 1;
    v >>= 1;
  }
  return n;
}

void main(void) {
  unsigned char i, v = 0x5A;
  flags = 0x00;
  flag1 = 1;
  flag7 = 1;
  out[0] = flags;
  f0 = v & 0x02;
  f1 = !(v & 0x01);
  f2 = f0 ^ f1;
  f3 = f0 && !f2;
  out[1] = f0 | (f1 << 1) | (f2 << 2) | (f3 << 3);
  out[2] = rotl(v, 3);
  out[3] = popcount(0xB7);
  out[4] = v | 0x81;
  out[5] = v & 0x0F;
  out[6] = v ^ 0xFF;
  P1 = 0x0F;
  P1_7 = 1;
  P1_0 = 0;
  out[7] = P1;
  CY = 1;
  F0 = 1;
  out[8] = PSW & 0xE0;
  F0 = 0;
  out[9] = 0;
  for (i = 0; i < 8; i++) {
    flag1 = !flag1;
    if (flag1) out[9] |= 1 << i;
  }
  out[10] = flags;
  B = 0x81;
  b_3 = 1;
  b_7 = 0;
  out[11] = B;
  kz_done();
}
