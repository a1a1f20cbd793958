/* Shared end of every comparison program: both simulators stop when the PC
   reaches kz_done, so the final state is taken at the same point. */
#include <8052.h>

void kz_done(void) __naked {
  __asm__("00001$: sjmp 00001$");
}
