/* Multiplication, division and modulo at 8, 16 and 32 bits (MUL AB, DIV AB and
   the library routines built on them). */
#include "kz_done.h"

unsigned char r8[6];
signed char s8[4];
unsigned int r16[6];
int s16[4];
__xdata unsigned long r32[6];
__xdata long s32[4];

void main(void) {
  volatile unsigned char a = 200, b = 7;
  volatile signed char sa = -100, sb = 9;
  volatile unsigned int x = 54321, y = 123;
  volatile int sx = -31000, sy = 77;
  volatile unsigned long p = 3000000000UL, q = 98765UL;
  volatile long sp = -2000000000L, sq = 4321L;
  r8[0] = a * b;
  r8[1] = a / b;
  r8[2] = a % b;
  r8[3] = (unsigned char)(b * b * b);
  r8[4] = 255 / b;
  r8[5] = a / 1;
  s8[0] = sa / sb;
  s8[1] = sa % sb;
  s8[2] = sa * 2 / sb;
  s8[3] = -sa / -sb;
  r16[0] = x * y;
  r16[1] = x / y;
  r16[2] = x % y;
  r16[3] = (unsigned int)a * x;
  r16[4] = x / 1000;
  r16[5] = y * y;
  s16[0] = sx / sy;
  s16[1] = sx % sy;
  s16[2] = sx * 3;
  s16[3] = -sx / 7;
  r32[0] = p / q;
  r32[1] = p % q;
  r32[2] = q * q;
  r32[3] = p * 3;
  r32[4] = (unsigned long)x * x;
  r32[5] = p / 10;
  s32[0] = sp / sq;
  s32[1] = sp % sq;
  s32[2] = sp * 3 / 7;
  s32[3] = sq * -sq;
  kz_done();
}
