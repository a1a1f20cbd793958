/* Reentrant recursion on the internal stack (which climbs into upper RAM). */
#include "kz_done.h"

unsigned int fibs[12];
unsigned int ack;
unsigned char hanoi_moves;
__idata unsigned char filler[48]; /* pushes the stack start up */

unsigned int fib(unsigned char n) __reentrant {
  if (n < 2) return n;
  return fib(n - 1) + fib(n - 2);
}

unsigned int ackermann(unsigned char m, unsigned int n) __reentrant {
  if (m == 0) return n + 1;
  if (n == 0) return ackermann(m - 1, 1);
  return ackermann(m - 1, ackermann(m, n - 1));
}

void hanoi(unsigned char n, unsigned char a, unsigned char b, unsigned char c) __reentrant {
  if (n == 0) return;
  hanoi(n - 1, a, c, b);
  hanoi_moves++;
  hanoi(n - 1, c, b, a);
}

void main(void) {
  unsigned char i;
  for (i = 0; i < sizeof filler; i++) filler[i] = i;
  for (i = 0; i < 12; i++) fibs[i] = fib(i);
  ack = ackermann(2, 3);
  hanoi(6, 1, 2, 3);
  kz_done();
}
