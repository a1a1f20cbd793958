/* Timer 0 in 16-bit mode interrupting a main loop that spins on one JNB, so
   where the interrupts land does not change the final state. */
#include "kz_done.h"

volatile unsigned char ticks;
volatile __bit done;
unsigned int isr_sum;
__idata unsigned char log_[10];

void timer0_isr(void) __interrupt(1) {
  TH0 = 0xFF;
  TL0 = 0x00;
  if (ticks < 10) log_[ticks] = ticks * 3;
  isr_sum += ticks;
  if (++ticks == 10) {
    TR0 = 0;
    done = 1;
  }
}

void main(void) {
  ticks = 0;
  done = 0;
  TMOD = (TMOD & 0xF0) | 0x01;
  TH0 = 0xFF;
  TL0 = 0x00;
  ET0 = 1;
  EA = 1;
  TR0 = 1;
  while (!done)
    ;
  EA = 0;
  ET0 = 0;
  kz_done();
}
