// Timers, serial port and interrupt system of Cpu8051. Code memory is zero
// (NOPs) unless a test loads something, so Step() counts single cycles.
#include <gtest/gtest.h>

#include <vector>

#include "Cpu8051TestUtil.h"

namespace kzemu::test {
namespace {

constexpr std::uint8_t TR0 = 0x10, TF0 = 0x20, TR1 = 0x40, TF1 = 0x80, IE0 = 0x02, IT0 = 0x01,
                       IE1 = 0x08, IT1 = 0x04;

TEST(Cpu8051Timer, Mode1SixteenBitOverflow) {
  Cpu c;
  c.WriteSfr(sfr::TMOD, 0x01);
  c.WriteSfr(sfr::TH0, 0xFF);
  c.WriteSfr(sfr::TL0, 0xFE);
  c.WriteSfr(sfr::TCON, TR0);
  c.Step();
  EXPECT_EQ(c.Sfr(sfr::TL0), 0xFF);
  EXPECT_FALSE(c.Sfr(sfr::TCON) & TF0);
  c.Step();
  EXPECT_EQ(c.Sfr(sfr::TL0), 0x00);
  EXPECT_EQ(c.Sfr(sfr::TH0), 0x00);
  EXPECT_TRUE(c.Sfr(sfr::TCON) & TF0);
  // TR0 off stops counting.
  c.WriteSfr(sfr::TCON, 0);
  c.Steps(5);
  EXPECT_EQ(c.Sfr(sfr::TL0), 0x00);
}

TEST(Cpu8051Timer, Mode2AutoReloadAcrossMultiCycleInstructions) {
  Cpu c;
  for (int i = 0; i < 8; ++i) c.Load({0xA4}, static_cast<std::uint16_t>(i));  // MUL AB, 4 cycles
  c.WriteSfr(sfr::TMOD, 0x20);
  c.WriteSfr(sfr::TH1, 0xFD);
  c.WriteSfr(sfr::TL1, 0xFE);
  c.WriteSfr(sfr::TCON, TR1);
  c.Step();  // FE -> FF -> (reload FD) -> FE -> FF
  EXPECT_EQ(c.Sfr(sfr::TL1), 0xFF);
  EXPECT_TRUE(c.Sfr(sfr::TCON) & TF1);
  c.WriteSfr(sfr::TCON, TR1);
  c.Step();  // FF -> FD, FE, FF, FD
  EXPECT_EQ(c.Sfr(sfr::TL1), 0xFD);
  EXPECT_TRUE(c.Sfr(sfr::TCON) & TF1);
}

TEST(Cpu8051Timer, Mode0ThirteenBit) {
  Cpu c;
  c.WriteSfr(sfr::TMOD, 0x00);
  c.WriteSfr(sfr::TH0, 0xFF);
  c.WriteSfr(sfr::TL0, 0x1E);
  c.WriteSfr(sfr::TCON, TR0);
  c.Step();
  EXPECT_EQ(c.Sfr(sfr::TL0), 0x1F);
  c.Step();
  EXPECT_EQ(c.Sfr(sfr::TL0), 0x00);
  EXPECT_EQ(c.Sfr(sfr::TH0), 0x00);
  EXPECT_TRUE(c.Sfr(sfr::TCON) & TF0);
  c.WriteSfr(sfr::TL0, 0x1F);
  c.WriteSfr(sfr::TH0, 0x00);
  c.Step();  // carry from TL0 bit 4 into TH0
  EXPECT_EQ(c.Sfr(sfr::TL0), 0x00);
  EXPECT_EQ(c.Sfr(sfr::TH0), 0x01);
}

TEST(Cpu8051Timer, Mode3SplitsTimer0) {
  Cpu c;
  c.WriteSfr(sfr::TMOD, 0x03);
  c.WriteSfr(sfr::TL0, 0xFF);
  c.WriteSfr(sfr::TH0, 0xFE);
  c.WriteSfr(sfr::TCON, TR0 | TR1);
  c.Step();
  EXPECT_EQ(c.Sfr(sfr::TCON) & (TF0 | TF1), TF0);
  c.Step();
  EXPECT_EQ(c.Sfr(sfr::TCON) & (TF0 | TF1), TF0 | TF1);  // TH0 owns TF1
  c.WriteSfr(sfr::TCON, TR0);                            // TR1 gates TH0
  c.Steps(3);
  EXPECT_EQ(c.Sfr(sfr::TH0), 0x00);
  EXPECT_EQ(c.Sfr(sfr::TL0), 0x04);
}

TEST(Cpu8051Timer, GateWaitsForInt0Pin) {
  Cpu c;
  c.WriteSfr(sfr::TMOD, 0x09);  // GATE, mode 1
  c.portPins[3] = 0xFB;         // INT0 low
  c.PinsChanged();
  c.WriteSfr(sfr::TCON, TR0 | IT0);
  c.Steps(3);
  EXPECT_EQ(c.Sfr(sfr::TL0), 0);
  c.portPins[3] = 0xFF;
  c.PinsChanged();
  c.Steps(3);
  EXPECT_EQ(c.Sfr(sfr::TL0), 3);
}

TEST(Cpu8051Timer, CounterModeCountsT0FallingEdges) {
  Cpu c;
  c.WriteSfr(sfr::TMOD, 0x05);  // counter, mode 1
  c.WriteSfr(sfr::TCON, TR0);
  c.Steps(10);
  EXPECT_EQ(c.Sfr(sfr::TL0), 0);
  for (int i = 0; i < 3; ++i) {
    c.portPins[3] = 0xEF;
    c.PinsChanged();
    c.portPins[3] = 0xFF;
    c.PinsChanged();
  }
  EXPECT_EQ(c.Sfr(sfr::TL0), 3);
}

TEST(Cpu8051Serial, TransmitCompletesAfterFrameTime) {
  Cpu c;
  std::vector<std::uint8_t> out;
  c.onSerialTx = [&](std::uint8_t b) { out.push_back(b); };
  c.WriteSfr(sfr::SCON, 0x40);  // mode 1
  c.WriteSfr(sfr::TMOD, 0x20);
  c.WriteSfr(sfr::TH1, 0xFD);  // 3-cycle overflow period, SMOD=0: 96 cycles a bit
  c.WriteSfr(sfr::TCON, TR1);
  c.Load({0xF5, 0x99});  // MOV SBUF,A
  c.SetA('K');
  c.Step();
  c.Steps(958);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(c.Sfr(sfr::SCON) & 0x02);
  c.Step();  // 960 cycles: start bit, 8 data bits, stop bit
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], 'K');
  EXPECT_TRUE(c.Sfr(sfr::SCON) & 0x02);
  EXPECT_EQ(c.Sfr(sfr::SBUF), 0x00);  // writing SBUF does not touch the receive buffer
}

TEST(Cpu8051Serial, ReceiveSetsRiAndNeverOverruns) {
  Cpu c;
  c.WriteSfr(sfr::TMOD, 0x20);
  c.WriteSfr(sfr::TH1, 0xFF);  // 32 cycles a bit, 320 a frame
  c.WriteSfr(sfr::TCON, TR1);
  c.SerialReceive(0x41);
  c.SerialReceive(0x42);
  c.Steps(1000);
  EXPECT_FALSE(c.Sfr(sfr::SCON) & 0x01);  // REN off: nothing arrives
  c.WriteSfr(sfr::SCON, 0x50);
  c.Steps(319);
  EXPECT_FALSE(c.Sfr(sfr::SCON) & 0x01);
  c.Step();
  EXPECT_TRUE(c.Sfr(sfr::SCON) & 0x01);
  EXPECT_EQ(c.ReadDirect(sfr::SBUF), 0x41);
  c.Steps(2000);  // the next byte waits while RI is set
  EXPECT_EQ(c.ReadDirect(sfr::SBUF), 0x41);
  c.Load({0xC2, 0x98}, c.pc);  // CLR RI
  c.Step();
  c.Steps(400);
  EXPECT_EQ(c.ReadDirect(sfr::SBUF), 0x42);
  EXPECT_TRUE(c.Sfr(sfr::SCON) & 0x01);
}

TEST(Cpu8051Interrupt, TimerOverflowVectorsAndRetiReturns) {
  Cpu c;
  c.Load({0x32}, 0x000B);  // RETI
  c.WriteSfr(sfr::TMOD, 0x01);
  c.WriteSfr(sfr::TH0, 0xFF);
  c.WriteSfr(sfr::TL0, 0xFF);
  c.WriteSfr(sfr::IE, 0x82);
  c.WriteSfr(sfr::TCON, TR0);
  c.pc = 0x100;
  c.Step();  // overflows in this NOP's only (last) cycle
  EXPECT_TRUE(c.Sfr(sfr::TCON) & TF0);
  c.Step();  // polled during this one, so it still runs
  EXPECT_EQ(c.pc, 0x102);
  EXPECT_EQ(c.Step(), 2);  // hardware LCALL
  EXPECT_EQ(c.pc, 0x000B);
  EXPECT_FALSE(c.Sfr(sfr::TCON) & TF0);
  EXPECT_EQ(c.Sp(), 0x09);
  EXPECT_EQ(c.iram[8], 0x02);
  EXPECT_EQ(c.iram[9], 0x01);
  EXPECT_EQ(c.InService(), 1);
  EXPECT_EQ(c.interrupts, 1u);
  c.Step();
  EXPECT_EQ(c.pc, 0x102);
  EXPECT_EQ(c.InService(), 0);
}

TEST(Cpu8051Interrupt, HighPriorityFirstAndNesting) {
  Cpu c;
  c.Load({0x00, 0x00, 0x32}, 0x000B);  // timer 0 (low): NOP NOP RETI
  c.Load({0x00, 0x32}, 0x0013);        // INT1 (high): NOP RETI
  c.WriteSfr(sfr::IP, 0x04);           // PX1
  c.WriteSfr(sfr::IE, 0x86);           // EA, EX1, ET0
  c.WriteSfr(sfr::TCON, TF0 | IE1 | IT1);
  c.pc = 0x200;
  c.Step();  // flags latched at the end of this instruction
  c.Step();
  EXPECT_EQ(c.pc, 0x0013);  // high level wins although TF0 is first in polling order
  EXPECT_EQ(c.InService(), 2);
  c.Step();  // the low request cannot interrupt a high-level handler
  EXPECT_EQ(c.pc, 0x0014);
  c.Step();  // RETI
  EXPECT_EQ(c.pc, 0x201);
  c.Step();  // one instruction runs after RETI
  EXPECT_EQ(c.pc, 0x202);
  c.Step();
  EXPECT_EQ(c.pc, 0x000B);
  EXPECT_EQ(c.InService(), 1);
  // A high request interrupts the low-level handler; another low one does not.
  c.WriteSfr(sfr::TCON, IE1 | IT1 | TF0);
  c.Steps(2);
  EXPECT_EQ(c.pc, 0x0013);
  EXPECT_EQ(c.InService(), 3);
  c.Steps(2);  // NOP, RETI back into the low handler
  EXPECT_EQ(c.InService(), 1);
  EXPECT_EQ(c.pc, 0x000C);
  c.Steps(2);  // NOP, RETI; TF0 is pending again but waits one instruction
  EXPECT_EQ(c.InService(), 0);
  EXPECT_EQ(c.pc, 0x202);
  c.Step();
  EXPECT_EQ(c.pc, 0x203);
  c.Step();
  EXPECT_EQ(c.pc, 0x000B);
}

TEST(Cpu8051Interrupt, EaAndIndividualEnablesMask) {
  Cpu c;
  c.WriteSfr(sfr::TCON, TF0 | TF1 | IE1 | IT1 | IT0 | IE0);
  c.WriteSfr(sfr::SCON, 0x03);
  c.WriteSfr(sfr::IE, 0x1F);  // all sources, EA off
  c.Steps(4);
  EXPECT_EQ(c.pc, 4);
  c.WriteSfr(sfr::IE, 0x90);  // only the serial port
  c.Steps(2);
  EXPECT_EQ(c.pc, 0x0023);
}

TEST(Cpu8051Interrupt, ExternalLevelAndEdge) {
  Cpu c;
  c.Load({0x32}, 0x0003);
  c.WriteSfr(sfr::IE, 0x81);
  c.portPins[3] = 0xFB;  // INT0 held low, level-triggered
  c.PinsChanged();
  EXPECT_TRUE(c.Sfr(sfr::TCON) & IE0);
  c.Steps(2);
  EXPECT_EQ(c.pc, 0x0003);
  EXPECT_TRUE(c.Sfr(sfr::TCON) & IE0);  // follows the pin, not cleared by vectoring
  c.portPins[3] = 0xFF;
  c.PinsChanged();
  EXPECT_FALSE(c.Sfr(sfr::TCON) & IE0);
  // Edge mode: a falling edge latches IE0, vectoring clears it.
  c.Step();
  c.WriteSfr(sfr::TCON, IT0);
  c.portPins[3] = 0xFB;
  c.PinsChanged();
  c.portPins[3] = 0xFF;
  c.PinsChanged();
  EXPECT_TRUE(c.Sfr(sfr::TCON) & IE0);
  c.Steps(2);
  EXPECT_EQ(c.pc, 0x0003);
  EXPECT_FALSE(c.Sfr(sfr::TCON) & IE0);
  // Writing P3.2 low from software drives the pin too.
  c.Step();
  c.Load({0xC2, 0xB2}, c.pc);  // CLR P3.2
  c.Step();
  EXPECT_TRUE(c.Sfr(sfr::TCON) & IE0);
}

TEST(Cpu8051Interrupt, IdleUntilInterrupt) {
  Cpu c;
  c.Load({0x75, 0x87, 0x01, 0x04});  // MOV PCON,#1 ; INC A
  c.Load({0x32}, 0x000B);
  c.WriteSfr(sfr::TMOD, 0x02);
  c.WriteSfr(sfr::TH0, 0x00);
  c.WriteSfr(sfr::TL0, 0xF0);
  c.WriteSfr(sfr::IE, 0x82);
  c.WriteSfr(sfr::TCON, TR0);
  c.Step();
  const std::uint64_t before = c.instructions;
  c.Steps(10);
  EXPECT_EQ(c.pc, 3);  // idle: no instructions, timers run
  EXPECT_EQ(c.instructions, before);
  c.Steps(10);
  EXPECT_EQ(c.Sfr(sfr::PCON) & 1, 0);
  EXPECT_GE(c.interrupts, 1u);
  c.Steps(3);
  EXPECT_EQ(c.A(), 1);  // resumed after the instruction that entered idle
}

}  // namespace
}  // namespace kzemu::test
