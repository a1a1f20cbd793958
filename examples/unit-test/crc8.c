#include "crc8.h"

unsigned char crc8(const unsigned char *data, unsigned char length) {
  unsigned char crc = 0;
  unsigned char bit;
  while (length--) {
    crc ^= *data++;
    for (bit = 0; bit < 8; bit++) crc = (crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1;
  }
  return crc;
}
