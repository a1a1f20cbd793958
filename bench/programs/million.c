/* About one million instructions, then main returns: the workload of the
   kz51 run wall-time benchmark. */
unsigned long acc;

void main(void) {
  unsigned int i;
  for (i = 0; i < 14300; i++) acc += i ^ (acc >> 3);
}
