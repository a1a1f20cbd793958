#ifndef UTIL_H
#define UTIL_H
unsigned int checksum(const unsigned char *data, unsigned char length);
#endif
