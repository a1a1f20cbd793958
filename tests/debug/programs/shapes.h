/* Structures shared by the C model's test program. */
struct point {
  int x;
  int y;
};

struct box {
  struct point corner[2];
  unsigned char tag;
  char name[4];
  unsigned char wide : 1;
  unsigned char level : 3;
};

extern __xdata long truth[48];
#define T(slot, v) (truth[slot] = (long)(v))

int area(struct box *b);
int sum3(int a, int b, int c) __reentrant;
int mix(int a, int b, int c) __reentrant;
long scaled(struct point *p, int k) __reentrant;
