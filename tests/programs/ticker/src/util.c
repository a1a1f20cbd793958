/* The second module of the test program. */
#include "util.h"

void record(unsigned char k) {
  samples[k * 30] = k + scale; /* @store */
}

int work(unsigned char k) {
  int s = k * 3; /* @triple */
  return s + scale;
}
