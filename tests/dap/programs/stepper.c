/* Debug adapter test program: globals of several types, functions with
   locals in registers and in memory, nested calls, and a loop that runs
   until it is paused. The "@name" comments mark lines the tests look up. */
struct point {
  int x;
  int y;
};

unsigned char table[8];
int counter;
long total = 100000;
struct point origin = {3, -4};
__xdata unsigned char buffer[16];
volatile unsigned int spins;
unsigned char *cursor;
__xdata unsigned char *__data xcursor;

int square(int v) {
  int r = v * v; /* @square */
  return r;
}

int sum_squares(unsigned char n) {
  unsigned char seen[4];
  int acc = 0;
  unsigned char i;
  for (i = 0; i < n; i++) {
    seen[i & 3] = i + 10;
    acc += square(i); /* @call */
  }
  return acc + seen[1]; /* @sumret */
}

void fill(void) {
  unsigned char k;
  for (k = 0; k < 8; k++) table[k] = (unsigned char)(k * 3 + 1);
  for (k = 0; k < 16; k++) buffer[k] = (unsigned char)(0xA0 + k);
}

void main(void) {
  cursor = &table[2];
  xcursor = &buffer[5];
  fill();                   /* @fill */
  counter = 7;              /* @seven */
  counter = sum_squares(4); /* @sum */
  origin.x = counter + 1;   /* @origin */
  total = total + counter;  /* @total */
  for (;;) {
    spins++; /* @spin */
  }
}
