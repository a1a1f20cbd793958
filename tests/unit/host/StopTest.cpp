// The stop operation against the moment it lands in: during the step that
// leaves a breakpoint, in a program spinning one byte past an armed address,
// with the link failing inside it, and the stop's answer against the end of
// the go it stopped (host callbacks on either thread included).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "unit/host/DebugRig.h"

namespace kz {
namespace {

using test::DebugRig;
using test::Firmware;
using test::HostBreakpoint;
using test::kLoop;
using test::StopFromInside;
using test::StopWhenRunning;

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Pod 9 stops one byte past an armed address and the go moves the PC back
// onto it. The step that leaves a breakpoint with a hit count keeps the armed
// list; a stop arriving while that step executes must keep the PC the step
// left, or the next run executes the breakpoint's instruction a second time.
TEST(Stop, DuringTheStepOffABreakpointKeepsThePcTheStepLeft) {
  DebugRig r(Firmware(9));
  r.Load(0, kLoop);
  BreakpointRecord bp = HostBreakpoint(0x0002, 2);  // INC A
  test::Link(r.anchor, {&bp});
  std::thread stopper;
  std::int32_t answer = -1;
  r.pipes.onCommand = [&](const kzemu::Packet& cmd) {
    if (cmd[0] == 77 && !stopper.joinable())
      StopFromInside(r, stopper, [&] { answer = r.d->AgGoStep(1, 0, nullptr); });
  };
  EXPECT_EQ(r.Go(), 0);
  ASSERT_TRUE(stopper.joinable()) << "no step left the breakpoint";
  stopper.join();
  r.pipes.onCommand = nullptr;
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(bp.remainingCount, 1);  // the first pass was counted
  EXPECT_EQ(r.Pc(), 3);             // INC A ran once, the PC is past it
  EXPECT_EQ(r.Acc(), 1);
  EXPECT_EQ(r.Step(1), 0);  // INC R7, not INC A again
  EXPECT_EQ(r.Pc(), 4);
  EXPECT_EQ(r.Acc(), 1);
  EXPECT_EQ(r.R7(), 1);
}

// A program that spins one byte past an armed address did not stop on it: a
// stop request there keeps the PC.
TEST(Stop, ARequestOneBytePastAnArmedAddressKeepsThePc) {
  DebugRig r(Firmware(9));
  // 0000 MOV A,#0; 0002 INC A; 0003 SJMP 0003h
  r.Load(0, {0x74, 0x00, 0x04, 0x80, 0xFE});
  BreakpointRecord bp = HostBreakpoint(0x0002);
  test::Link(r.anchor, {&bp});
  EXPECT_EQ(r.Go(), 0);
  EXPECT_EQ(r.Pc(), 2);
  std::int32_t answer = -1;
  std::thread stopper([&] { answer = StopWhenRunning(r); });
  EXPECT_EQ(r.Go(), 0);  // steps off INC A, arms it again, spins
  stopper.join();
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(r.Pc(), 3);
  EXPECT_EQ(r.Acc(), 1);
  EXPECT_EQ(r.Step(1), 0);
  EXPECT_EQ(r.Pc(), 3);
  EXPECT_EQ(r.Acc(), 1);
}

// An emulator unplugged as the stop request reaches it: the host is told of
// a failed USB exchange, not of a target that would not stop.
TEST(Stop, ALinkThatFailsInsideTheStopKeepsTheUsbErrorKind) {
  DebugRig r(Firmware(3));
  r.Load(0, kLoop);
  r.pipes.onCommand = [&](const kzemu::Packet& cmd) {
    const bool stopRequest = cmd[0] == 9 && (cmd[3] & 0x10) != 0;  // W1 bit 4
    if (stopRequest) r.pipes.fw.SetFaults(kzemu::kFaultDisconnect, 0, 0, 1);
  };
  std::int32_t answer = -1;
  std::thread stopper([&] { answer = StopWhenRunning(r); });
  EXPECT_EQ(r.Go(), 0);
  stopper.join();
  r.pipes.onCommand = nullptr;
  EXPECT_EQ(answer, 1);
  EXPECT_TRUE(r.pipes.fw.Unplugged());
  EXPECT_TRUE(r.d->link.LinkFailed());
  EXPECT_EQ(r.d->link.ErrorKindValue(), kErrorUsb);
  EXPECT_FALSE(r.d->running);
}

// What a host sees on its stopping thread right after the stop's answer.
struct AfterStop {
  std::int32_t answer = -1;
  bool running = true;
  std::uint16_t registerAnswer = 99;
  std::uint32_t pc = 0;
  std::uint32_t cell = 0;
  double ms = 0;
};
AfterStop StopAndLook(DebugRig& r) {
  AfterStop a;
  const auto t0 = Clock::now();
  a.answer = r.d->AgGoStep(1, 0, nullptr);
  a.ms = MsSince(t0);
  a.running = r.d->running;
  a.cell = r.pcCell;
  a.registerAnswer = r.d->AgRegAcc(1, 0x500, &a.pc);
  return a;
}

// The stop comes first and the go's end is slow: the answer waits for it.
TEST(Stop, AnswersOnlyOnceTheGoItStoppedHasEnded) {
  DebugRig r(Firmware(3));
  r.Load(0, kLoop);
  const auto goThread = std::this_thread::get_id();
  r.pipes.onCommand = [&](const kzemu::Packet&) {
    if (std::this_thread::get_id() == goThread && r.d->stopRequest)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  AfterStop seen;
  std::thread stopper([&] {
    while (!r.d->state.executing) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    seen = StopAndLook(r);
  });
  EXPECT_EQ(r.Go(), 0);
  stopper.join();
  r.pipes.onCommand = nullptr;
  EXPECT_EQ(seen.answer, 1);
  EXPECT_FALSE(seen.running);
  EXPECT_EQ(seen.registerAnswer, 0);
  EXPECT_EQ(seen.cell, seen.pc);
  EXPECT_EQ(r.pcCell, seen.pc);
}

std::atomic<int> g_callbacks{0};
std::atomic<bool> g_stopAnswered{false};
std::atomic<bool> g_waitForTheStop{false};
std::uint32_t KZ_CDECL SlowCallback(std::uint32_t code, void*) {
  if (code != 4) return 0;
  ++g_callbacks;
  if (!g_waitForTheStop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return 0;
  }
  // A host that finishes its command on the thread that is stopping.
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (!g_stopAnswered && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 0;
}

// The go stops on a breakpoint by itself and the stop arrives while the go
// ends (its command text goes to the host): the answer waits for that end.
// When the host's callback itself waits for the stopping thread, the two
// wait for each other: the stop's wait is bounded and gives way.
TEST(Stop, ArrivingAsTheGoEndsOnItsOwnWaitsForThatEndWithinItsBound) {
  for (const bool hostWaits : {false, true}) {
    SCOPED_TRACE(hostWaits ? "the callback waits for the stopping thread" : "a slow callback");
    DebugRig r(Firmware(3));
    r.d->SetStopWaitLimitMs(300);
    r.Load(0, kLoop);
    BreakpointRecord texted = HostBreakpoint(0x0003, 1, 0, true, "log");
    test::Link(r.anchor, {&texted});
    g_callbacks = 0;
    g_stopAnswered = false;
    g_waitForTheStop = hostWaits;
    r.d->AgInit(0x312, reinterpret_cast<std::uintptr_t>(&SlowCallback));
    const auto goThread = std::this_thread::get_id();
    std::thread stopper;
    AfterStop seen;
    r.pipes.onCommand = [&](const kzemu::Packet& cmd) {
      // The go's thread reads the registers back: the target stopped by itself.
      if (cmd[0] == 79 && std::this_thread::get_id() == goThread && !stopper.joinable())
        StopFromInside(r, stopper, [&] {
          seen.answer = r.d->AgGoStep(1, 0, nullptr);
          g_stopAnswered = true;
          // A stop that gave up waiting leaves the PC cell to the run.
          if (hostWaits) return;
          seen.running = r.d->running;
          seen.cell = r.pcCell;
        });
    };
    const auto t0 = Clock::now();
    EXPECT_EQ(r.Go(), 0);
    ASSERT_TRUE(stopper.joinable());
    stopper.join();
    r.pipes.onCommand = nullptr;
    EXPECT_EQ(seen.answer, 1);
    EXPECT_EQ(g_callbacks.load(), 1);
    EXPECT_EQ(r.Pc(), 3);
    if (hostWaits) {
      // Neither waited for the other longer than the stop's bound.
      EXPECT_LT(MsSince(t0), 5000);
    } else {
      EXPECT_FALSE(seen.running);
      EXPECT_EQ(seen.cell, 0xFF000003u);
    }
  }
  g_waitForTheStop = false;
}

Driver* g_driver = nullptr;
AfterStop g_inner;
std::uint32_t KZ_CDECL StoppingCallback(std::uint32_t code, void*) {
  if (code == 4 && g_driver != nullptr) {
    const auto t0 = Clock::now();
    g_inner.answer = g_driver->AgGoStep(1, 0, nullptr);
    g_inner.ms = MsSince(t0);
  }
  return 0;
}

// A host that stops the run from its callback, on the run's own thread (as
// kz51 does to run a breakpoint's command): the stop cannot wait for the run
// it is part of, and answers at once.
TEST(Stop, FromTheRunsOwnThreadAnswersWithoutWaitingForItself) {
  DebugRig r(Firmware(3));
  r.d->SetStopWaitLimitMs(4000);
  r.Load(0, kLoop);
  BreakpointRecord texted = HostBreakpoint(0x0003, 1, 0, true, "stop and run me");
  test::Link(r.anchor, {&texted});
  g_driver = r.d.get();
  g_inner = AfterStop{};
  r.d->AgInit(0x312, reinterpret_cast<std::uintptr_t>(&StoppingCallback));
  EXPECT_EQ(r.Go(), 0);
  g_driver = nullptr;
  EXPECT_EQ(g_inner.answer, 1);
  EXPECT_LT(g_inner.ms, 2000);
  EXPECT_EQ(r.Pc(), 3);
  EXPECT_FALSE(r.d->running);
}

}  // namespace
}  // namespace kz
