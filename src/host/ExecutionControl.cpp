#include "host/ExecutionControl.h"

#include <optional>
#include <utility>

namespace kz {

namespace {

constexpr std::uint16_t kStatusStopped = 0x0008;    // status word 0 bit 3
constexpr std::uint16_t kStatusExecuting = 0x0001;  // status word 0 bit 0

using Hold = std::lock_guard<std::recursive_mutex>;

}  // namespace

ExecutionControl::ExecutionControl(CommandSet& commands, EmulatorState& state,
                                   MemoryTransfers& transfers, TargetPrep& prep,
                                   Breakpoints& breakpoints, RegisterAccess& registers,
                                   const TargetConfig& config, const PodTable& pods,
                                   ExecutionFlags flags, std::uint16_t& pc16,
                                   std::function<void()> invalidate,
                                   std::function<void()> recomputeAbandon)
    : cmd_(commands),
      state_(state),
      transfers_(transfers),
      prep_(prep),
      bp_(breakpoints),
      registers_(registers),
      config_(config),
      pods_(pods),
      running_(flags.running),
      stopRequest_(flags.stopRequest),
      pc16_(pc16),
      invalidate_(std::move(invalidate)),
      recomputeAbandon_(std::move(recomputeAbandon)) {}

bool ExecutionControl::StatusStopped() const {
  const std::uint16_t s0 = state_.status[0];
  return (s0 & kStatusStopped) != 0 && (s0 & kStatusExecuting) == 0;
}

bool ExecutionControl::RunRoutine(bool step) {
  {
    Hold run(runLock_);
    Hold link(cmd_.Link().Lock());
    hostStop_ = false;
    // A stop that arrived before this run could start ends it here: it
    // holds the run lock only once this run is under way.
    if (Halted()) return false;
    stepping_ = step;
    state_.pcShadow = registers_.Record().pc & 0xFFFF;
    pc16_ = static_cast<std::uint16_t>(state_.pcShadow);
    // A step arms nothing; the list stays for the runs that follow.
    if (!step) bp_.ArmAllInEmulator();
    state_.executing = true;
    cmd_.ReadStatus(true);
    auto& W = state_.W;
    W[2] = static_cast<std::uint16_t>(W[2] & 0x3080);
    W[0] = static_cast<std::uint16_t>((W[0] & 0x1FFF) | 0x0400);
    cmd_.WriteConfiguration();
    prep_.ClearRunIndicator();
    cmd_.WriteRegisters();
    cmd_.WriteConfiguration();
    if (step)
      cmd_.Step();
    else
      cmd_.Run();
  }
  Poll();
  Hold run(runLock_);
  Hold link(cmd_.Link().Lock());
  if (!hostStop_) {
    transfers_.RefreshAfterStop();
    if (!step) PcCorrection();
    state_.executing = false;
    if (!step) bp_.DisarmAllInEmulator();
  }
  pc16_ = static_cast<std::uint16_t>(state_.pcShadow & 0xFFFF);
  prep_.UpdateRunIndicator();
  return true;
}

void ExecutionControl::Poll() {
  for (;;) {
    {
      // A pending stop gets the run lock before the next poll.
      std::unique_lock<std::mutex> wait(handoffMutex_);
      handoff_.wait(wait, [this] { return stopsWaiting_ == 0; });
    }
    Hold run(runLock_);
    Hold link(cmd_.Link().Lock());
    if (!state_.executing) return;
    prep_.UpdateRunIndicator();
    // A failed link sends nothing and never reports a stop: the run ends
    // instead of polling a dead link at full speed.
    if (LinkFailed() || StatusStopped()) {
      state_.executing = false;
      return;
    }
  }
}

void ExecutionControl::PcCorrection() {
  if (config_.EmulatorIndex >= 8) return;
  const int pod = config_.PodNumber();
  if (pod != 8 && pod != 9) return;
  if (pods_[static_cast<std::size_t>(pod - 1)].Family != 0) return;
  for (const std::uint16_t e : bp_.List()) {
    if (std::uint32_t{e} + 1 == state_.pcShadow) {
      state_.pcShadow -= 1;
      registers_.PcAddress() -= 1;
      return;
    }
  }
}

bool ExecutionControl::SingleStep() {
  const bool started = RunRoutine(true);
  registers_.SyncPc();
  recomputeAbandon_();
  return started;
}

bool ExecutionControl::Go() {
  return RunRoutine(false);
}

void ExecutionControl::GoLoop(std::uint32_t until) {
  bp_.SetHitRecord(nullptr);
  // A stop that arrived while nothing ran cancels this go.
  if (stopRequest_.exchange(false)) return;
  const std::uint16_t until16 = static_cast<std::uint16_t>(until & 0xFFFF);
  // The PC where the target stands with its breakpoint already accounted
  // for: a go from there first steps off it, since the emulator stops before
  // an armed address without executing it.
  std::optional<std::uint16_t> seen = pc16_;
  if (!bp_.OtherKindsCounted()) {
    if (bp_.BreakpointAt(registers_.PcAddress())) {
      if (SingleStep()) seen.reset();
    }
    bp_.Arm(until);
  }
  while (!Halted()) {
    if (bp_.BreakpointAt(until) || bp_.OtherKindsCounted()) {
      // A step that did not run leaves nothing new to evaluate.
      if (!SingleStep()) break;
      invalidate_();
      seen = pc16_;
      if (bp_.Evaluate(registers_.PcAddress()) == Breakpoints::kStop) break;
      if (bp_.BreakpointAt(registers_.PcAddress())) continue;
    }
    if (bp_.OtherKindsCounted()) continue;
    temporary_.flags &= ~kBpEnabled;
    bool temporaryListed = false;
    if (bp_.HitRecord() == nullptr && until != kNoUntil) {
      temporary_ = BreakpointRecord{};
      temporary_.flags = kBpEnabled;  // kind 0
      temporary_.remainingCount = 1;
      temporary_.initialCount = 1;
      temporary_.address = until;
      bp_.SetHitRecord(&temporary_);
      temporaryListed = bp_.ListAdd(until16);
    }
    // Off the address the target stands on, if it is armed now.
    bool started = true;
    if (seen == pc16_ && bp_.Listed(pc16_)) started = SingleStep() && !Halted();
    if (started) started = Go();
    if ((temporary_.flags & kBpEnabled) != 0) {
      // Only what this pass added: a host breakpoint at the same address stays.
      if (temporaryListed) bp_.ListRemove(until16);
      bp_.SetHitRecord(nullptr);
    }
    registers_.SyncPc();
    // A run that never started, or ended by a failed link, stopped nowhere new.
    if (!started || LinkFailed()) break;
    seen = pc16_;
    if (bp_.Evaluate(registers_.PcAddress()) != Breakpoints::kContinue) break;
  }
  bp_.Disarm(until);
  // Addresses of breakpoints the host deleted or disabled during the run are
  // not found by the disarm; none of them may stay armed for the next go.
  bp_.ListEmpty();
}

std::int32_t ExecutionControl::Run(std::uint16_t code, std::uint32_t count,
                                   const AddressRecord* until) {
  if (code == 2) {
    // The count is the host's signed number: 0 or below steps nothing.
    for (auto n = static_cast<std::int32_t>(count); n > 0 && !Halted(); --n) SingleStep();
  } else if (code == 3 || code == 4) {
    GoLoop(code == 3 ? until->address : kNoUntil);
  }
  stopRequest_ = false;
  invalidate_();
  return 0;
}

std::int32_t ExecutionControl::Stop() {
  // Nothing runs: the target is stopped already.
  if (!running_) return 1;
  {
    std::lock_guard<std::mutex> hold(handoffMutex_);
    ++stopsWaiting_;
  }
  {
    Hold run(runLock_);
    Hold link(cmd_.Link().Lock());
    if (state_.executing) {
      hostStop_ = true;
      cmd_.ReadStatus(true);
      // A target already stopped before the request stopped on an armed
      // address: only then does the PC need the correction of pods 8 and 9.
      // One that stops on the request stops where it is, and a step keeps
      // the PC it leaves, even with the go's list still armed.
      const bool onArmedAddress = !stepping_ && StatusStopped() && !LinkFailed();
      prep_.RequestStop();
      cmd_.ReadStatus(true);
      // The emulator may take a few polls to confirm; a bounded number.
      for (int i = 0; i < kStopConfirmReads && !StatusStopped() && !LinkFailed(); ++i)
        cmd_.ReadStatus(false);
      if (StatusStopped()) state_.executing = false;
      if (state_.executing && !LinkFailed()) {
        // The emulator did not stop: every later command does nothing until
        // the link is reopened, and the failure text can say why. A failed
        // exchange keeps its own kind: the status it left is stale.
        cmd_.Link().Fail(kErrorMcuReset);
      }
      transfers_.RefreshAfterStop();
      if (onArmedAddress) PcCorrection();
      state_.executing = false;
      bp_.DisarmAllInEmulator();
      pc16_ = static_cast<std::uint16_t>(state_.pcShadow & 0xFFFF);
      prep_.UpdateRunIndicator();
    }
  }
  {
    std::lock_guard<std::mutex> hold(handoffMutex_);
    --stopsWaiting_;
  }
  handoff_.notify_all();
  return 1;
}

}  // namespace kz
