/* Unit tests of the CRC-8, run with kz51 run. */
#include "check.h"
#include "crc8.h"

static const unsigned char check_string[] = "123456789";

void main(void) {
  unsigned char one = 0x01;
  check_init();
  check_puts("test_crc8\r\n");
  CHECK(crc8(check_string, 9) == 0xF4); /* the standard check value */
  CHECK(crc8(check_string, 0) == 0);
  CHECK(crc8(&one, 1) == 0x07);
  check_summary();
}
