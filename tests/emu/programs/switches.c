/* Dense switch (jump table through JMP @A+DPTR) and sparse switch. */
#include "kz_done.h"

unsigned char dense[12];
unsigned char sparse[8];

static unsigned char classify(unsigned char v) {
  switch (v) {
    case 0: return 10;
    case 1: return 21;
    case 2: return 32;
    case 3: return 43;
    case 4: return 54;
    case 5: return 65;
    case 6: return 76;
    case 7: return 87;
    case 8: return 98;
    case 9: return 109;
    default: return 255;
  }
}

static unsigned char pick(unsigned int v) {
  switch (v) {
    case 3: return 1;
    case 100: return 2;
    case 1000: return 3;
    case 0x7FFF: return 4;
    case 0xFFFF: return 5;
    default: return 0;
  }
}

void main(void) {
  unsigned char i;
  static const unsigned int probes[8] = {3, 4, 100, 999, 1000, 0x7FFF, 0xFFFF, 0};
  for (i = 0; i < 12; i++) dense[i] = classify(i);
  for (i = 0; i < 8; i++) sparse[i] = pick(probes[i]);
  kz_done();
}
