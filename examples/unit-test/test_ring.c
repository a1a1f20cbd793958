/* Unit tests of the ring buffer, run with kz51 run. */
#include "check.h"
#include "ring.h"

static struct ring r;

static void test_fifo_order(void) {
  ring_init(&r);
  CHECK(ring_put(&r, 1));
  CHECK(ring_put(&r, 2));
  CHECK(ring_count(&r) == 2);
  CHECK(ring_get(&r) == 1);
  CHECK(ring_get(&r) == 2);
  CHECK(ring_count(&r) == 0);
}

static void test_full_ring_refuses(void) {
  unsigned char i;
  ring_init(&r);
  for (i = 0; i < RING_SIZE; i++) CHECK(ring_put(&r, i));
  CHECK(!ring_put(&r, 99));
  CHECK(ring_count(&r) == RING_SIZE);
}

static void test_wraps_around(void) {
  unsigned char i;
  ring_init(&r);
  for (i = 0; i < 20; i++) {
    CHECK(ring_put(&r, i));
    CHECK(ring_get(&r) == i);
  }
}

void main(void) {
  check_init();
  check_puts("test_ring\r\n");
  test_fifo_order();
  test_full_ring_refuses();
  test_wraps_around();
  check_summary();
}
