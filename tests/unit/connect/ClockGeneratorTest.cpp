// Clock cache, clock generator command and timing calibration against an
// emulator that echoes the configuration words and reports a status word 1
// computed from the timing fields of W1.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "config/ByteOrder.h"
#include "connect/CY22393.h"
#include "fakes/FakeUi.h"
#include "fakes/FakeUsbPipes.h"
#include "unit/link/ConnRig.h"

namespace kz {
namespace {

constexpr std::uint16_t kPassBits = 0x0580;  // bits 7, 8 and 10

struct Timing {
  int a, b, c, x;
};

struct ClockRig : test::ConnRig {
  fake::FakeUi ui;  // records every redraw of the progress window
  TProgForm progress{ui};
  ClockCacheRecord cache{};
  int prepares = 0;
  ClockGenerator clock{config, cache, cmd, state, progress, [this] { ++prepares; }};
  std::array<std::uint16_t, 4> emuW{};
  // Status word 1 the emulator reports for the timing fields last written.
  std::function<std::uint16_t(const Timing&)> status1 = [](const Timing&) { return 0; };

  explicit ClockRig(int pod, std::int32_t crystal = 12000000) : ConnRig(pod) {
    config.CrystalHz = crystal;
    emu.respond = [this](const fake::Packet& c, fake::Packet& r) {
      if (c[0] == 9)
        for (int i = 0; i < 4; ++i) emuW[i] = LoadLe<std::uint16_t>(&c[1 + 2 * i]);
      if (c[0] != 10) return false;
      const std::uint16_t w1 = emuW[1];
      const Timing t{w1 >> 5 & 3, w1 >> 7 & 1, w1 >> 8 & 31, w1 >> 13 & 1};
      r = {};
      StoreLe<std::uint16_t>(&r[0], 0x0008);
      StoreLe<std::uint16_t>(&r[2], status1(t));
      for (int i = 0; i < 4; ++i) StoreLe<std::uint16_t>(&r[4 + 2 * i], emuW[i]);
      return true;
    };
  }

  bool RecordMatchesCache() const {
    return std::memcmp(config.ClockCache, &cache, sizeof cache) == 0;
  }
  bool ChecksumStored() const {
    return clock.Checksum() == static_cast<std::uint32_t>(cache.Checksum);
  }
  // Counts the searches made: each starts the progress window with range 140.
  int ClockTitles() const {
    int n = 0;
    for (const auto& v : ui.progress)
      if (v.maximum == 140 && v.position == 0 && v.caption.rfind("Test Clock: ", 0) == 0) ++n;
    return n;
  }
};

std::uint16_t Status(int type, bool pass) {
  return static_cast<std::uint16_t>(type | (pass ? kPassBits : 0));
}

// ---- clock cache ---------------------------------------------------------

TEST(ClockCache, FrequencyCheckBounds) {
  EXPECT_FALSE(ClockGenerator::ClockFrequencyCheck(19999));
  EXPECT_TRUE(ClockGenerator::ClockFrequencyCheck(20000));
  EXPECT_TRUE(ClockGenerator::ClockFrequencyCheck(100000000));
  EXPECT_FALSE(ClockGenerator::ClockFrequencyCheck(100000001));
}

TEST(ClockCache, ChecksumSumsFieldsModulo32Bits) {
  ClockRig rig(2);
  rig.cache.CachedHz = 0x7FFFFFFF;
  rig.cache.AchievedHz1 = 0x7FFFFFFF;
  rig.cache.AchievedHz2 = -1;
  auto* bytes = reinterpret_cast<std::uint8_t*>(&rig.cache);
  for (int i = 12; i < 28; ++i) bytes[i] = 0xFF;
  rig.cache.Checksum = 0x12345678;  // not part of the sum
  EXPECT_EQ(rig.clock.Checksum(), 0x7FFFFFFFu + 0x7FFFFFFFu + 0xFFFFFFFFu + 16u * 0xFFu);
}

TEST(ClockCache, OutOfRangeCrystalIsReplacedAndBothSettingsSearched) {
  ClockRig rig(2, 19999);
  rig.cache.CalValid = 1;
  rig.clock.UpdateClockSettings();
  EXPECT_EQ(static_cast<std::int32_t>(rig.config.CrystalHz), 10000000);
  EXPECT_EQ(static_cast<std::int32_t>(rig.cache.CachedHz), 10000000);
  EXPECT_EQ(rig.cache.CalValid, 0);
  const PllResult s1 = PllSearch(10000000, 50, {});
  const PllResult s2 = PllSearch(20000000, 50, {});
  EXPECT_EQ(rig.cache.Setting1.PostDivider, s1.postDivider);
  EXPECT_EQ(rig.cache.Setting1.PllControl, s1.pllControl);
  EXPECT_EQ(static_cast<std::int32_t>(rig.cache.AchievedHz1), s1.achievedHz);
  EXPECT_EQ(rig.cache.Setting2.QRegister, s2.qRegister);
  EXPECT_EQ(rig.cache.Setting2.PLow, s2.pLow);
  EXPECT_EQ(static_cast<std::int32_t>(rig.cache.AchievedHz2), s2.achievedHz);
  EXPECT_TRUE(rig.ChecksumStored());
  EXPECT_TRUE(rig.RecordMatchesCache());
  ASSERT_FALSE(rig.ui.progress.empty());
  EXPECT_EQ(rig.ClockTitles(), 1);
  EXPECT_EQ(rig.ui.progress.front().caption, "Test Clock: 10000000");
  EXPECT_EQ(rig.ui.progress.back().caption, "");  // reset at the end
  EXPECT_EQ(rig.ui.progress.back().position, 0);
}

TEST(ClockCache, RangeLimitsStayUnchanged) {
  for (std::int32_t f : {20000, 100000000}) {
    ClockRig rig(2, f);
    rig.clock.UpdateClockSettings();
    EXPECT_EQ(static_cast<std::int32_t>(rig.config.CrystalHz), f);
    EXPECT_EQ(static_cast<std::int32_t>(rig.cache.CachedHz), f);
    EXPECT_EQ(rig.cache.Setting2.PostDivider, PllSearch(2 * f, 50, {}).postDivider);
  }
}

TEST(ClockCache, CurrentCacheIsNotSearchedAgain) {
  ClockRig rig(2);
  rig.clock.UpdateClockSettings();
  rig.cache.CalValid = 1;  // a calibration made since
  rig.cache.Checksum = rig.clock.Checksum();
  const auto redraws = rig.ui.progress.size();
  rig.clock.UpdateClockSettings();
  EXPECT_EQ(rig.ui.progress.size(), redraws);
  EXPECT_EQ(rig.cache.CalValid, 1);
}

TEST(ClockCache, ChangingOnlyCpuTypeForcesRecomputation) {
  ClockRig rig(2);
  rig.clock.UpdateClockSettings();
  ASSERT_EQ(rig.ClockTitles(), 1);
  rig.cache.CpuTypeCode = 3;  // written without the checksum, as the trials do
  rig.cache.CalValid = 1;
  rig.cache.Setting1.PostDivider ^= 0x55;  // damage that the search repairs
  rig.clock.UpdateClockSettings();
  EXPECT_EQ(rig.ClockTitles(), 2);
  EXPECT_EQ(rig.cache.CalValid, 0);
  EXPECT_EQ(rig.cache.CpuTypeCode, 3);
  EXPECT_EQ(rig.cache.Setting1.PostDivider, PllSearch(12000000, 50, {}).postDivider);
  EXPECT_TRUE(rig.ChecksumStored());
  EXPECT_TRUE(rig.RecordMatchesCache());
}

TEST(ClockCache, NewCrystalClearsCalibrationAndLoadCopiesRecord) {
  ClockRig rig(2);
  rig.clock.UpdateClockSettings();
  std::uint8_t saved[32];
  std::memcpy(saved, rig.config.ClockCache, 32);
  rig.config.CrystalHz = 11059200;
  rig.cache.CalValid = 1;
  rig.cache.Checksum = rig.clock.Checksum();
  rig.clock.UpdateClockSettings();
  EXPECT_EQ(rig.cache.CalValid, 0);
  EXPECT_EQ(static_cast<std::int32_t>(rig.cache.CachedHz), 11059200);
  EXPECT_EQ(rig.ClockTitles(), 2);
  std::memcpy(rig.config.ClockCache, saved, 32);
  rig.clock.LoadFromRecord();
  EXPECT_EQ(static_cast<std::int32_t>(rig.cache.CachedHz), 12000000);
  EXPECT_EQ(std::memcmp(&rig.cache, saved, 32), 0);
}

// ---- clock generator command -----------------------------------------------

TEST(ClockCache, SubFunctionsBuildTheRegisterImage) {
  ClockRig rig(2);
  rig.clock.SendClock(3);
  auto p = rig.Sent(14);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0][1], 3);
  EXPECT_TRUE(std::equal(kBaseClockImage.begin(), kBaseClockImage.end(), p[0].begin() + 16));

  rig.state.W[3] = 0xFFFF;
  rig.clock.SendClock(2);
  EXPECT_EQ(rig.state.W[3], 0xFFEF);  // bit 4 cleared, bit 3 for selector 1
  p = rig.Sent(14);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[1][1], 2);
  EXPECT_EQ(p[1][18], 0x7F);
  EXPECT_EQ(p[1][36], 0x17);
  EXPECT_EQ(p[1][37], 0xFB);
  EXPECT_EQ(p[1][38], 0x48);
  EXPECT_EQ(p[1][16], kBaseClockImage[0]);
  rig.clock.SendClock(2, FixedClockRow{1, 2, 3, 4, 2});
  EXPECT_EQ(rig.state.W[3], 0xFFF7);
}

TEST(ClockCache, SubFunctionOnePicksSettingByPodAndCpuType) {
  struct Case {
    int pod;
    std::uint8_t type;
    bool setting2;
  };
  for (const Case& k :
       {Case{2, 3, true}, Case{1, 4, true}, Case{7, 4, true}, Case{2, 6, false}, Case{4, 3, false},
        Case{8, 4, false}, Case{9, 3, false}, Case{10, 3, false}}) {
    ClockRig rig(k.pod);
    rig.clock.UpdateClockSettings();
    rig.cache.CpuTypeCode = k.type;
    rig.clock.SendClock(1);
    const PllSettingBytes& s = k.setting2 ? rig.cache.Setting2 : rig.cache.Setting1;
    const auto p = rig.Sent(14);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0][1], 1);
    EXPECT_EQ(p[0][16], s.PostDivider) << k.pod;
    EXPECT_EQ(p[0][25], s.QRegister) << k.pod;
    EXPECT_EQ(p[0][26], s.PLow) << k.pod;
    EXPECT_EQ(p[0][27], s.PllControl) << k.pod;
    EXPECT_EQ(p[0][18], kBaseClockImage[2]);
    EXPECT_NE(rig.cache.Setting1.PostDivider, rig.cache.Setting2.PostDivider);
  }
}

// ---- timing trial and calibration ------------------------------------------

TEST(Calibration, TrialWritesTimingFieldsAndDecodesStatus) {
  ClockRig rig(2, 500000);  // setting 1 prescaled, setting 2 (1 MHz) not
  rig.clock.UpdateClockSettings();
  ASSERT_EQ(rig.cache.Setting1.Prescale, 1);
  ASSERT_EQ(rig.cache.Setting2.Prescale, 0);
  rig.cache.CpuTypeCode = 0;
  rig.state.W = {0, 0xFFFF, 0, 0x0004};
  rig.status1 = [](const Timing&) { return Status(4, true); };
  EXPECT_TRUE(rig.clock.TimingTrial(2, 1, 21, 1));
  auto w = rig.Sent(9);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(LoadLe<std::uint16_t>(&w[0][3]), 0x801F | 2 << 5 | 1 << 7 | 21 << 8 | 1 << 13);
  EXPECT_EQ(LoadLe<std::uint16_t>(&w[0][7]), 0x0040 | 0x0004);  // type 0: bit 6, setting 1
  EXPECT_EQ(rig.prepares, 1);
  EXPECT_EQ(rig.Sent(10).size(), 1u);
  EXPECT_EQ(rig.cache.CpuTypeCode, 4);  // an unknown cached type takes the reported one

  rig.emu.Forget();
  rig.status1 = [](const Timing&) { return Status(6, true); };
  EXPECT_TRUE(rig.clock.TimingTrial(1, 0, 0, 0));
  w = rig.Sent(9);
  EXPECT_EQ(LoadLe<std::uint16_t>(&w[0][3]) & 0x7FE0, 1 << 5 | 1 << 14);  // setting 2 in use
  EXPECT_EQ(LoadLe<std::uint16_t>(&w[0][7]) & 0x0044, 0);  // type 4; setting 2 not prescaled
  EXPECT_EQ(rig.cache.CpuTypeCode, 4);                     // a known type stays

  for (std::uint16_t s : {0x0588, 0x0590, 0x05A0, 0x05C0, 0x0500, 0x0480, 0x0180}) {
    rig.status1 = [s](const Timing&) { return s; };
    EXPECT_FALSE(rig.clock.TimingTrial(1, 0, 0, 0)) << s;
  }
  rig.status1 = [](const Timing&) { return static_cast<std::uint16_t>(0xF800 | kPassBits | 2); };
  EXPECT_TRUE(rig.clock.TimingTrial(1, 0, 0, 0));
}

TEST(Calibration, ReportedTypeTwoCountsAsThree) {
  ClockRig rig(2);
  rig.status1 = [](const Timing&) { return Status(2, false); };
  EXPECT_FALSE(rig.clock.TimingTrial(1, 1, 0, 1));
  EXPECT_EQ(rig.cache.CpuTypeCode, 3);
}

TEST(Calibration, RunSelection) {
  auto table = [](std::initializer_list<Timing> passes) {
    TrialTable t{};
    for (const Timing& p : passes) t[p.a - 1][p.b][p.c] = true;
    return t;
  };
  EXPECT_FALSE(SelectTimingRun(TrialTable{}).has_value());
  EXPECT_EQ(SelectTimingRun(table({{2, 1, 7, 0}})), (TimingChoice{2, 1, 7}));  // single: C itself
  EXPECT_EQ(SelectTimingRun(table({{1, 0, 29, 0}, {1, 0, 30, 0}, {1, 0, 31, 0}})),
            (TimingChoice{1, 0, 30}));
  // Equal runs: A = 1 before A = 2, B = 0 before B = 1, lower C first.
  EXPECT_EQ(SelectTimingRun(table({{2, 0, 1, 0}, {2, 0, 2, 0}, {1, 1, 5, 0}, {1, 1, 6, 0}})),
            (TimingChoice{1, 1, 6}));
  EXPECT_EQ(SelectTimingRun(table({{1, 0, 3, 0}, {1, 0, 4, 0}, {1, 0, 8, 0}, {1, 0, 9, 0}})),
            (TimingChoice{1, 0, 4}));
  // A longer later run wins; runs split by a failing C are separate.
  EXPECT_EQ(
      SelectTimingRun(table(
          {{1, 0, 0, 0}, {1, 0, 1, 0}, {1, 0, 3, 0}, {2, 1, 10, 0}, {2, 1, 11, 0}, {2, 1, 12, 0}})),
      (TimingChoice{2, 1, 11}));
}

TEST(Calibration, StoresLongestPassingRun) {
  ClockRig rig(2);
  rig.clock.UpdateClockSettings();
  int trials = 0;
  rig.status1 = [&](const Timing& t) {
    ++trials;
    const bool pass = (t.a == 2 && t.b == 0 && t.c >= 10 && t.c <= 14) ||
                      (t.a == 1 && t.b == 1 && t.c >= 3 && t.c <= 5);
    return Status(4, pass);
  };
  EXPECT_EQ(rig.clock.TimingCalibration(1), ClockGenerator::kCalibrated);
  EXPECT_EQ(trials, 3 + 128 + 1);
  EXPECT_EQ(rig.cache.CpuTypeCode, 4);
  EXPECT_EQ(rig.cache.CalA, 2);
  EXPECT_EQ(rig.cache.CalB, 0);
  EXPECT_EQ(rig.cache.CalC, 11);
  EXPECT_EQ(rig.cache.CalX, 1);
  EXPECT_EQ(rig.cache.CalValid, 1);
  EXPECT_TRUE(rig.ChecksumStored());
  EXPECT_TRUE(rig.RecordMatchesCache());
  EXPECT_FALSE(rig.link.LinkFailed());
  // The chosen values stay in force; the PLL settings went out for type 4.
  EXPECT_EQ(rig.emuW[1] >> 5 & 0x1FF, 2 | 0 << 2 | 11 << 3 | 1 << 8);
  const auto clockPackets = rig.Sent(14);
  ASSERT_EQ(clockPackets.size(), 1u);
  EXPECT_EQ(clockPackets[0][16], rig.cache.Setting2.PostDivider);
  bool sawCpuTitle = false;
  for (const auto& v : rig.ui.progress)
    sawCpuTitle |= v.caption == "Test CPU ..." && v.maximum == 128;
  EXPECT_TRUE(sawCpuTitle);
  EXPECT_EQ(rig.ui.progress.back().caption, "");
}

TEST(Calibration, UnstableCpuTypeFailsWithNoMcu) {
  ClockRig rig(2);
  int trials = 0;
  rig.status1 = [&](const Timing&) {
    static constexpr int kTypes[3] = {3, 4, 6};  // never three alike
    return Status(kTypes[trials++ % 3], true);
  };
  EXPECT_EQ(rig.clock.TimingCalibration(1), ClockGenerator::kCpuTypeUnstable);
  EXPECT_EQ(trials, 303);
  EXPECT_TRUE(rig.link.LinkFailed());
  EXPECT_EQ(rig.link.ErrorKindValue(), kErrorNoMcu);
  EXPECT_TRUE(rig.Sent(14).empty());
}

TEST(Calibration, UnknownCpuTypeFailsWithNoMcu) {
  ClockRig rig(2);
  rig.status1 = [](const Timing&) { return Status(1, true); };
  EXPECT_EQ(rig.clock.TimingCalibration(0), ClockGenerator::kCpuTypeUnknown);
  EXPECT_TRUE(rig.link.LinkFailed());
  EXPECT_EQ(rig.link.ErrorKindValue(), kErrorNoMcu);
}

TEST(Calibration, NothingPassingLeavesCalibrationInvalid) {
  ClockRig rig(2);
  rig.cache.CalValid = 1;
  rig.status1 = [](const Timing&) { return Status(6, false); };
  EXPECT_EQ(rig.clock.TimingCalibration(1), ClockGenerator::kNoPassingTiming);
  EXPECT_EQ(rig.cache.CalValid, 0);
  EXPECT_FALSE(rig.link.LinkFailed());
}

TEST(Calibration, SkippedOnFailedLink) {
  ClockRig rig(2);
  rig.link.Fail(kErrorUsb);
  EXPECT_EQ(rig.clock.TimingCalibration(1), ClockGenerator::kCalibrationSkipped);
  EXPECT_TRUE(rig.emu.Sent().empty());
  EXPECT_EQ(rig.link.ErrorKindValue(), kErrorUsb);
}

TEST(Calibration, SetupReusesPassingCalibration) {
  ClockRig rig(5);
  rig.clock.UpdateClockSettings();
  rig.cache.CpuTypeCode = 6;
  rig.cache.CalA = 1;
  rig.cache.CalB = 1;
  rig.cache.CalC = 9;
  rig.cache.CalX = 0;
  rig.cache.CalValid = 1;
  rig.clock.UpdateClockSettings();  // type changed: recomputed, valid cleared
  rig.cache.CalValid = 1;
  rig.cache.Checksum = rig.clock.Checksum();
  int trials = 0;
  rig.status1 = [&](const Timing& t) {
    ++trials;
    return Status(6, t.a == 1 && t.b == 1 && t.c == 9 && t.x == 0);
  };
  rig.state.W = {1, 2, 3, 4};
  rig.clock.ClockAndTimingSetup();
  EXPECT_EQ(trials, 2);  // the status read after clearing the words, one trial
  const auto w = rig.Sent(9);
  ASSERT_FALSE(w.empty());
  EXPECT_EQ(LoadLe<std::uint16_t>(&w[0][1]), 0);  // words cleared first
  EXPECT_EQ(rig.Sent(79).size(), 1u);
  EXPECT_EQ(rig.Sent(80).size(), 1u);
  EXPECT_EQ(rig.cache.CalValid, 1);
}

TEST(Calibration, SetupRecalibratesWhenCachedTrialFails) {
  ClockRig rig(2);
  rig.clock.UpdateClockSettings();
  rig.cache.CpuTypeCode = 3;
  rig.cache.CalA = 2;
  rig.cache.CalValid = 1;
  rig.cache.Checksum = rig.clock.Checksum();
  std::vector<int> xs;
  rig.status1 = [&](const Timing& t) {
    xs.push_back(t.x);
    return Status(3, t.a == 1 && t.b == 0 && t.c == 4);
  };
  rig.clock.ClockAndTimingSetup();
  // Status read, the cached trial (fails), then pass 2 calibrates with X = 1:
  // 3 type trials, 128 trials, 1 final.
  ASSERT_EQ(xs.size(), 2u + 3 + 128 + 1);
  EXPECT_EQ(xs[2], 1);
  EXPECT_EQ(rig.cache.CalValid, 1);
  EXPECT_EQ(rig.cache.CalC, 4);
  EXPECT_TRUE(rig.Sent(79).empty());  // both passes used up
}

TEST(Calibration, FixedPodsStoreTypeWithoutTrials) {
  struct Case {
    int pod;
    std::uint8_t six, option, type;
  };
  for (const Case& k : {Case{1, 1, 0, 3}, Case{1, 0, 0, 6}, Case{4, 0, 0, 4}, Case{8, 0, 0x08, 3},
                        Case{8, 0, 0xF7, 6}, Case{9, 0, 0, 1}}) {
    ClockRig rig(k.pod);
    rig.config.SixClockMode = k.six;
    rig.config.CpuOptionBytes[0] = k.option;
    int trials = 0;
    rig.status1 = [&](const Timing&) { return ++trials, Status(4, true); };
    rig.clock.ClockAndTimingSetup();
    EXPECT_EQ(rig.cache.CpuTypeCode, k.type) << k.pod;
    EXPECT_EQ(rig.prepares, 1);
    EXPECT_EQ(rig.Sent(14).size(), 1u);
    EXPECT_EQ(rig.Sent(10).size(), 2u);
    EXPECT_EQ(rig.Sent(9).size(), 1u);  // only the clearing write: no trial
  }
  ClockRig other(12);
  other.clock.ClockAndTimingSetup();
  EXPECT_EQ(other.prepares, 0);
  EXPECT_TRUE(other.Sent(14).empty());
}

}  // namespace
}  // namespace kz
