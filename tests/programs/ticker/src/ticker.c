/* Test program of the kz51 front ends: a timer interrupt that ticks while
   main loops for ever, globals of the kinds SDCC adds helpers for, a long
   array and a second module. The "@name" comments mark lines the tests look
   up. Built from ../build with its sources here, as projects often are. */
#include <8051.h>

#include "util.h"

volatile unsigned int ticks;
__xdata int samples[300];
unsigned char n;
int scale = 5;
__xdata unsigned int limit = 300;
const char *greeting = "hello";
__bit ready;

void timer0_isr(void) __interrupt(1) {
  ticks++; /* @isr */
}

void main(void) {
  unsigned char i;
  TMOD = 0x02; /* timer 0 in mode 2: an interrupt every 256 cycles */
  TH0 = 0;
  TR0 = 1;
  ET0 = 1;
  EA = 1;
  for (i = 0; i < 10; i++) {
    record(i); /* @record */
  }
  ready = 1;
  for (;;) {
    P1 = (unsigned char)work(n); /* @work */
    n++;                         /* @loop */
    P1_0 = ready;                /* @led */
  }
}
