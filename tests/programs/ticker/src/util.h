#ifndef TICKER_UTIL_H
#define TICKER_UTIL_H
extern __xdata int samples[300];
extern int scale;
void record(unsigned char k);
int work(unsigned char k);
#endif
