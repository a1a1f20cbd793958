/* Packed BCD arithmetic through DA A. */
#include "kz_done.h"

unsigned char res[16];
unsigned char carries;

static unsigned char bcd_add(unsigned char x, unsigned char y) __naked {
  (void)x;
  (void)y;
  __asm
    mov a, dpl
    add a, _bcd_add_PARM_2
    da a
    mov dpl, a
    clr a
    rlc a
    orl _carries, a
    ret
  __endasm;
}

static unsigned char bcd_addc(unsigned char x, unsigned char y) __naked {
  (void)x;
  (void)y;
  __asm
    setb c
    mov a, dpl
    addc a, _bcd_addc_PARM_2
    da a
    mov dpl, a
    ret
  __endasm;
}

void main(void) {
  unsigned char i, acc = 0;
  carries = 0;
  res[0] = bcd_add(0x19, 0x28);
  res[1] = bcd_add(0x99, 0x01);
  res[2] = bcd_add(0x45, 0x55);
  res[3] = bcd_add(0x09, 0x09);
  res[4] = bcd_add(0x90, 0x90);
  res[5] = bcd_addc(0x49, 0x50);
  res[6] = bcd_addc(0x99, 0x99);
  res[7] = bcd_add(0x38, 0x38);
  for (i = 0; i < 50; i++) acc = bcd_add(acc, 0x07);
  res[8] = acc;
  res[9] = carries;
  kz_done();
}
