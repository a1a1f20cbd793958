// Registers, the monitor's save area, step, run, stop and the faults.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "emu/firmware/FirmwareTestUtil.h"

namespace kzemu::test {
namespace {

// The register layouts of commands 79 and 80 per pod, by name; "PCL"/"PCH"
// are the program counter bytes, "-" a trailing byte of 79 only.
const std::map<int, std::vector<std::string>> kLayouts = {
    {1, {"ACC", "PSW", "DPH", "DPL", "PCL", "PCH", "R0", "A2"}},
    {2, {"ACC", "PSW", "DPH", "DPL", "PCL", "PCH", "R0", "B", "IE"}},
    {3, {"ACC", "PSW", "A2", "DPH", "DPL", "PCL", "PCH", "R0", "TCON", "T2CON", "B", "IE"}},
    {4, {"ACC", "PSW", "DPH", "DPL", "PCL", "PCH", "R0", "B", "IE"}},
    {5, {"ACC", "PSW", "DPH", "DPL", "PCL", "PCH", "R0", "B", "IE"}},
    {6, {"ACC", "PSW", "DPH", "DPL", "PCL", "PCH", "R0", "B", "IE"}},
    {7, {"ACC", "PSW", "DPH", "DPL", "PCL", "PCH", "R0", "B", "IE"}},
    {8, {"ACC", "PSW", "PCH", "PCL", "SP", "DPH", "DPL", "R0", "R1", "R2", "R3"}},
    {9,
     {"ACC", "PSW", "TCON", "PCH", "PCL", "SP", "DPH", "DPL", "R0", "R1", "R2", "R3", "R4", "R5"}},
};

const std::map<std::string, std::uint8_t> kAddress = {
    {"ACC", 0xE0},  {"PSW", 0xD0},   {"DPH", 0x83}, {"DPL", 0x82}, {"R0", 0x00}, {"R1", 0x01},
    {"R2", 0x02},   {"R3", 0x03},    {"R4", 0x04},  {"R5", 0x05},  {"B", 0xF0},  {"IE", 0xA8},
    {"TCON", 0x88}, {"T2CON", 0xC8}, {"SP", 0x81},  {"A2", 0xA2}};

// User values that cannot start anything by themselves (no interrupt enable,
// no timer overflow pending); the PSW keeps register bank 0.
const std::map<std::string, std::uint8_t> kValues = {
    {"ACC", 0x3C},  {"PSW", 0x40},   {"DPH", 0x12}, {"DPL", 0x34}, {"R0", 0x55}, {"R1", 0x66},
    {"R2", 0x77},   {"R3", 0x88},    {"R4", 0x99},  {"R5", 0xAA},  {"B", 0x5B},  {"IE", 0x05},
    {"TCON", 0x55}, {"T2CON", 0x04}, {"SP", 0x50},  {"A2", 0x21}};

Packet WriteRegs(const std::vector<std::string>& layout, std::uint16_t pc) {
  Packet p = Cmd({80});
  for (std::size_t i = 0; i < layout.size(); ++i) {
    const std::string& n = layout[i];
    p[1 + i] = n == "PCL"   ? static_cast<std::uint8_t>(pc)
               : n == "PCH" ? static_cast<std::uint8_t>(pc >> 8)
                            : kValues.at(n);
  }
  return p;
}

std::uint8_t Expected(int pod, const std::string& n) {
  // Pod 3 carries only the timer run bits of TCON and T2CON.
  if (pod == 3 && n == "TCON") return kValues.at(n) & 0x50;
  if (pod == 3 && n == "T2CON") return kValues.at(n) & 0x04;
  return kValues.at(n);
}

TEST(FirmwareRegisters, RoundTripAndMonitorClobberingForEveryPodLayout) {
  for (const auto& [pod, layout] : kLayouts) {
    SCOPED_TRACE("pod " + std::to_string(pod));
    FirmwareConfig cfg;
    cfg.pod = pod;
    Firmware fw(cfg);
    // A program that copies each register into 30h.. (MOV direct,direct).
    std::vector<std::string> regs;
    for (const auto& n : layout)
      if (n != "PCL" && n != "PCH") regs.push_back(n);
    const std::uint16_t start = 0x0200;
    for (std::size_t i = 0; i < regs.size(); ++i) {
      fw.Cpu().code[start + 3 * i] = 0x85;
      fw.Cpu().code[start + 3 * i + 1] = kAddress.at(regs[i]);
      fw.Cpu().code[start + 3 * i + 2] = static_cast<std::uint8_t>(0x30 + i);
    }
    Send(fw, WriteRegs(layout, start));
    // Read back: every byte where the layout puts it.
    Packet r = Send(fw, Cmd({79}));
    for (std::size_t i = 0; i < layout.size(); ++i) {
      const std::string& n = layout[i];
      if (n == "PCL")
        EXPECT_EQ(r[i], start & 0xFF);
      else if (n == "PCH")
        EXPECT_EQ(r[i], start >> 8);
      else if (n == "PSW")
        EXPECT_EQ(r[i] & 0xFE, Expected(pod, n));
      else
        EXPECT_EQ(r[i], Expected(pod, n)) << n;
    }
    for (std::size_t i = 0; i < regs.size(); ++i) Send(fw, Cmd({77}));
    // While running, the chip held the user's values.
    const auto copied = ReadBlock(fw, 74, 0x30, static_cast<std::uint8_t>(regs.size()));
    for (std::size_t i = 0; i < regs.size(); ++i) {
      const std::uint8_t mask = regs[i] == "PSW" ? 0xFE : 0xFF;
      EXPECT_EQ(copied[i] & mask, Expected(pod, regs[i])) << regs[i];
    }
    r = Send(fw, Cmd({79}));
    std::uint16_t pc = 0;
    for (std::size_t i = 0; i < layout.size(); ++i) {
      if (layout[i] == "PCL") pc = static_cast<std::uint16_t>(pc | r[i]);
      if (layout[i] == "PCH") pc = static_cast<std::uint16_t>(pc | r[i] << 8);
    }
    EXPECT_EQ(pc, start + 3 * regs.size());
    // While stopped the monitor uses the shadowed registers: their chip
    // values are not the user's.
    for (std::uint8_t a : Firmware::ShadowedAddresses(pod)) {
      const std::uint8_t chip = ReadBlock(fw, a < 0x80 ? 74 : 75, a, 1)[0];
      EXPECT_NE(chip, fw.UserRegister(a)) << std::hex << int(a);
    }
  }
}

TEST(FirmwareRegisters, PodsWithoutLayoutSendNothingAndKeepTheChip) {
  FirmwareConfig cfg;
  cfg.pod = 10;
  Firmware fw(cfg);
  WriteBlock(fw, 69, 0xE0, {0x42});
  EXPECT_EQ(Send(fw, Cmd({79})), Packet{});
  EXPECT_EQ(ReadBlock(fw, 75, 0xE0, 1)[0], 0x42);
}

// 0000: INC 30h; MOV A,30h; CJNE A,#40h,0000; 0007: SJMP $
const std::vector<std::uint8_t> kCountTo40 = {0x05, 0x30, 0xE5, 0x30, 0xB4, 0x40, 0xF9, 0x80, 0xFE};

Firmware& Load(Firmware& fw, const std::vector<std::uint8_t>& prog) {
  std::copy(prog.begin(), prog.end(), fw.Cpu().code.begin());
  return fw;
}

std::uint16_t PcOf(Firmware& fw) {
  const Packet r = Send(fw, Cmd({79}));
  if (fw.Pod() == 8) return static_cast<std::uint16_t>(r[2] << 8 | r[3]);
  if (fw.Pod() == 9) return static_cast<std::uint16_t>(r[3] << 8 | r[4]);
  return static_cast<std::uint16_t>(r[4] | r[5] << 8);  // pods 1, 2, 4..7
}

TEST(FirmwareRun, RunsToABreakpointAdvancingABudgetPerStatusRead) {
  for (int pod : {1, 2, 8, 9}) {
    SCOPED_TRACE("pod " + std::to_string(pod));
    FirmwareConfig cfg;
    cfg.pod = pod;
    cfg.budget = 10;
    Firmware fw(cfg);
    Load(fw, kCountTo40);
    SetBreakpoint(fw, 0x0007, 4);
    Send(fw, Cmd({78}));
    int polls = 0;
    for (;;) {
      const std::uint64_t before = fw.Cpu().instructions;
      const std::uint16_t s0 = Le16(Status(fw), 0);
      const std::uint64_t made = fw.Cpu().instructions - before;
      ++polls;
      if (s0 == 0x0008) {
        EXPECT_LE(made, 10u);
        break;
      }
      ASSERT_EQ(s0, 0x0001);
      ASSERT_EQ(made, 10u);  // exactly the budget per status read while running
      ASSERT_LT(polls, 1000);
    }
    EXPECT_GT(polls, 15);
    EXPECT_GT(fw.Cpu().instructions, 190u);  // 64 loops of 3 instructions
    EXPECT_EQ(ReadBlock(fw, 74, 0x30, 1)[0], 0x40);
    // Pods 8 and 9 stop one byte past the breakpoint address.
    EXPECT_EQ(PcOf(fw), pod == 8 || pod == 9 ? 0x0008 : 0x0007);
  }
}

TEST(FirmwareRun, StatusWhileExecutingAndStopRequest) {
  FirmwareConfig cfg;
  cfg.budget = 100;
  Firmware fw(cfg);
  Load(fw, kCountTo40);
  SetBreakpoint(fw, 0x0100, 4);  // never reached
  Send(fw, Cmd({78}));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Le16(Status(fw), 0), 0x0001);
  EXPECT_TRUE(fw.Executing());
  WriteWords(fw, 0, 0x0010, 0, 0);
  EXPECT_EQ(Le16(Status(fw), 0), 0x0008);
  EXPECT_EQ(PcOf(fw), 0x0007);  // the loop ended in SJMP $
  // Step executes exactly one instruction from the saved PC.
  Send(fw, Cmd({77}));
  EXPECT_EQ(PcOf(fw), 0x0007);
  Send(fw, WriteRegs(kLayouts.at(1), 0x0000));
  Send(fw, Cmd({77}));
  EXPECT_EQ(PcOf(fw), 0x0002);
  EXPECT_EQ(Le16(Status(fw), 0), 0x0008);
}

// The limit counts from when it is armed; the run stops at the first
// instruction boundary at or past it, as a stop request would stop it, and
// the limit is then spent.
TEST(FirmwareRun, ACycleLimitStopsTheRunningTargetOnce) {
  FirmwareConfig cfg;
  cfg.budget = 1000;
  Firmware fw(cfg);
  Load(fw, kCountTo40);
  SetBreakpoint(fw, 0x0100, 4);  // never reached
  const std::uint64_t start = fw.Cpu().cycles;
  fw.SetCycleLimit(50);
  Send(fw, Cmd({78}));
  EXPECT_EQ(Le16(Status(fw), 0), 0x0008);
  EXPECT_TRUE(fw.CycleLimitReached());
  EXPECT_GE(fw.Cpu().cycles - start, 50u);
  EXPECT_LT(fw.Cpu().cycles - start, 52u);  // the longest instruction here takes 2
  Send(fw, Cmd({78}));
  EXPECT_EQ(Le16(Status(fw), 0), 0x0001);
  fw.SetCycleLimit(0);
  EXPECT_FALSE(fw.CycleLimitReached());
}

// The user's value of a register: from the monitor's save area (command 79)
// where the pod's monitor owns it, else from the chip.
std::uint8_t UserValue(Firmware& fw, const std::string& name) {
  const auto& layout = kLayouts.at(fw.Pod());
  const Packet r = Send(fw, Cmd({79}));
  for (std::size_t i = 0; i < layout.size(); ++i)
    if (layout[i] == name) return r[i];
  return fw.Cpu().ReadSfr(kAddress.at(name));
}

TEST(FirmwareRun, ClockClassResetsTheChipButKeepsInternalRam) {
  for (int pod : {1, 2, 8, 9}) {
    SCOPED_TRACE("pod " + std::to_string(pod));
    FirmwareConfig cfg;
    cfg.pod = pod;
    Firmware fw(cfg);
    // 0000: MOV SP,#30h; MOV A,#5Ah; MOV 40h,A; SJMP $
    Load(fw, {0x75, 0x81, 0x30, 0x74, 0x5A, 0xF5, 0x40, 0x80, 0xFE});
    for (int i = 0; i < 3; ++i) Send(fw, Cmd({77}));
    ASSERT_EQ(PcOf(fw), 0x0007);
    ASSERT_EQ(UserValue(fw, "SP"), 0x30);
    Send(fw, Cmd({81, 1, 2}));
    EXPECT_EQ(PcOf(fw), 0x0000);
    EXPECT_EQ(UserValue(fw, "SP"), 0x07);
    EXPECT_EQ(UserValue(fw, "ACC"), 0x00);
    EXPECT_EQ(fw.Cpu().iram[0x40], 0x5A);
    // The next step runs the program from its start with the reset values.
    Send(fw, Cmd({77}));
    EXPECT_EQ(PcOf(fw), 0x0003);
    EXPECT_EQ(UserValue(fw, "SP"), 0x30);
  }
}

TEST(FirmwareRun, BreakpointAtTheStartAddressStopsAtOnce) {
  Firmware fw;
  Load(fw, kCountTo40);
  SetBreakpoint(fw, 0x0000, 4);
  Send(fw, Cmd({78}));
  EXPECT_EQ(Le16(Status(fw), 0), 0x0008);
  EXPECT_EQ(fw.Cpu().instructions, 0u);
}

TEST(FirmwareRun, SerialOutputGoesToTheConfiguredFile) {
  const std::string path = ::testing::TempDir() + "kz51emu_serial.txt";
  std::remove(path.c_str());
  {
    FirmwareConfig cfg;
    cfg.serialOut = path;
    Firmware fw(cfg);
    // MOV SCON,#40h (mode 1); MOV TMOD,#20h; MOV TH1,#FFh; SETB TR1;
    // MOV SBUF,#'K'; JNB TI,$; SJMP $
    Load(fw, {0x75, 0x98, 0x40, 0x75, 0x89, 0x20, 0x75, 0x8D, 0xFF, 0xD2, 0x8E, 0x75, 0x99, 'K',
              0x30, 0x99, 0xFD, 0x80, 0xFE});
    SetBreakpoint(fw, 0x0011, 4);
    Send(fw, Cmd({78}));
    for (int i = 0; i < 100 && Le16(Status(fw), 0) != 0x0008; ++i) {
    }
    EXPECT_FALSE(fw.Executing());
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fgetc(f), 'K');
  std::fclose(f);
}

// --------------------------------------------------------------- faults --

TEST(FirmwareFaults, EachFaultShowsItself) {
  Packet rep{};
  {
    Firmware fw(Cfg("fault=silent"));
    EXPECT_FALSE(fw.Serve(Cmd({1}), rep));
    EXPECT_FALSE(fw.Serve(Cmd({10}), rep));
  }
  {
    Firmware fw(Cfg("fault=garbage"));
    int differs = 0;
    for (int i = 0; i < 200; ++i) {
      ASSERT_TRUE(fw.Serve(Cmd({1}), rep));
      EXPECT_FALSE(rep[0] == 'V' && rep[1] == '1');
      ASSERT_TRUE(fw.Serve(Cmd({4}), rep));
      differs += rep != Packet{};
    }
    EXPECT_GT(differs, 190);
  }
  {
    Firmware fw(Cfg("fault=wrongid"));
    ASSERT_TRUE(fw.Serve(Cmd({1}), rep));
    EXPECT_FALSE(rep[0] == 'V' && rep[1] == '1');
    ASSERT_TRUE(fw.Serve(Cmd({10}), rep));
    EXPECT_EQ(Le16(rep, 0), 0x0008);  // everything else answers normally
  }
  {
    Firmware fw(Cfg("fault=disconnect,after=3"));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(fw.Serve(Cmd({1}), rep));
    EXPECT_FALSE(fw.Unplugged());
    EXPECT_FALSE(fw.Serve(Cmd({1}), rep));
    EXPECT_TRUE(fw.Unplugged());
    EXPECT_FALSE(fw.Serve(Cmd({1}), rep));
  }
  {
    Firmware fw(Cfg("fault=neverstop"));
    Load(fw, kCountTo40);
    Send(fw, Cmd({78}));
    WriteWords(fw, 0, 0x0010, 0, 0);
    EXPECT_EQ(Le16(Status(fw), 0), 0x0001);
    SetBreakpoint(fw, 0x0007, 4);  // a breakpoint still stops it
    for (int i = 0; i < 10 && fw.Executing(); ++i) Status(fw);
    EXPECT_FALSE(fw.Executing());
  }
  {
    Firmware slow(Cfg("fault=slow,delay=25"));
    EXPECT_EQ(slow.ReplyDelayMs(), 25u);
    Firmware healthy(Cfg("delay=25"));
    EXPECT_EQ(healthy.ReplyDelayMs(), 0u);
  }
}

}  // namespace
}  // namespace kzemu::test
