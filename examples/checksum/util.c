#include "util.h"

unsigned int checksum(const unsigned char *data, unsigned char length) {
  unsigned int sum = 0;
  unsigned char i;
  for (i = 0; i < length; i++) {
    sum += data[i];
  }
  return sum;
}
