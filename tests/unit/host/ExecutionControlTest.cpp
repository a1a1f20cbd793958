// Execution control through AG_GoStep on the virtual emulator's firmware:
// steps that advance, goes that leave a breakpoint, counts and texts,
// run-until, single-step mode, the PC correction of pods 8 and 9, the stop
// from another thread, failed links, and the exchanges each operation costs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "unit/host/DebugRig.h"

namespace kz {
namespace {

using test::DebugRig;
using test::Firmware;
using test::HostBreakpoint;
using test::kLoop;
using test::StopWhenRunning;

void ExpectAllBreakpointBytesClear(DebugRig& r) {
  for (int a = 0; a < 0x10000; ++a)
    ASSERT_EQ(r.pipes.fw.BreakpointByte(static_cast<std::uint16_t>(a)), 0) << a;
}

class EveryPod : public ::testing::TestWithParam<int> {};

TEST_P(EveryPod, EachStepAdvancesFromWhereTheLastOneStopped) {
  DebugRig r(Firmware(GetParam()));
  r.Load(0, kLoop);
  const std::uint16_t expected[] = {2, 3, 4, 2, 3, 4, 2};
  for (std::uint16_t pc : expected) {
    EXPECT_EQ(r.Step(1), 0);
    EXPECT_EQ(r.Pc(), pc);
    EXPECT_EQ(r.pcCell, 0xFF000000u | pc);
  }
  EXPECT_EQ(r.Acc(), 2);
  EXPECT_EQ(r.Step(5), 0);  // 3, 4, 2, 3, 4
  EXPECT_EQ(r.Pc(), 4);
  EXPECT_EQ(r.Acc(), 4);
  EXPECT_FALSE(r.d->running);
}

TEST_P(EveryPod, ACountOf3StopsOnTheThirdPassAndEveryLaterPass) {
  DebugRig r(Firmware(GetParam()));
  r.Load(0, kLoop);
  BreakpointRecord bp = HostBreakpoint(0x0003, 3);
  test::Link(r.anchor, {&bp});
  EXPECT_EQ(r.Go(), 0);
  EXPECT_EQ(r.Pc(), 3);  // pods 8 and 9 report 0004h and are corrected
  EXPECT_EQ(r.Acc(), 3);
  EXPECT_EQ(r.R7(), 2);  // the instruction at the breakpoint has not run
  // The next go leaves the breakpoint and stops there on the next pass.
  EXPECT_EQ(r.Go(), 0);
  EXPECT_EQ(r.Pc(), 3);
  EXPECT_EQ(r.Acc(), 4);
  EXPECT_EQ(r.R7(), 3);
  EXPECT_TRUE(r.d->breakpoints->List().empty());
  ExpectAllBreakpointBytesClear(r);
}

TEST_P(EveryPod, RunUntilStopsAtItsAddressAndLeavesTheListsAsTheyWere) {
  DebugRig r(Firmware(GetParam()));
  r.Load(0, kLoop);
  BreakpointRecord off = HostBreakpoint(0x0002, 1, 0, false);
  test::Link(r.anchor, {&off});
  const BreakpointRecord before = off;
  EXPECT_EQ(r.GoUntil(0x0004), 0);
  EXPECT_EQ(r.Pc(), 4);
  EXPECT_EQ(r.Acc(), 1);
  EXPECT_EQ(r.anchor, &off);
  EXPECT_EQ(std::memcmp(&before, &off, sizeof off), 0);
  EXPECT_TRUE(r.d->breakpoints->List().empty());
  ExpectAllBreakpointBytesClear(r);
  // Until the address it stands on: once around the loop.
  EXPECT_EQ(r.GoUntil(0x0004), 0);
  EXPECT_EQ(r.Pc(), 4);
  EXPECT_EQ(r.Acc(), 2);
}

INSTANTIATE_TEST_SUITE_P(Pods, EveryPod, ::testing::Values(1, 3, 8, 9),
                         [](const auto& info) { return "Pod" + std::to_string(info.param); });

TEST(ExecutionControl, StepCountsOfZeroOrBelowStepNothingButInvalidate) {
  DebugRig r(Firmware(3));
  r.Load(0, kLoop);
  r.Read(0xF0000030u, 4);
  for (std::uint32_t count : {0u, 0xFFFFFFFFu, 0x80000000u}) {
    r.pipes.ResetCounts();
    EXPECT_EQ(r.Step(count), 0);
    EXPECT_EQ(r.pipes.Count(77), 0u);
    EXPECT_EQ(r.Pc(), 0);
    r.pipes.ResetCounts();
    r.Read(0xF0000030u, 4);
    EXPECT_EQ(r.pipes.Count(74), 1u) << "the shadow was invalidated";
  }
}

TEST(ExecutionControl, TextBreakpointsCallTheHostAndTheGoContinues) {
  DebugRig r(Firmware(3));
  r.Load(0, kLoop);
  BreakpointRecord counted = HostBreakpoint(0x0002, 3);
  BreakpointRecord texted = HostBreakpoint(0x0003, 1, 0, true, "LOG \"pass\"");
  test::Link(r.anchor, {&counted, &texted});
  EXPECT_EQ(r.Go(), 0);
  EXPECT_EQ(r.Pc(), 2);
  EXPECT_EQ(r.Acc(), 2);
  EXPECT_EQ(test::CallbackTexts(), (std::vector<std::string>{"LOG \"pass\"", "LOG \"pass\""}));
}

TEST(ExecutionControl, SingleStepModeWhileAKind1BreakpointExists) {
  DebugRig r(Firmware(3));
  r.Load(0, kLoop);
  BreakpointRecord other = HostBreakpoint(0x1000, 1, 1);
  BreakpointRecord stop = HostBreakpoint(0x0004, 2);
  test::Link(r.anchor, {&other, &stop});
  // The first go only learns of the kind-1 breakpoint by arming.
  EXPECT_EQ(r.Go(), 0);
  r.pipes.ResetCounts();
  EXPECT_EQ(r.Go(), 0);
  EXPECT_EQ(r.Pc(), 4);
  EXPECT_EQ(r.pipes.Count(78), 0u);
  EXPECT_GE(r.pipes.Count(77), 3u);
}

// A host that disables a breakpoint while the target runs (here from the
// command text of another).
BreakpointRecord* g_disableOnCallback = nullptr;
std::uint32_t KZ_CDECL DisablingCallback(std::uint32_t code, void*) {
  if (code == 4 && g_disableOnCallback != nullptr) g_disableOnCallback->flags &= ~kBpEnabled;
  return 0;
}

TEST(ExecutionControl, ABreakpointDisabledDuringARunIsNotArmedForTheNextGo) {
  DebugRig r(Firmware(3));
  r.Load(0, kLoop);
  BreakpointRecord texted = HostBreakpoint(0x0003, 1, 0, true, "disable");
  BreakpointRecord later = HostBreakpoint(0x0004, 5);
  test::Link(r.anchor, {&texted, &later});
  g_disableOnCallback = &later;
  r.d->AgInit(0x312, reinterpret_cast<std::uintptr_t>(&DisablingCallback));
  EXPECT_EQ(r.Go(), 0);  // stops at 0004h: armed there, no longer enabled
  EXPECT_EQ(r.Pc(), 4);
  EXPECT_TRUE(r.d->breakpoints->List().empty());
  ExpectAllBreakpointBytesClear(r);
  r.anchor = nullptr;
  EXPECT_EQ(r.GoUntil(0x0003), 0);
  EXPECT_EQ(r.Pc(), 3);
  g_disableOnCallback = nullptr;
}

TEST(ExecutionControl, PcCorrectionOnlyForPods8And9BelowEmulatorIndex8) {
  struct Case {
    int pod;
    std::int32_t emulatorIndex;
    std::uint16_t pc;
  };
  const Case cases[] = {{9, 0, 3}, {9, 8, 4}, {8, 7, 3}, {3, 0, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pod);
    DebugRig r(Firmware(c.pod));
    r.d->config.EmulatorIndex = c.emulatorIndex;
    r.Load(0, kLoop);
    BreakpointRecord bp = HostBreakpoint(0x0003);
    test::Link(r.anchor, {&bp});
    EXPECT_EQ(r.Go(), 0);
    EXPECT_EQ(r.Pc(), c.pc);
  }
}

TEST(ExecutionControl, AStopWhileNothingRunsCancelsTheNextGo) {
  DebugRig r(Firmware(3));
  r.Load(0, kLoop);
  EXPECT_EQ(r.d->AgGoStep(1, 0, nullptr), 1);
  r.pipes.ResetCounts();
  EXPECT_EQ(r.Go(), 0);
  EXPECT_EQ(r.pipes.Count(78), 0u);
  EXPECT_EQ(r.Pc(), 0);
  EXPECT_FALSE(r.d->stopRequest);
}

TEST(ExecutionControl, AStopFromAnotherThreadEndsAFreeRun) {
  DebugRig r(Firmware(3));
  r.Load(0, kLoop);
  std::int32_t stopAnswer = -1;
  // The emulated target runs 2000 instructions at each status read (command
  // 10) after the run command (78): the stop waits for two of them, so the
  // loop has run whatever the threads' timing.
  const std::uint64_t runs = r.pipes.Count(78);
  bool ran = false;
  std::thread stopper([&] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto waitFor = [&](auto done) {
      while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    };
    waitFor([&] { return r.pipes.Count(78) > runs; });
    const std::uint64_t polls = r.pipes.Count(10);
    waitFor([&] { return r.pipes.Count(10) >= polls + 2; });
    ran = r.pipes.Count(10) >= polls + 2;
    stopAnswer = r.d->AgGoStep(1, 0, nullptr);
  });
  EXPECT_EQ(r.Go(), 0);
  stopper.join();
  EXPECT_EQ(stopAnswer, 1);
  EXPECT_FALSE(r.d->running);
  EXPECT_FALSE(r.d->link.LinkFailed());
  const std::uint16_t pc = r.Pc();
  EXPECT_TRUE(pc == 2 || pc == 3 || pc == 4) << pc;
  EXPECT_EQ(r.pcCell, 0xFF000000u | pc);
  EXPECT_TRUE(ran);
  // A and R7 count the rounds (modulo 256, so A alone may read 0 or 1 after
  // thousands of rounds): A is one ahead between INC A and INC R7.
  EXPECT_EQ(r.Acc(), static_cast<std::uint8_t>(r.R7() + (pc == 3 ? 1 : 0))) << pc;
  // The target goes on from there.
  EXPECT_EQ(r.Step(1), 0);
  EXPECT_NE(r.Pc(), pc);
}

TEST(ExecutionControl, ATargetThatNeverStopsFailsTheLinkWithAKindAndTheGoReturns) {
  DebugRig r(Firmware(3, 2000, kzemu::kFaultNeverStop));
  r.Load(0, kLoop);
  std::int32_t stopAnswer = -1;
  std::thread stopper([&] { stopAnswer = StopWhenRunning(r); });
  EXPECT_EQ(r.Go(), 0);
  stopper.join();
  EXPECT_EQ(stopAnswer, 1);
  EXPECT_TRUE(r.d->link.LinkFailed());
  EXPECT_EQ(r.d->link.ErrorKindValue(), kErrorMcuReset);
  EXPECT_FALSE(r.d->running);
  EXPECT_FALSE(r.d->state.executing);
}

TEST(ExecutionControl, ALinkThatFailsDuringARunEndsTheRun) {
  DebugRig r(Firmware(3));
  r.Load(0, kLoop);
  std::thread unplug([&] {
    while (!r.d->state.executing) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    r.pipes.unplugged = true;
  });
  EXPECT_EQ(r.Go(), 0);  // no stop request needed
  unplug.join();
  EXPECT_TRUE(r.d->link.LinkFailed());
  EXPECT_FALSE(r.d->running);
  // Later goes and steps return at once.
  EXPECT_EQ(r.Go(), 0);
  EXPECT_EQ(r.Step(3), 0);
}

// 1,000 goes, each stopped from a second thread at a random moment, while a
// third thread reads memory: refused while running, served while stopped.
TEST(ExecutionControlStress, ThousandGoStopCyclesWithConcurrentReads) {
  DebugRig r(Firmware(3, 200));
  r.Load(0, kLoop);
  constexpr int kCycles = 1000;
  std::atomic<int> goes{0};
  std::atomic<bool> done{false};
  std::atomic<int> refused{0}, served{0}, wrong{0};
  std::thread stopper([&] {
    std::mt19937 rng(12345);
    int seen = 0;
    while (!done) {
      if (goes.load() == seen) {
        std::this_thread::yield();
        continue;
      }
      seen = goes.load();
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
      r.d->AgGoStep(1, 0, nullptr);
    }
  });
  std::thread reader([&] {
    while (!done) {
      std::uint8_t b[8] = {};
      AddressRecord rec{0xF0000000u, 0, 0};
      const std::uint16_t a = r.d->AgMemAcc(1, b, &rec, 8);
      if (a == 1)
        ++refused;
      else if (a == 0)
        ++served;
      else
        ++wrong;
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < kCycles; ++i) {
    goes.fetch_add(1);
    ASSERT_EQ(r.Go(), 0);
    // Until the stopper has fired for this go, a stop may still cancel the
    // next one; wait for it so every go is one cycle.
    while (r.d->stopRequest) std::this_thread::yield();
    // Stopped for a moment: the reader is served. The pause lasts until it
    // is (bounded), since thread timing differs much between systems.
    if (i % 10 == 0) {
      const int before = served.load();
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      while (served.load() == before && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  done = true;
  stopper.join();
  reader.join();
  EXPECT_FALSE(r.d->running);
  EXPECT_FALSE(r.d->state.executing);
  EXPECT_FALSE(r.d->link.LinkFailed());
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(served.load(), 0);
  std::cout << "[ stress   ] " << kCycles << " go/stop cycles, reads refused " << refused.load()
            << ", served " << served.load() << "\n";
}

// The exchanges each host operation costs, pinned.
struct Cost {
  int pod;
  std::uint64_t dataCold, dataWarm, window256Cold, window256Warm, code57, program4k, step,
      goSecondPoll;
};

class ExchangeCost : public ::testing::TestWithParam<Cost> {};

TEST_P(ExchangeCost, PerOperation) {
  const Cost& c = GetParam();
  // Four instructions per status read: the breakpoint at 0005h is met at the
  // second poll (0000h..0003h run in the first).
  DebugRig r(Firmware(c.pod, 4));
  auto measure = [&](auto&& op) {
    r.pipes.ResetCounts();
    op();
    return r.pipes.total.load();
  };
  EXPECT_EQ(measure([&] { r.Read(0xF0000030u, 16); }), c.dataCold);
  EXPECT_EQ(measure([&] { r.Read(0xF0000030u, 16); }), c.dataWarm);
  // A host's memory window on DATA 00h..FFh, internal RAM and SFRs, at a stop.
  EXPECT_EQ(measure([&] { r.Read(0xF0000000u, 256); }), c.window256Cold);
  EXPECT_EQ(measure([&] { r.Read(0xF0000000u, 256); }), c.window256Warm);
  EXPECT_EQ(measure([&] { r.Load(0x2000, std::vector<std::uint8_t>(57, 0)); }), c.code57);
  EXPECT_EQ(measure([&] { r.Load(0x3000, std::vector<std::uint8_t>(4096, 0)); }), c.program4k);
  EXPECT_EQ(measure([&] { r.Step(1); }), c.step);
  BreakpointRecord bp = HostBreakpoint(0x0005);
  test::Link(r.anchor, {&bp});
  r.Load(0, std::vector<std::uint8_t>(8, 0));  // NOPs
  std::uint8_t zero[4] = {0, 0, 0, 0xFF};
  ASSERT_EQ(r.d->AgRegAcc(2, 0x500, zero), 0);
  EXPECT_EQ(measure([&] { r.Go(); }), c.goSecondPoll);
  EXPECT_EQ(r.Pc(), 5);
  std::cout << "[ cost     ] pod " << c.pod << ": DATA 16 cold " << c.dataCold << ", warm "
            << c.dataWarm << "; DATA 256 cold " << c.window256Cold << ", warm " << c.window256Warm
            << "; CODE 57 " << c.code57 << "; 4 KB " << c.program4k << "; step " << c.step
            << "; go " << c.goSecondPoll << "\n";
}

INSTANTIATE_TEST_SUITE_P(Pods, ExchangeCost,
                         ::testing::Values(Cost{1, 1, 0, 4, 0, 2, 80, 17, 22},
                                           Cost{9, 1, 0, 4, 0, 2, 80, 16, 21}),
                         [](const auto& info) { return "Pod" + std::to_string(info.param.pod); });

}  // namespace
}  // namespace kz
