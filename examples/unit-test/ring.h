/* A byte ring buffer: the code under test of test_ring.c. */
#ifndef RING_H
#define RING_H

#define RING_SIZE 8

struct ring {
  unsigned char data[RING_SIZE];
  unsigned char head, tail, count;
};

void ring_init(struct ring *r);
/* 1 when the byte was stored, 0 when the ring was full. */
unsigned char ring_put(struct ring *r, unsigned char b);
/* The oldest byte; call only when ring_count() is not 0. */
unsigned char ring_get(struct ring *r);
unsigned char ring_count(const struct ring *r);

#endif
