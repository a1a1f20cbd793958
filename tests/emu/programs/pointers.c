/* Pointers into every memory space: data, idata, xdata, code and generic. */
#include "kz_done.h"

__data unsigned char d[8];
__idata unsigned char id[24];
__xdata unsigned char xd[32];
__xdata __at(0x7F00) unsigned char xhigh[16];
__code const unsigned char table[16] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3};
__code const char msg[] = "kz51 pointer test";
unsigned char sum[6];

static unsigned char sum_generic(const unsigned char* p, unsigned char n) {
  unsigned char s = 0;
  while (n--) s += *p++;
  return s;
}

void main(void) {
  unsigned char i;
  __data unsigned char* pd = d;
  __idata unsigned char* pi = id;
  __xdata unsigned char* px = xd;
  __code const unsigned char* pc = table;
  const char* g = msg;
  for (i = 0; i < 8; i++) *pd++ = i * 5;
  for (i = 0; i < 24; i++) *pi++ = 0xA0 + i;
  for (i = 0; i < 32; i++) *px++ = pc[i & 15] + i;
  for (i = 0; i < 16; i++) xhigh[i] = xd[i] ^ id[i];
  sum[0] = sum_generic(d, 8);
  sum[1] = sum_generic(id, 24);
  sum[2] = sum_generic(xd, 32);
  sum[3] = sum_generic(table, 16);
  sum[4] = 0;
  while (*g) sum[4] += *g++;
  sum[5] = sum_generic(xhigh, 16);
  kz_done();
}
