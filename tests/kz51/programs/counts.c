/* A program whose counts are known, for kz51 run's coverage and profile:
   square() is called 5 times, never() never, twice() twice through a
   function pointer, and the loop body in sum_to() runs 7 times. It sends
   "ok\n" on the UART and leaves `status` 0 when its sums are right. */
#include <8052.h>

unsigned char status;
unsigned int total;
unsigned char twice_calls;

static void put(char c) {
  SBUF = c;
  while (!TI)
    ;
  TI = 0;
}

unsigned int square(unsigned char x) {
  return (unsigned int)x * x;
}

unsigned char never(unsigned char x) {
  return x + 1;
}

void twice(void) {
  twice_calls++;
}

unsigned int sum_to(unsigned char n) {
  unsigned int s = 0;
  unsigned char i;
  for (i = 1; i <= n; i++) {
    s += i; /* @loop-body */
  }
  return s;
}

void main(void) {
  unsigned char k;
  void (*fp)(void) = twice;
  SCON = 0x50;
  TMOD = 0x20;
  TH1 = 0xFD;
  TR1 = 1;
  for (k = 0; k < 5; k++) total += square(k);
  total += sum_to(7);
  fp();
  fp();
  put('o');
  put('k');
  put('\n');
  status = total == 58 && twice_calls == 2 ? 0 : 3;
}
