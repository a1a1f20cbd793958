/* The second module of the C model's test program: a structure walked
   through a generic pointer, and reentrant functions whose parameters and
   locals live on the stack. "@name" comments mark where the tests stop; the
   values they check are logged into `truth` before the mark. */
#include "shapes.h"

static unsigned char visits;

int width(struct box *b) {
  return b->corner[1].x - b->corner[0].x;
}

int area(struct box *b) {
  int w;
  int h;
  visits++;
  w = width(b);
  h = b->corner[1].y - b->corner[0].y;
  T(30, w);
  T(31, h);
  T(32, b->tag);
  T(33, visits);
  return w * h; /* @area */
}

int sum3(int a, int b, int c) __reentrant {
  int t[2];
  t[0] = a + b;
  t[1] = t[0] + c;
  T(34, a);
  T(35, b);
  T(36, c);
  T(37, t[0]);
  T(38, t[1]);
  return t[1]; /* @sum3 */
}

int mix(int a, int b, int c) __reentrant {
  int t = a + b;
  return t + c; /* @mix */
}

long scaled(struct point *p, int k) __reentrant {
  long s;
  s = (long)p->x * k;
  T(39, k);
  T(40, p->x);
  T(41, s);
  s = s + sum3(p->x, p->y, k); /* @scaled */
  return s;
}
