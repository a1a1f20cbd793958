#pragma once
// Execution control: AG_GoStep. The run routine starts the emulator with the
// step or run command and polls its status until it stops; the go loop builds
// breakpoints with hit counts and command texts, run-until addresses and
// single-step execution on top of it; the stop operation runs on the host's
// stopping thread while a run polls on another.
//
// Locks: the run lock is taken before the link lock, by the run routine
// around its start and each poll, and by the stop operation for its whole
// length, so a stop acts on one run and never between a poll's packets. A
// waiting stop is handed the run lock: the poll loop waits while one is
// pending instead of taking the lock again at once.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "config/PodTable.h"
#include "config/TargetConfig.h"
#include "host/AG_DLL_DEF.h"
#include "host/Breakpoints.h"
#include "host/Registers.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"
#include "link/MemoryTransfers.h"
#include "link/TargetPrep.h"

namespace kz {

struct ExecutionFlags {
  std::atomic<bool>& running;
  std::atomic<bool>& stopRequest;
};

class ExecutionControl {
 public:
  static constexpr std::uint32_t kNoUntil = 0xFFFFFFFFu;
  // Status reads after the stop request before the stop counts as failed.
  static constexpr int kStopConfirmReads = 20;

  // `invalidate` runs invalidate after run (under the driver's access lock);
  // `recomputeAbandon` is the common end's recomputation.
  ExecutionControl(CommandSet& commands, EmulatorState& state, MemoryTransfers& transfers,
                   TargetPrep& prep, Breakpoints& breakpoints, RegisterAccess& registers,
                   const TargetConfig& config, const PodTable& pods, ExecutionFlags flags,
                   std::uint16_t& pc16, std::function<void()> invalidate,
                   std::function<void()> recomputeAbandon);
  ExecutionControl(const ExecutionControl&) = delete;
  ExecutionControl& operator=(const ExecutionControl&) = delete;

  // Codes 2, 3 and 4 (the caller has set the running flag); answers 0.
  std::int32_t Run(std::uint16_t code, std::uint32_t count, const AddressRecord* until);
  // Code 1: the stop operation, on the host's stopping thread.
  std::int32_t Stop();

  // ---- parts, for tests ----
  // False when the run did not start (a stop request pending, a failed link).
  bool SingleStep();
  bool Go();
  void GoLoop(std::uint32_t until);
  void PcCorrection();
  bool HostStop() const { return hostStop_.load(); }
  // True while a stop operation waits for the run lock.
  bool StopWaiting() {
    std::lock_guard<std::mutex> hold(handoffMutex_);
    return stopsWaiting_ > 0;
  }
  std::recursive_mutex& RunLock() { return runLock_; }

 private:
  // Starts the emulator and polls it until it stops. Nothing starts when a
  // stop request is already pending or the link has failed.
  bool RunRoutine(bool step);
  void Poll();
  bool StatusStopped() const;
  bool LinkFailed() const { return cmd_.Link().LinkFailed(); }
  bool Halted() const { return stopRequest_.load() || LinkFailed(); }

  CommandSet& cmd_;
  EmulatorState& state_;
  MemoryTransfers& transfers_;
  TargetPrep& prep_;
  Breakpoints& bp_;
  RegisterAccess& registers_;
  const TargetConfig& config_;
  const PodTable& pods_;
  std::atomic<bool>& running_;
  std::atomic<bool>& stopRequest_;
  std::uint16_t& pc16_;
  std::function<void()> invalidate_;
  std::function<void()> recomputeAbandon_;

  std::recursive_mutex runLock_;
  std::atomic<bool> hostStop_{false};
  // What the run routine started last: a step or a go.
  std::atomic<bool> stepping_{false};
  // Stop operations waiting for the run lock; the poll loop lets them in.
  std::mutex handoffMutex_;
  std::condition_variable handoff_;
  int stopsWaiting_ = 0;  // guarded by handoffMutex_
  // The go loop's temporary breakpoint for a run-until.
  BreakpointRecord temporary_{};
};

}  // namespace kz
