// Run control of the debug adapter: continue, next, stepIn, stepOut, pause,
// and the waiter thread that handles the stop of each run.
#include "dap/Server.h"
#include "debug/DebugModel.h"
#include "debug/ReturnPoint.h"
#include "debug/Target.h"

namespace kzhost::dap {

using kz51::Session;
using kz51::StopReason;

namespace {
constexpr int kThreadId = 1;
}  // namespace

void Server::JoinWaiter() {
  if (waiter_.joinable()) waiter_.join();
}

void Server::ResetHandles() {
  handles_.clear();
}

void Server::StartRun(Session::RunKind kind, const char* stepReason, std::uint32_t argument) {
  JoinWaiter();
  ResetHandles();
  SyncBreakpoints();
  pauseRequested_ = false;
  rearm_ = false;
  runKind_ = kind;
  if (kind == Session::RunKind::Finish) {
    // Where the function returns to, from the frame walk.
    kz51::debug::SessionTarget target(session_);
    kz51::debug::DebugModel model(target, session_.symbols());
    session_.SetReturnPoint(kz51::debug::ReturnPointOf(model));
  }
  // An instruction step steps one.
  if (kind == Session::RunKind::Step) argument = 1;
  if (auto r = session_.Start(kind, argument); !r) {
    FlushSerial();
    SendEvent("output", {{"category", "stderr"}, {"output", r.error() + "\n"}});
    SendEvent("stopped", {{"reason", "pause"}, {"threadId", kThreadId}, {"text", r.error()}});
    return;
  }
  running_ = true;
  log_.Line("run started");
  const std::string reason = stepReason;
  waiter_ = std::thread([this, reason] { WaitForStop(reason); });
}

// On the waiter thread. A continue goes on without a visible stop after the
// pause that armed breakpoints set while it ran, and after breakpoints that
// do not act (a condition false, a hit count not reached, a log point).
void Server::WaitForStop(const std::string& stepReason) {
  for (;;) {
    auto stop = session_.Wait();
    std::lock_guard<std::recursive_mutex> lock(control_);
    const bool armed =
        rearm_.exchange(false) && stop && stop->reason == StopReason::Stopped && !pauseRequested_;
    std::vector<int> acting;
    bool goOn = armed;
    if (stop && stop->reason == StopReason::Breakpoint && !pauseRequested_) {
      bool wantedHere = false;
      acting = BreakpointsActing(stop->pc, wantedHere);
      goOn = wantedHere && acting.empty() && runKind_ == Session::RunKind::Go;
    }
    if (goOn) {
      if (armed) log_.Line("paused to arm breakpoints; the run goes on");
      SyncBreakpoints();
      auto r = session_.Start(Session::RunKind::Go);
      if (r) continue;
      stop = kz51::Result<kz51::StopEvent>::Fail(r.error());
    }
    ReportStop(stop, stepReason, acting);
    return;
  }
}

void Server::ReportStop(const kz51::Result<kz51::StopEvent>& stop, const std::string& stepReason,
                        const std::vector<int>& hitIds) {
  if (restarting_) {
    running_ = false;
    return;
  }
  json body{{"threadId", kThreadId}, {"allThreadsStopped", true}};
  if (!stop) {
    body["reason"] = "pause";
    body["text"] = stop.error();
    SendEvent("output", {{"category", "stderr"}, {"output", stop.error() + "\n"}});
  } else if (pauseRequested_) {
    body["reason"] = "pause";
  } else if (stop->reason == StopReason::Breakpoint &&
             (!hitIds.empty() || runKind_ == Session::RunKind::Go)) {
    body["reason"] = "breakpoint";
    if (!hitIds.empty()) body["hitBreakpointIds"] = hitIds;
  } else if (stop->reason == StopReason::Stopped) {
    body["reason"] = "pause";
  } else {
    // A step that ended on a breakpoint which did not act ends as a step.
    body["reason"] = stepReason;
  }
  running_ = false;
  log_.Line("stopped: " + body["reason"].get<std::string>());
  FlushSerial();
  SendEvent("stopped", body);
}

Session::RunKind Server::StepKind(const json& args, Session::RunKind lines) const {
  if (args.value("steppingGranularity", std::string()) != "instruction") return lines;
  switch (lines) {
    case Session::RunKind::Next:
      return Session::RunKind::NextInstruction;
    case Session::RunKind::StepLine:
      return Session::RunKind::Step;
    default:
      return lines;
  }
}

json Server::Continue(const json&) {
  after_.push_back([this] { StartRun(Session::RunKind::Go, "step"); });
  return json{{"allThreadsContinued", true}};
}

json Server::Next(const json& args) {
  const auto kind = StepKind(args, Session::RunKind::Next);
  after_.push_back([this, kind] { StartRun(kind, "step"); });
  return nullptr;
}

json Server::StepIn(const json& args) {
  const auto kind = StepKind(args, Session::RunKind::StepLine);
  after_.push_back([this, kind] { StartRun(kind, "step"); });
  return nullptr;
}

json Server::StepOut(const json& args) {
  // Back into the caller of the frame (the innermost unless a frameId is
  // given): its return address with the caller's SP.
  const int level = args.contains("frameId") ? FrameLevel(args["frameId"].get<int>()) : 0;
  const auto back = Require(model_.ReturnOf(level));
  const std::uint32_t argument = back.address | (std::uint32_t{back.sp} << 16);
  after_.push_back([this, argument] { StartRun(Session::RunKind::UntilFrame, "step", argument); });
  return nullptr;
}

json Server::Pause(const json&) {
  if (!running_) throw RequestError{"the target is not running"};
  pauseRequested_ = true;
  // The driver's stop answers once the run has ended, and the run's end
  // sends the stopped event: the response goes out first. A run that ended
  // by itself in between reports its own stop.
  after_.push_back([this] { session_.Stop(); });
  return nullptr;
}

}  // namespace kzhost::dap
