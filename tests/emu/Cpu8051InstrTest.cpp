// Instruction-level checks of Cpu8051 with hand-computed results and flags.
#include <gtest/gtest.h>

#include "Cpu8051TestUtil.h"

namespace kzemu::test {
namespace {

struct AluCase {
  std::uint8_t opcode;  // 24h ADD #, 34h ADDC #, 94h SUBB #
  std::uint8_t a, v;
  bool carryIn;
  std::uint8_t result;
  bool cy, ac, ov;
};

class AluFlags : public ::testing::TestWithParam<AluCase> {};

TEST_P(AluFlags, ResultAndFlags) {
  const AluCase& t = GetParam();
  Cpu c;
  c.Load({t.opcode, t.v});
  c.SetA(t.a);
  c.SetPsw(t.carryIn ? kCY : 0);
  EXPECT_EQ(c.Step(), 1);
  EXPECT_EQ(c.A(), t.result);
  EXPECT_EQ(c.Flag(kCY), t.cy);
  EXPECT_EQ(c.Flag(kAC), t.ac);
  EXPECT_EQ(c.Flag(kOV), t.ov);
  EXPECT_EQ(c.Flag(kP), (__builtin_popcount(t.result) & 1) != 0);
}

INSTANTIATE_TEST_SUITE_P(
    AddAddcSubb, AluFlags,
    ::testing::Values(
        AluCase{0x24, 0x7F, 0x01, false, 0x80, false, true, true},   // +127+1 overflows
        AluCase{0x24, 0xFF, 0x01, false, 0x00, true, true, false},   // -1+1 no overflow
        AluCase{0x24, 0x80, 0x80, false, 0x00, true, false, true},   // -128-128
        AluCase{0x24, 0x0F, 0x01, false, 0x10, false, true, false},  // nibble carry
        AluCase{0x24, 0x12, 0x34, true, 0x46, false, false, false},  // ADD ignores CY
        AluCase{0x34, 0xFE, 0x01, true, 0x00, true, true, false},    // carry-in ripples
        AluCase{0x34, 0x3F, 0x40, true, 0x80, false, true, true},
        AluCase{0x94, 0x00, 0x01, false, 0xFF, true, true, false},  // borrow out
        AluCase{0x94, 0x80, 0x01, false, 0x7F, false, true, true},  // -128-1
        AluCase{0x94, 0x7F, 0xFF, false, 0x80, true, false, true},  // 127-(-1)
        AluCase{0x94, 0x10, 0x00, true, 0x0F, false, true, false},  // borrow-in only
        AluCase{0x94, 0x55, 0x55, false, 0x00, false, false, false}));

TEST(Cpu8051Instr, AddOperandForms) {
  Cpu c;
  // ADD A,R3 / ADD A,40h / ADD A,@R0 (R0 -> 90h upper RAM) / ADDC A,R7
  c.Load({0x2B, 0x25, 0x40, 0x26, 0x3F});
  c.iram[3] = 1;
  c.iram[0x40] = 2;
  c.iram[0] = 0x90;
  c.iram[0x90] = 4;
  c.iram[7] = 0xF8;
  c.Steps(4);
  EXPECT_EQ(c.A(), 0xFF);
  EXPECT_FALSE(c.Flag(kCY));
}

struct DaCase {
  std::uint8_t a, v;
  std::uint8_t result;
  bool cy;
};
class DecimalAdjust : public ::testing::TestWithParam<DaCase> {};

TEST_P(DecimalAdjust, AfterAdd) {
  const DaCase& t = GetParam();
  Cpu c;
  c.Load({0x24, t.v, 0xD4});  // ADD A,#v ; DA A
  c.SetA(t.a);
  c.Steps(2);
  EXPECT_EQ(c.A(), t.result);
  EXPECT_EQ(c.Flag(kCY), t.cy);
}

INSTANTIATE_TEST_SUITE_P(Bcd, DecimalAdjust,
                         ::testing::Values(DaCase{0x19, 0x28, 0x47, false},  // AC set by ADD
                                           DaCase{0x99, 0x01, 0x00, true},   // 9A -> 100
                                           DaCase{0x90, 0x90, 0x80, true},   // CY set by ADD
                                           DaCase{0x09, 0x09, 0x18, false},
                                           DaCase{0x45, 0x55, 0x00, true},
                                           DaCase{0x12, 0x34, 0x46, false}));

TEST(Cpu8051Instr, DaNeverClearsCarry) {
  Cpu c;
  c.Load({0xD4});
  c.SetA(0x00);
  c.SetPsw(kCY);
  c.Step();
  EXPECT_EQ(c.A(), 0x60);
  EXPECT_TRUE(c.Flag(kCY));
}

TEST(Cpu8051Instr, MulAndDiv) {
  Cpu c;
  c.Load({0xA4, 0xA4, 0x84, 0x84});
  c.SetA(0x50);
  c.WriteSfr(sfr::B, 0xA0);
  c.SetPsw(kCY);
  EXPECT_EQ(c.Step(), 4);
  EXPECT_EQ(c.A(), 0x00);
  EXPECT_EQ(c.Sfr(sfr::B), 0x32);
  EXPECT_TRUE(c.Flag(kOV));
  EXPECT_FALSE(c.Flag(kCY));
  c.SetA(3);
  c.WriteSfr(sfr::B, 4);
  c.Step();
  EXPECT_EQ(c.A(), 12);
  EXPECT_EQ(c.Sfr(sfr::B), 0);
  EXPECT_FALSE(c.Flag(kOV));
  c.SetA(251);
  c.WriteSfr(sfr::B, 18);
  EXPECT_EQ(c.Step(), 4);
  EXPECT_EQ(c.A(), 13);
  EXPECT_EQ(c.Sfr(sfr::B), 17);
  EXPECT_FALSE(c.Flag(kOV));
  // Division by zero: OV set, CY clear, A and B kept.
  c.SetA(7);
  c.WriteSfr(sfr::B, 0);
  c.SetPsw(kCY);
  c.Step();
  EXPECT_EQ(c.A(), 7);
  EXPECT_EQ(c.Sfr(sfr::B), 0);
  EXPECT_TRUE(c.Flag(kOV));
  EXPECT_FALSE(c.Flag(kCY));
}

TEST(Cpu8051Instr, RotatesSwapAndAccumulatorOps) {
  Cpu c;
  // RL, RR, RLC, RRC, SWAP, CPL A, INC A, DEC A, CLR A
  c.Load({0x23, 0x03, 0x03, 0x33, 0x13, 0x13, 0xC4, 0xF4, 0x04, 0x14, 0xE4});
  c.SetA(0x81);
  c.Step();
  EXPECT_EQ(c.A(), 0x03);
  c.Step();
  EXPECT_EQ(c.A(), 0x81);
  c.Step();
  EXPECT_EQ(c.A(), 0xC0);
  c.SetPsw(0);
  c.Step();  // RLC: CY <- 1, bit0 <- 0
  EXPECT_EQ(c.A(), 0x80);
  EXPECT_TRUE(c.Flag(kCY));
  c.Step();  // RRC: bit7 <- 1, CY <- 0
  EXPECT_EQ(c.A(), 0xC0);
  EXPECT_FALSE(c.Flag(kCY));
  c.Step();
  EXPECT_EQ(c.A(), 0x60);
  c.SetA(0x3C);
  c.Step();
  EXPECT_EQ(c.A(), 0xC3);
  c.Step();
  EXPECT_EQ(c.A(), 0x3C);
  c.SetA(0xFF);
  c.Step();
  EXPECT_EQ(c.A(), 0x00);
  c.Step();
  EXPECT_EQ(c.A(), 0xFF);
  c.SetA(0x01);
  EXPECT_TRUE(c.Flag(kP));
  c.Step();
  EXPECT_EQ(c.A(), 0x00);
  EXPECT_FALSE(c.Flag(kP));
}

TEST(Cpu8051Instr, ParityFollowsEveryAccumulatorWrite) {
  Cpu c;
  // MOV A,#07 ; MOV E0h,#03 (direct write to ACC) ; XCH A,R0 ; PUSH PSW ; MOVX A,@DPTR
  c.Load({0x74, 0x07, 0x75, 0xE0, 0x03, 0xC8, 0xC0, 0xD0, 0xE0});
  c.iram[0] = 0x01;
  c.xdata[0] = 0xFE;
  c.Step();
  EXPECT_TRUE(c.Flag(kP));
  c.Step();
  EXPECT_FALSE(c.Flag(kP));
  EXPECT_EQ(c.ReadDirect(sfr::PSW) & kP, 0);
  c.Step();
  EXPECT_TRUE(c.Flag(kP));
  c.Step();
  EXPECT_EQ(c.iram[8] & kP, kP);  // the pushed PSW carries the live parity
  c.Step();
  EXPECT_TRUE(c.Flag(kP));
  // Writing P has no effect: it is derived from A.
  c.WriteSfr(sfr::PSW, 0x00);
  EXPECT_TRUE(c.Flag(kP));
}

TEST(Cpu8051Instr, LogicOnPortsReadsTheLatch) {
  Cpu c;
  c.portPins[1] = 0x0F;  // upper pins held low outside
  // ORL P1,#01 ; ANL P1,#7F ; XRL P1,A ; MOV A,P1 ; CPL P1.0 ; INC P1
  c.Load({0x43, 0x90, 0x01, 0x53, 0x90, 0x7F, 0x62, 0x90, 0xE5, 0x90, 0xB2, 0x90, 0x05, 0x90});
  c.Steps(2);
  EXPECT_EQ(c.Sfr(sfr::P1), 0x7F);
  c.SetA(0x03);
  c.Step();
  EXPECT_EQ(c.Sfr(sfr::P1), 0x7C);
  c.Step();
  EXPECT_EQ(c.A(), 0x0C);  // MOV reads the pins
  c.Step();
  EXPECT_EQ(c.Sfr(sfr::P1), 0x7D);
  c.Step();
  EXPECT_EQ(c.Sfr(sfr::P1), 0x7E);
}

TEST(Cpu8051Instr, BitOperationsOnRamAndSfrBits) {
  Cpu c;
  // SETB 00h ; SETB 7Fh ; CPL ACC.7 ; MOV C,7Fh ; ANL C,/00h ; ORL C,7Fh ; MOV P1.2,C ;
  // CLR 00h ; JBC 7Fh,+0 ; ANL C,00h ; ORL C,/00h ; CPL C ; SETB C ; CLR C
  c.Load({0xD2, 0x00, 0xD2, 0x7F, 0xB2, 0xE7, 0xA2, 0x7F, 0xB0, 0x00, 0x72, 0x7F, 0x92,
          0x92, 0xC2, 0x00, 0x10, 0x7F, 0x00, 0x82, 0x00, 0xA0, 0x00, 0xB3, 0xD3, 0xC3});
  c.Steps(2);
  EXPECT_EQ(c.iram[0x20], 0x01);
  EXPECT_EQ(c.iram[0x2F], 0x80);
  c.Step();
  EXPECT_EQ(c.A(), 0x80);
  c.Step();
  EXPECT_TRUE(c.Flag(kCY));
  c.Step();  // ANL C,/bit with bit set -> 0
  EXPECT_FALSE(c.Flag(kCY));
  c.Step();
  EXPECT_TRUE(c.Flag(kCY));
  c.portPins[1] = 0x00;
  c.Step();  // MOV P1.2,C writes back the latch, not the pins
  EXPECT_EQ(c.Sfr(sfr::P1), 0xFF);
  c.Step();
  EXPECT_EQ(c.iram[0x20], 0x00);
  c.Step();  // JBC takes the branch and clears the bit
  EXPECT_EQ(c.iram[0x2F], 0x00);
  EXPECT_EQ(c.pc, 19);
  c.Step();
  EXPECT_FALSE(c.Flag(kCY));
  c.Step();
  EXPECT_TRUE(c.Flag(kCY));
  c.Step();
  EXPECT_FALSE(c.Flag(kCY));
  c.Step();
  EXPECT_TRUE(c.Flag(kCY));
  c.Step();
  EXPECT_FALSE(c.Flag(kCY));
}

TEST(Cpu8051Instr, PswBitsSelectRegisterBank) {
  Cpu c;
  // SETB RS1 ; SETB RS0 ; MOV R0,#55h ; CLR RS1 ; MOV R7,#66h ; MOV A,R0
  c.Load({0xD2, 0xD4, 0xD2, 0xD3, 0x78, 0x55, 0xC2, 0xD4, 0x7F, 0x66, 0xE8});
  c.Steps(5);
  EXPECT_EQ(c.iram[0x18], 0x55);
  EXPECT_EQ(c.iram[0x0F], 0x66);
  c.iram[0x08] = 0x99;
  c.Step();
  EXPECT_EQ(c.A(), 0x99);
  EXPECT_EQ(c.R(0), 0x99);
}

TEST(Cpu8051Instr, JumpsAndBranches) {
  Cpu c;
  c.Load({0x80, 0x20}, 0x0000);        // SJMP +32 -> 0022
  c.Load({0x80, 0xEC}, 0x0022);        // SJMP -20 -> 0010
  c.Load({0x02, 0x12, 0x34}, 0x0010);  // LJMP 1234
  c.Load({0xE1, 0x56}, 0x1234);        // AJMP 0756 within page 1000..17FF -> 1756
  c.Load({0x73}, 0x1756);              // JMP @A+DPTR
  EXPECT_EQ(c.Step(), 2);
  EXPECT_EQ(c.pc, 0x22);
  c.Step();
  EXPECT_EQ(c.pc, 0x10);
  c.Step();
  EXPECT_EQ(c.pc, 0x1234);
  c.Step();
  EXPECT_EQ(c.pc, 0x1756);
  c.WriteSfr(sfr::DPL, 0x00);
  c.WriteSfr(sfr::DPH, 0x20);
  c.SetA(0x08);
  EXPECT_EQ(c.Step(), 2);
  EXPECT_EQ(c.pc, 0x2008);
}

TEST(Cpu8051Instr, ConditionalJumps) {
  Cpu c;
  // JZ +2 (taken) ; -- ; JNZ +2 (not) ; JC +2 (not) ; JNC -8 (taken back to 0)
  c.Load({0x60, 0x02, 0x00, 0x00, 0x70, 0x02, 0x40, 0x02, 0x50, 0xF6});
  c.SetA(0);
  c.Step();
  EXPECT_EQ(c.pc, 4);
  c.Step();
  EXPECT_EQ(c.pc, 6);
  c.Step();
  EXPECT_EQ(c.pc, 8);
  c.Step();
  EXPECT_EQ(c.pc, 0);
}

TEST(Cpu8051Instr, CjneSetsCarryOnUnsignedLess) {
  Cpu c;
  // CJNE A,#20h,+3 ; CJNE A,30h,+3 ; CJNE @R1,#10h,+3 ; CJNE R2,#05,-2
  c.Load({0xB4, 0x20, 0x03}, 0x00);
  c.Load({0xB5, 0x30, 0x03}, 0x06);
  c.Load({0xB7, 0x10, 0x03}, 0x09);
  c.Load({0xBA, 0x05, 0xFE}, 0x0C);
  c.SetA(0x10);
  c.iram[0x30] = 0x10;
  c.iram[1] = 0xA0;
  c.iram[0xA0] = 0x80;
  c.iram[2] = 0x05;
  EXPECT_EQ(c.Step(), 2);
  EXPECT_EQ(c.pc, 6);
  EXPECT_TRUE(c.Flag(kCY));
  c.Step();  // equal: falls through, CY clear
  EXPECT_EQ(c.pc, 9);
  EXPECT_FALSE(c.Flag(kCY));
  c.Step();  // 80h vs 10h: jumps, not less
  EXPECT_EQ(c.pc, 0x0F);
  EXPECT_FALSE(c.Flag(kCY));
  c.pc = 0x0C;
  c.Step();
  EXPECT_EQ(c.pc, 0x0F);
}

TEST(Cpu8051Instr, DjnzLoops) {
  Cpu c;
  // MOV R5,#3 ; loop: DJNZ R5,loop ; MOV 40h,#2 ; DJNZ 40h,$
  c.Load({0x7D, 0x03, 0xDD, 0xFE, 0x75, 0x40, 0x02, 0xD5, 0x40, 0xFD});
  c.Step();
  EXPECT_EQ(c.Steps(3), 6);
  EXPECT_EQ(c.pc, 4);
  EXPECT_EQ(c.R(5), 0);
  c.Steps(3);
  EXPECT_EQ(c.pc, 10);
  EXPECT_EQ(c.iram[0x40], 0);
}

TEST(Cpu8051Instr, StackLivesInUpperRam) {
  Cpu c;
  // MOV SP,#7Eh ; PUSH 30h ; PUSH 31h ; LCALL 0100h
  c.Load({0x75, 0x81, 0x7E, 0xC0, 0x30, 0xC0, 0x31, 0x12, 0x01, 0x00});
  // at 0100: POP 40h... RET path: ACALL 0180 ; at 0180: RET
  c.Load({0x31, 0x80, 0xD0, 0x40, 0xD0, 0x41, 0x22}, 0x0100);
  c.Load({0x22}, 0x0180);
  c.iram[0x30] = 0xAA;
  c.iram[0x31] = 0xBB;
  c.Steps(3);
  EXPECT_EQ(c.Sp(), 0x80);
  EXPECT_EQ(c.iram[0x7F], 0xAA);
  EXPECT_EQ(c.iram[0x80], 0xBB);
  EXPECT_EQ(c.Sfr(sfr::P0), 0xFF);  // not the SFR at 80h
  c.Step();
  EXPECT_EQ(c.Sp(), 0x82);
  EXPECT_EQ(c.iram[0x81], 0x0A);  // return address low byte first
  EXPECT_EQ(c.iram[0x82], 0x00);
  c.Step();  // ACALL
  EXPECT_EQ(c.pc, 0x0180);
  c.Step();  // RET
  EXPECT_EQ(c.pc, 0x0102);
  c.Steps(2);  // POP 40h, POP 41h take the return address
  EXPECT_EQ(c.iram[0x40], 0x00);
  EXPECT_EQ(c.iram[0x41], 0x0A);
  EXPECT_EQ(c.Sp(), 0x80);
}

TEST(Cpu8051Instr, PopIntoSpKeepsThePoppedValue) {
  Cpu c;
  c.Load({0xD0, 0x81});  // POP SP
  c.WriteSfr(sfr::SP, 0x20);
  c.iram[0x20] = 0x55;
  c.Step();
  EXPECT_EQ(c.Sp(), 0x55);
}

TEST(Cpu8051Instr, IndirectReachesUpperRamDirectReachesSfr) {
  Cpu c;
  // MOV R0,#90h ; MOV @R0,#12h ; MOV 90h,#34h ; MOV A,@R0 ; MOV R1,#0F0h ; MOV @R1,A ; INC @R1
  c.Load({0x78, 0x90, 0x76, 0x12, 0x75, 0x90, 0x34, 0xE6, 0x79, 0xF0, 0xF7, 0x07});
  c.Steps(3);
  EXPECT_EQ(c.iram[0x90], 0x12);
  EXPECT_EQ(c.Sfr(sfr::P1), 0x34);
  c.Step();
  EXPECT_EQ(c.A(), 0x12);
  c.Steps(3);
  EXPECT_EQ(c.iram[0xF0], 0x13);
  EXPECT_EQ(c.Sfr(sfr::B), 0x00);
}

TEST(Cpu8051Instr, MovxUsesDptrOrP2WithRi) {
  Cpu c;
  // MOV DPTR,#1234h ; MOVX @DPTR,A ; INC DPTR ; MOVX A,@DPTR ; MOV P2,#56h ; MOVX @R1,A ; MOVX
  // A,@R0
  c.Load({0x90, 0x12, 0x34, 0xF0, 0xA3, 0xE0, 0x75, 0xA0, 0x56, 0xF3, 0xE2});
  c.SetA(0x77);
  c.xdata[0x1235] = 0x88;
  c.iram[1] = 0x9A;
  c.iram[0] = 0x10;
  c.xdata[0x5610] = 0x42;
  EXPECT_EQ(c.Step(), 2);
  EXPECT_EQ(c.Dptr(), 0x1234);
  EXPECT_EQ(c.Step(), 2);
  EXPECT_EQ(c.xdata[0x1234], 0x77);
  EXPECT_EQ(c.Steps(2), 4);
  EXPECT_EQ(c.A(), 0x88);
  c.Steps(2);
  EXPECT_EQ(c.xdata[0x569A], 0x88);
  c.Step();
  EXPECT_EQ(c.A(), 0x42);
}

TEST(Cpu8051Instr, IncDptrWraps) {
  Cpu c;
  c.Load({0xA3});
  c.WriteSfr(sfr::DPL, 0xFF);
  c.WriteSfr(sfr::DPH, 0xFF);
  c.Step();
  EXPECT_EQ(c.Dptr(), 0x0000);
}

TEST(Cpu8051Instr, MovcFromPcAndDptr) {
  Cpu c;
  // MOVC A,@A+PC (PC = 1 after fetch) ; MOVC A,@A+DPTR
  c.Load({0x83, 0x93});
  c.code[0x0004] = 0x5A;
  c.code[0x2065] = 0xC3;
  c.SetA(3);
  EXPECT_EQ(c.Step(), 2);
  EXPECT_EQ(c.A(), 0x5A);
  c.WriteSfr(sfr::DPH, 0x20);
  c.WriteSfr(sfr::DPL, 0x0B);
  EXPECT_EQ(c.Step(), 2);
  EXPECT_EQ(c.A(), 0xC3);
}

TEST(Cpu8051Instr, ExchangeInstructions) {
  Cpu c;
  // XCH A,R2 ; XCH A,40h ; XCH A,@R0 ; XCHD A,@R0
  c.Load({0xCA, 0xC5, 0x40, 0xC6, 0xD6});
  c.SetA(0x11);
  c.iram[2] = 0x22;
  c.iram[0x40] = 0x33;
  c.iram[0] = 0xC0;
  c.iram[0xC0] = 0x44;
  c.Steps(3);
  EXPECT_EQ(c.iram[2], 0x11);
  EXPECT_EQ(c.iram[0x40], 0x22);
  EXPECT_EQ(c.iram[0xC0], 0x33);
  EXPECT_EQ(c.A(), 0x44);
  c.iram[0xC0] = 0x9B;
  c.Step();
  EXPECT_EQ(c.A(), 0x4B);
  EXPECT_EQ(c.iram[0xC0], 0x94);
}

TEST(Cpu8051Instr, MovForms) {
  Cpu c;
  // MOV 50h,51h (source first) ; MOV 52h,@R0 ; MOV @R1,53h ; MOV R3,54h ; MOV 55h,R3 ; MOV A,R3
  c.Load({0x85, 0x51, 0x50, 0x86, 0x52, 0xA7, 0x53, 0xAB, 0x54, 0x8B, 0x55, 0xEB});
  c.iram[0x51] = 1;
  c.iram[0] = 0x60;
  c.iram[0x60] = 2;
  c.iram[1] = 0x61;
  c.iram[0x53] = 3;
  c.iram[0x54] = 4;
  EXPECT_EQ(c.Steps(5), 10);
  EXPECT_EQ(c.iram[0x50], 1);
  EXPECT_EQ(c.iram[0x52], 2);
  EXPECT_EQ(c.iram[0x61], 3);
  EXPECT_EQ(c.iram[3], 4);
  EXPECT_EQ(c.iram[0x55], 4);
  EXPECT_EQ(c.Step(), 1);
  EXPECT_EQ(c.A(), 4);
}

TEST(Cpu8051Instr, UndefinedA5IsOneByteOneCycleNop) {
  Cpu c;
  c.Load({0xA5, 0x04});
  c.SetA(0x10);
  const std::uint8_t psw = c.Psw();
  EXPECT_EQ(c.Step(), 1);
  EXPECT_EQ(c.pc, 1);
  EXPECT_EQ(c.A(), 0x10);
  EXPECT_EQ(c.Psw(), psw);
  EXPECT_EQ(c.Sp(), 0x07);
  c.Step();
  EXPECT_EQ(c.A(), 0x11);
}

TEST(Cpu8051Instr, ResetValues) {
  Cpu c;
  c.Load({0x75, 0x81, 0x30, 0x75, 0x90, 0x00});
  c.Steps(2);
  c.iram[0x40] = 9;
  c.Reset();
  EXPECT_EQ(c.pc, 0);
  EXPECT_EQ(c.Sp(), 0x07);
  for (std::uint8_t p : {sfr::P0, sfr::P1, sfr::P2, sfr::P3}) EXPECT_EQ(c.Sfr(p), 0xFF);
  EXPECT_EQ(c.Psw(), 0);
  EXPECT_EQ(c.iram[0x40], 9);  // RAM survives reset
}

TEST(Cpu8051Instr, IntelHexLoading) {
  Cpu c;
  std::string err;
  EXPECT_TRUE(c.LoadIntelHex(":0300000002003AC1\n:02003A0080FE46\n:00000001FF\n", &err)) << err;
  EXPECT_EQ(c.code[0], 0x02);
  EXPECT_EQ(c.code[0x3A], 0x80);
  EXPECT_EQ(c.code[0x3B], 0xFE);
  EXPECT_FALSE(c.LoadIntelHex(":0300000002003AC2\n:00000001FF\n", &err));
  EXPECT_NE(err.find("checksum"), std::string::npos);
  EXPECT_FALSE(c.LoadIntelHex(":0300000002003AC1\n", &err));
  EXPECT_FALSE(c.LoadIntelHex(":02FFFF00000000\n:00000001FF\n", &err));  // runs past 64K
}

}  // namespace
}  // namespace kzemu::test
