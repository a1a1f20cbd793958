#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>

#include "link/TargetPrep.h"
#include "unit/link/ConnRig.h"

namespace kz {
namespace {

using test::ConnRig;
using test::RecordedProgress;
using test::U16;

struct PrepRig : ConnRig {
  ClockCacheRecord clock{};
  CpuDetails details;
  RecordedProgress progress;
  MemoryTransfers mt{cmd, state, config, progress};
  TargetPrep prep{cmd, state, config, clock, details, mt};
  // What the emulator reports for command 10: status 0, status 1, W0..W3.
  std::array<std::uint16_t, 6> status{};

  explicit PrepRig(int pod) : ConnRig(pod) {
    emu.respond = [this](const fake::Packet& c, fake::Packet& rep) {
      if (c[0] != 10) return false;
      for (int i = 0; i < 6; ++i) {
        rep[2 * i] = static_cast<std::uint8_t>(status[i]);
        rep[2 * i + 1] = static_cast<std::uint8_t>(status[i] >> 8);
      }
      return true;
    };
  }
  // The words of the last configuration write.
  std::array<std::uint16_t, 4> LastWords() const {
    const auto writes = Sent(9);
    std::array<std::uint16_t, 4> w{};
    if (writes.empty()) return w;
    for (int i = 0; i < 4; ++i) w[i] = U16(writes.back(), 1 + 2 * i);
    return w;
  }
};

TEST(TargetPrepClock, ClassAndFactorFollowTheStrictBounds) {
  const std::pair<std::int32_t, std::array<int, 2>> cases[] = {
      {50'000'001, {1, 1}}, {50'000'000, {1, 2}}, {10'000'001, {1, 2}}, {10'000'000, {2, 5}},
      {1'000'001, {2, 5}},  {1'000'000, {3, 10}}, {100'000, {4, 30}},   {10'001, {4, 30}},
      {10'000, {5, 40}},    {0, {5, 40}},
  };
  for (const auto& [hz, expected] : cases) {
    PrepRig r(2);
    r.config.CrystalHz = hz;
    r.prep.PrepareTarget();
    const auto sent = r.Sent(81);
    ASSERT_EQ(sent.size(), 1u) << hz;
    EXPECT_EQ(sent[0][1], expected[0]) << hz;
    EXPECT_EQ(sent[0][2], expected[1]) << hz;
  }
}

TEST(TargetPrepCompose, Pod1CorrectsOutOfRangeSettingsToZero) {
  PrepRig r(1);
  r.status[3] = 0x4000;  // the emulator holds W1 bit 14 set
  r.config.WatchdogMode = 7;
  r.config.XdataOnEmulator = 3;
  r.config.TargetResetMode = 9;
  r.config.EmulatorResetMode = 2;
  r.prep.ComposeConfiguration();
  EXPECT_EQ(r.config.WatchdogMode, 0);
  EXPECT_EQ(r.config.XdataOnEmulator, 0);
  EXPECT_EQ(r.config.TargetResetMode, 0);
  EXPECT_EQ(r.config.EmulatorResetMode, 0);
  const auto w = r.LastWords();
  EXPECT_EQ(w[1] & 0x4000, 0);
  EXPECT_EQ(w[0] & 0x0100, 0x0100);  // bit 8 always
  EXPECT_EQ(w[0] & 0x0200, 0x0200);  // xdata not on the emulator
  EXPECT_EQ(w[0] & 0x00C0, 0);
}

TEST(TargetPrepCompose, Pod1MapsEverySettingToItsBit) {
  PrepRig r(1);
  r.status[2] = 0x0200;  // W0 bit 9 set by the emulator
  r.status[5] = 0x8000;  // a W3 bit the driver does not own
  r.config.WatchdogMode = 2;
  r.config.XdataOnEmulator = 1;
  r.config.TargetResetMode = 2;
  r.config.EmulatorResetMode = 1;
  r.config.SixClockMode = 1;
  r.config.Xtal2Clock = 1;
  r.config.MonitorPeripheralMask = 0x09;  // bits 0 and 3 -> W1 bits 5 and 9
  r.details.DetailWord[3] = 0x05;         // -> W1 bits 11 and 13
  r.clock.Setting2.Prescale = 1;          // six-clock mode takes setting 2
  r.prep.ComposeConfiguration();
  const auto w = r.LastWords();
  EXPECT_EQ(w[0], 0x0100 | 0x0080 | 0x0040);
  EXPECT_EQ(w[1], 0x4000 | 0x0020 | 0x0200 | 0x0800 | 0x2000);
  EXPECT_EQ(w[3], 0x8000 | 0x0001 | 0x0002 | 0x0004 | 0x0020 | 0x0040);
}

TEST(TargetPrepCompose, GroupAPicksThePrescaleFlagByCpuType) {
  PrepRig r(5);
  r.clock.Setting1.Prescale = 1;
  r.clock.CpuTypeCode = 6;
  r.prep.ComposeConfiguration();
  EXPECT_EQ(r.LastWords()[3] & 0x0004, 0x0004);
  r.clock.CpuTypeCode = 3;  // now setting 2, whose flag is 0
  r.prep.ComposeConfiguration();
  EXPECT_EQ(r.LastWords()[3] & 0x0004, 0);
}

TEST(TargetPrepCompose, SixClockModeSetsTheBitOfEachPodGroup) {
  // Group A carries the six-clock mode in W0 bit 9; pods 4, 8 and 9 in W3
  // bit 6 (pod 1 has its own W0 bit 9 meaning).
  struct Case {
    int pod;
    int word;
    int bit;
  };
  const Case cases[] = {{2, 0, 9}, {3, 0, 9}, {5, 0, 9}, {6, 0, 9},
                        {7, 0, 9}, {4, 3, 6}, {8, 3, 6}, {9, 3, 6}};
  for (const Case& c : cases) {
    for (std::uint8_t six : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "pod " << c.pod << " six " << int{six});
      PrepRig r(c.pod);
      r.status[2 + c.word] = six ? 0 : static_cast<std::uint16_t>(1u << c.bit);
      r.config.SixClockMode = six;
      r.prep.ComposeConfiguration();
      EXPECT_EQ((r.LastWords()[static_cast<std::size_t>(c.word)] >> c.bit) & 1u, six);
    }
  }
}

TEST(TargetPrepCompose, Pod4SetsControlBit3First) {
  PrepRig r(4);
  r.prep.ComposeConfiguration();
  const auto codes = r.Codes();
  ASSERT_EQ(codes, (std::vector<std::uint8_t>{10, 15, 15, 9}));
  const auto control = r.Sent(15);
  EXPECT_EQ(control[0][1], 5);
  EXPECT_EQ(control[1][1], 2);
  EXPECT_EQ(control[1][2] & 0x08, 0x08);
}

TEST(TargetPrepPrepare, Pod9WritesOptionBytesAndResetBits) {
  PrepRig r(9);
  r.config.CpuOptionBytes[0] = 0xA1;
  r.config.CpuOptionBytes[1] = 0xB2;
  r.config.CpuOptionBytes[16] = 0x40;
  r.status[2] = 0x0040;  // W0 bit 6 set in the emulator: cleared by the option byte
  r.prep.PrepareTarget();
  EXPECT_EQ(r.Codes(), (std::vector<std::uint8_t>{10, 9, 81, 10, 9, 83, 84, 84, 81, 10, 9, 83}));
  const auto options = r.Sent(84);
  EXPECT_EQ(options[0][1], 0);
  EXPECT_EQ(options[0][2], 0xA1);
  EXPECT_EQ(options[1][1], 1);
  EXPECT_EQ(options[1][2], 0xB2);
  EXPECT_EQ(r.LastWords()[0] & 0x00C0, 0x0080);
}

TEST(TargetPrepPrepare, Pod8SendsOptionBytesAsXdataAndMirrorsThemInCode) {
  PrepRig r(8);
  r.config.CpuOptionBytes[0] = 0x11;
  r.config.CpuOptionBytes[1] = 0x22;
  r.details.DetailWord[3] = 0x1233;
  r.prep.PrepareTarget();
  const auto xdata = r.Sent(66);
  ASSERT_EQ(xdata.size(), 1u);
  EXPECT_EQ(xdata[0][1], 3);
  EXPECT_EQ(U16(xdata[0], 2), 0xFD00);
  EXPECT_EQ(xdata[0][8], 0x11);
  EXPECT_EQ(xdata[0][9], 0x22);
  EXPECT_EQ(xdata[0][10], 0x33);
  EXPECT_EQ(r.state.codeImage[0xFD02], 0x33);
  EXPECT_TRUE(r.Sent(65).empty());
}

TEST(TargetPrepPrepare, Pod4WritesSevenToFFhThenFEh) {
  PrepRig r(4);
  r.prep.PrepareTarget();
  const auto writes = r.Sent(69);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(U16(writes[0], 2), 0xFF);
  EXPECT_EQ(U16(writes[1], 2), 0xFE);
  EXPECT_EQ(writes[0][8], 7);
  EXPECT_EQ(writes[1][8], 7);
}

TEST(TargetPrepMap, Pod1SwapsAReversedRangeAndStoresItBack) {
  PrepRig r(1);
  r.details.CodeRange() = {0x8000, 0x1000};
  r.prep.InitialiseMemoryMap();
  EXPECT_EQ(r.details.CodeRange()[0], 0x1000u);
  EXPECT_EQ(r.details.CodeRange()[1], 0x8000u);
  EXPECT_EQ(r.state.memoryMap[0x0FFF], 2);
  EXPECT_EQ(r.state.memoryMap[0x1000], 0);
  EXPECT_EQ(r.state.memoryMap[0x8000], 0);
  EXPECT_EQ(r.state.memoryMap[0x8001], 2);
  EXPECT_EQ(std::count(r.state.memoryMap.begin(), r.state.memoryMap.end(), 0), 0x7001);
}

TEST(TargetPrepMap, Pod1RangeComparedSignedAndTakenModulo64K) {
  PrepRig r(1);
  // Signed: FFFFFFFFh is -1, below 10h, so no swap happens.
  r.details.CodeRange() = {0xFFFFFFFF, 0x10};
  r.prep.InitialiseMemoryMap();
  EXPECT_EQ(r.details.CodeRange()[0], 0xFFFFFFFFu);
  // FFFFh..10h modulo 64K: the end lies below the start, nothing is cleared.
  EXPECT_EQ(std::count(r.state.memoryMap.begin(), r.state.memoryMap.end(), 2), 0x10000);

  r.details.CodeRange() = {0x10000, 0x100FF};
  r.prep.InitialiseMemoryMap();
  EXPECT_EQ(r.state.memoryMap[0x00], 0);
  EXPECT_EQ(r.state.memoryMap[0xFF], 0);
  EXPECT_EQ(r.state.memoryMap[0x100], 2);
}

TEST(TargetPrepMap, ZeroRangeLeavesEverything2AndOtherPodsGet0) {
  PrepRig r(1);
  r.details.CodeRange() = {0, 0};
  r.prep.InitialiseMemoryMap();
  EXPECT_EQ(std::count(r.state.memoryMap.begin(), r.state.memoryMap.end(), 2), 0x10000);

  PrepRig other(2);
  std::fill(other.state.memoryMap.begin(), other.state.memoryMap.end(), 9);
  other.prep.InitialiseMemoryMap();
  EXPECT_EQ(std::count(other.state.memoryMap.begin(), other.state.memoryMap.end(), 0), 0x10000);
}

TEST(TargetPrepMap, UploadSendsRunsIn4096BytePieces) {
  PrepRig r(1);
  std::fill(r.state.memoryMap.begin(), r.state.memoryMap.end(), 2);
  std::fill(r.state.memoryMap.begin() + 0x1000, r.state.memoryMap.begin() + 0x8001, 0);
  r.prep.UploadMemoryMap();
  const auto sent = r.Sent(76);
  ASSERT_EQ(sent.size(), 17u);
  EXPECT_EQ(U16(sent[0], 2), 0x0000);
  EXPECT_EQ(U16(sent[0], 4), 0x1000);
  EXPECT_EQ(sent[0][1], 0x00);  // low byte of the count
  EXPECT_EQ(sent[0][6], 2);
  for (int i = 1; i <= 7; ++i) {
    EXPECT_EQ(U16(sent[i], 2), 0x1000 * i) << i;
    EXPECT_EQ(U16(sent[i], 4), 0x1000) << i;
    EXPECT_EQ(sent[i][6], 0) << i;
  }
  EXPECT_EQ(U16(sent[8], 2), 0x8000);
  EXPECT_EQ(U16(sent[8], 4), 1);
  EXPECT_EQ(sent[8][1], 1);
  EXPECT_EQ(U16(sent[9], 2), 0x8001);
  EXPECT_EQ(sent[9][6], 2);
  EXPECT_EQ(U16(sent[16], 2), 0xF001);
  EXPECT_EQ(U16(sent[16], 4), 0x0FFF);

  PrepRig zeros(2);
  zeros.prep.UploadMemoryMap();
  EXPECT_EQ(zeros.Sent(76).size(), 16u);

  PrepRig running(2);
  running.state.executing = true;
  running.prep.UploadMemoryMap();
  EXPECT_TRUE(running.Sent(76).empty());
}

TEST(TargetPrepRunIndicator, SetOnlyWhenStoppedAndPodConfigured) {
  struct Case {
    std::uint16_t status0;
    bool configured;
    bool lit;
  };
  for (const Case c :
       {Case{0x0009, true, false}, Case{0x0008, true, true}, Case{0x0008, false, false}}) {
    PrepRig r(2);
    r.status[0] = c.status0;
    r.state.podConfigured = c.configured;
    r.emu.defaultReply = fake::MakePacket({0x04});  // control byte read back with bit 2 set
    r.prep.UpdateRunIndicator();
    const auto control = r.Sent(15);
    ASSERT_EQ(control.size(), 2u);
    EXPECT_EQ(control[1][1], 2);
    EXPECT_EQ((control[1][2] & 0x04) != 0, c.lit) << std::hex << c.status0;
  }
}

TEST(TargetPrepRunIndicator, ClearAndStopRequest) {
  PrepRig r(2);
  r.emu.defaultReply = fake::MakePacket({0x0C});
  r.prep.ClearRunIndicator();
  EXPECT_EQ(r.Sent(15).back()[2], 0x08);
  r.prep.RequestStop();
  EXPECT_EQ(r.LastWords()[1] & 0x0010, 0x0010);
}

TEST(TargetPrepReset, ReadsRegistersAndZeroesThePc) {
  PrepRig r(2);
  // The register read reports PC 1234h (pod 2: PC low, PC high in bytes 4, 5),
  // so only the reset's own zeroing leaves the PC at 0.
  auto status = r.emu.respond;
  r.emu.respond = [status](const fake::Packet& c, fake::Packet& rep) {
    if (c[0] != 79) return status(c, rep);
    rep = fake::MakePacket({0, 0, 0, 0, 0x34, 0x12});
    return true;
  };
  r.state.pcShadow = 0x5678;
  r.prep.ResetTarget();
  EXPECT_EQ(r.Codes().back(), 79);
  EXPECT_EQ(r.Sent(79).size(), 1u);
  EXPECT_EQ(r.state.pcShadow, 0u);
}

TEST(TargetPrepFailed, EveryOperationReturnsAtOnce) {
  PrepRig r(1);
  r.link.Fail(kErrorUsb);
  r.config.WatchdogMode = 7;
  r.prep.PrepareTarget();
  r.prep.UploadMemoryMap();
  r.prep.UpdateRunIndicator();
  r.prep.RequestStop();
  EXPECT_TRUE(r.emu.Sent().empty());
  EXPECT_EQ(r.config.WatchdogMode, 7);
}

}  // namespace
}  // namespace kz
