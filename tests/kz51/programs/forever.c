/* Never reaches the end of main: kz51 run's time-out and cycle limit. */
#include <8052.h>

void main(void) {
  for (;;) P1++;
}
