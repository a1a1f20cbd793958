/* A tiny assertion harness for 8051 unit tests run by `kz51 run`.

   CHECK(expr) counts a check; a false one is reported over the UART
   ("FAIL test_ring.c:42: ring_get(&r) == 7") and counted in check_failures,
   which saturates at 255 so that an exit status taken from it (& FFh) never
   wraps to 0. check_summary() reports the totals and calls check_end(),
   where `kz51 run --until check_end --exit-code check_failures` stops:

     void main(void) {
       check_init();
       test_something();
       check_summary();
     }
*/
#ifndef CHECK_H
#define CHECK_H

extern unsigned char check_failures;
extern unsigned int check_count;

void check_init(void);
void check_fail(const char *file, unsigned int line, const char *expr);
void check_summary(void);
void check_end(void);
void check_puts(const char *s);

#define CHECK(expr)                                         \
  do {                                                      \
    check_count++;                                          \
    if (!(expr)) check_fail(__FILE__, __LINE__, #expr);     \
  } while (0)

#endif
