/* Test program of the C model: recursion, structures, pointers of several
   spaces, bit variables, a reentrant function with parameters on the stack,
   an interrupt handler. "@name" comments mark where the tests stop; every
   value the tests check is logged into the xdata array `truth` by the
   program itself before it reaches the mark. */
#include <8051.h>
#include "shapes.h"

__xdata long truth[48];
volatile unsigned int spins;
volatile unsigned char ticks;
__bit ready;
unsigned char letter = 'o';
float ratio = 1.5;
long big = -100000;
const char *greeting = "hello";
__code unsigned char squares[4] = {0, 1, 4, 9};
__xdata unsigned char log_count;
unsigned char table[8];
struct box boxes[2];
__xdata struct point xpts[3];
__xdata struct point *__data xp;
static unsigned char calls;

int fact(int n) {
  int r;
  calls++;
  T(10 + n, n);
  if (n <= 1) {
    r = 1; /* @fact_base */
  } else {
    r = n * fact(n - 1);
  }
  return r;
}

unsigned char depth(unsigned char n) {
  unsigned char below;
  T(20 + n, n);
  if (n == 0) return 0; /* @depth_test */
  below = depth(n - 1);
  return below + 1;
}

void timer0(void) __interrupt(1) {
  ticks++;
  T(42, ticks);
  ready = !ready; /* @isr */
}

unsigned char peek(void) {
  return ticks;
}

unsigned int spin(unsigned int rounds) {
  unsigned int i;
  unsigned int seen = 0;
  for (i = 0; i < rounds; i++) {
    seen += peek();
    T(43, i);
    T(44, seen);
    spins = i; /* @spin */
  }
  return seen;
}

void main(void) {
  int v;
  unsigned char k;
  struct point q;
  long s;

  for (k = 0; k < 8; k++) table[k] = k * 3;
  boxes[0].corner[0].x = 1;
  boxes[0].corner[0].y = 2;
  boxes[0].corner[1].x = 11;
  boxes[0].corner[1].y = 7;
  boxes[0].tag = 'b';
  boxes[0].name[0] = 'b';
  boxes[0].name[1] = 'x';
  boxes[0].wide = 1;
  boxes[0].level = 5;
  xpts[1].x = -3;
  xpts[1].y = 300;
  xp = &xpts[1];
  ready = 1;
  q.x = 6;
  q.y = 9;
  T(0, q.x);
  T(1, q.y);
  v = fact(4);
  T(2, v);
  k = depth(5);
  T(3, k);
  v = area(&boxes[0]);
  T(4, v);
  s = scaled(&q, 3);
  T(5, s);
  v = mix(1, 2, 3);
  T(7, v);
  {
    unsigned char k = table[3] + 33; /* shadows main's k in this block */
    T(8, k);
    v = peek() + k; /* @block */
    T(9, v);
  }
  T(10, k);
  spins = k; /* @after_block */
  log_count = (unsigned char)v;
  TMOD = 0x02;
  TH0 = 0x80;
  TL0 = 0x80;
  ET0 = 1;
  EA = 1;
  TR0 = 1;
  v = spin(40);
  TR0 = 0;
  T(6, v);
  for (;;) {
    spins++; /* @idle */
  }
}
