/* CRC-8 (polynomial 07h, initial value 0): the code under test of test_crc8.c. */
#ifndef CRC8_H
#define CRC8_H

unsigned char crc8(const unsigned char *data, unsigned char length);

#endif
