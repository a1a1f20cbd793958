/* 8/16/32-bit add, subtract, compare and shifts, signed and unsigned. */
#include "kz_done.h"

unsigned char u8[8];
signed char s8[4];
unsigned int u16[6];
long s32[4];
unsigned long u32[4];
__bit lt, gt;

void main(void) {
  unsigned char i;
  unsigned char a = 0xC8, b = 0x64;
  int x = -1234, y = 5678;
  long p = 100000L, q = -300000L;
  unsigned long r = 0xFFFFFFF0UL;
  u8[0] = a + b;
  u8[1] = a - b;
  u8[2] = b - a;
  u8[3] = (unsigned char)(a << 1);
  u8[4] = a >> 3;
  u8[5] = ~a;
  u8[6] = -b;
  u8[7] = 0;
  for (i = 0; i < 200; i += 7) u8[7] += i;
  s8[0] = (signed char)a / 3;
  s8[1] = (signed char)-100 - 50;
  s8[2] = (signed char)a >> 2;
  s8[3] = (signed char)b < (signed char)a;
  u16[0] = x + y;
  u16[1] = x - y;
  u16[2] = (unsigned)x >> 5;
  u16[3] = x >> 5;
  u16[4] = y << 3;
  u16[5] = (x < y) + (x > y) * 2 + ((unsigned)x < (unsigned)y) * 4;
  s32[0] = p + q;
  s32[1] = p - q;
  s32[2] = q >> 7;
  s32[3] = p << 9;
  u32[0] = r + 0x20;
  u32[1] = r >> 13;
  u32[2] = (unsigned long)p * 3 + r;
  u32[3] = 0;
  for (i = 0; i < 40; i++) u32[3] = (u32[3] << 1) ^ (u32[3] >> 3) ^ i;
  lt = q < p;
  gt = r < (unsigned long)p;
  kz_done();
}
