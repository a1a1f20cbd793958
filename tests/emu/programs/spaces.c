/* Every memory space a debugger shows: direct and indirect RAM, xdata, pdata,
   SFRs and a code table, changed in a loop that calls tick() ten times (the
   debugging tests stop in tick() and at kz_done). */
#include "kz_done.h"

__data unsigned char counter;
__data unsigned char scale = 1;
__idata __at(0x90) unsigned char ibuf[4];
__xdata unsigned char xbuf[4];
__xdata __at(0x1234) unsigned char xmark;
__pdata unsigned char pbuf[4];
__code const unsigned char table[4] = {1, 2, 4, 8};

void tick(void) {
  counter += scale;
}

void main(void) {
  unsigned char i;
  for (i = 0; i < 10; i++) {
    tick();
    xbuf[i & 3] += counter;
    pbuf[i & 3] ^= table[i & 3];
    ibuf[i & 3] += i;
    P1 = counter;
    TL0 = i;
  }
  xmark = counter;
  kz_done();
}
