/* Example program for kz51: fills a buffer, sums it with a helper in another
   module and parks in done() with the result in `result`. */
#include "util.h"

unsigned char buffer[16];
unsigned int result;
__xdata unsigned char log[4];

struct stats {
  unsigned char count;
  unsigned int total;
};
struct stats last;

void done(void) {
  while (1) {
  }
}

static void fill(unsigned char seed) {
  unsigned char i;
  for (i = 0; i < sizeof buffer; i++) {
    buffer[i] = seed + i * 3;
  }
}

void main(void) {
  unsigned char round;
  for (round = 0; round < 2; round++) {
    fill(round + 1);
    result = checksum(buffer, sizeof buffer);
    log[round] = (unsigned char)result;
  }
  last.count = round;
  last.total = result;
  done();
}
