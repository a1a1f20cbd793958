#include "ring.h"

void ring_init(struct ring *r) {
  r->head = 0;
  r->tail = 0;
  r->count = 0;
}

unsigned char ring_put(struct ring *r, unsigned char b) {
  if (r->count == RING_SIZE) return 0;
  r->data[r->head] = b;
  r->head = (r->head + 1) % RING_SIZE;
  r->count++;
  return 1;
}

unsigned char ring_get(struct ring *r) {
  unsigned char b = r->data[r->tail];
  r->tail = (r->tail + 1) % RING_SIZE;
  r->count--;
  return b;
}

unsigned char ring_count(const struct ring *r) {
  return r->count;
}
