// Run control: go, wait, step, stepi, next, finish, stop. A run blocks until
// the target stops, or with a final `&` goes on in the background.
#include "cli/Handlers.h"
#include "debug/DebugModel.h"
#include "debug/ReturnPoint.h"
#include "debug/Target.h"

namespace kz51::cli {

namespace {

// True when the PC lies in a C line: `step` then steps lines.
bool StartsInLine(Session& session, const Symbols& symbols) {
  const auto pc = session.Pc();
  return pc.ok() && symbols.LineAt(*pc).has_value();
}

// Strips a final "&" from the arguments; true when there was one.
bool TakeBackground(std::vector<std::string>& rest, const std::vector<Word>& args) {
  for (const auto& a : args) rest.push_back(a.text);
  if (!rest.empty() && rest.back() == "&") {
    rest.pop_back();
    return true;
  }
  return false;
}

// Runs `kind` (or waits for a background run when `wait`), collecting the
// results of breakpoint commands run on the way, and describes the stop.
CommandResult Report(Call& call, Result<StopEvent> e, std::vector<Json>& nested) {
  call.commands.CollectBreakpointCommands(nullptr);
  call.commands.Listed() = {};  // `list` starts at the stop again
  if (!e) return call.Fail(e.error());
  Symbols& symbols = call.symbols();
  AddPlace(call.r.json, symbols, e->pc);
  call.r.json["reason"] = StopReasonName(e->reason);
  if (e->breakpoint != 0) call.r.json["breakpoint"] = e->breakpoint;
  if (!nested.empty()) call.r.json["commands"] = nested;
  const std::string conditionError = call.commands.TakeConditionError();
  if (!conditionError.empty()) call.r.json["conditionError"] = conditionError;
  std::string& text = call.r.text;
  switch (e->reason) {
    case StopReason::Breakpoint:
      text = "breakpoint " + std::to_string(e->breakpoint) + ": ";
      break;
    case StopReason::Until:
      text = "reached ";
      break;
    case StopReason::Stopped:
      text = "stopped at ";
      break;
    case StopReason::Step:
      break;
  }
  text += LineText(symbols, e->pc);
  if (!conditionError.empty()) text += "\n" + conditionError;
  // The C line stopped in, as gdb shows it: "23\t    buffer[i] = seed + i * 3;".
  if (const auto line = symbols.LineAt(e->pc)) {
    if (const auto source = symbols.Sources().LineText(line->file, line->line)) {
      call.r.json["source"] = *source;
      text += "\n" + std::to_string(line->line) + "\t" + *source;
    }
  }
  return call.r;
}

CommandResult Run(Call& call, Session::RunKind kind, std::uint32_t argument, bool background,
                  bool lines) {
  Session& session = call.session;
  if (kind == Session::RunKind::Finish || kind == Session::RunKind::Until ||
      kind == Session::RunKind::Advance) {
    // Where the function returns to, from the frame walk (also under an
    // interrupt handler, and past what the function pushed).
    debug::SessionTarget target(session);
    debug::DebugModel model(target, session.symbols());
    session.SetReturnPoint(debug::ReturnPointOf(model));
  }
  if (background) {
    auto s = session.Start(kind, argument);
    if (!s) return call.Fail(s.error());
    call.r.json["running"] = true;
    call.r.text = "running";
    return call.r;
  }
  std::vector<Json> nested;
  call.commands.CollectBreakpointCommands(&nested);
  Result<StopEvent> e = Result<StopEvent>::Fail("");
  if (lines) {
    // C lines, one at a time.
    for (std::uint32_t i = 0; i < argument; ++i) {
      e = session.StepLine();
      if (!e || e->reason != StopReason::Step) break;
    }
  } else {
    e = session.Run(kind, argument);
  }
  return Report(call, std::move(e), nested);
}

// step and stepi: [N] [&].
CommandResult StepCount(Call& call, bool lines) {
  std::vector<std::string> rest;
  const bool background = TakeBackground(rest, call.args);
  if (rest.size() > 1) return call.Usage();
  std::uint32_t count = 1;
  std::string error;
  if (!rest.empty() && !ParseCount(rest[0], count, error)) return call.Fail(error);
  return Run(call, Session::RunKind::Step, count, background,
             lines && !background && StartsInLine(call.session, call.symbols()));
}

// next and nexti: [N] [&]; N runs, one after the other, end at the first
// stop that is not a step's.
CommandResult Repeated(Call& call, Session::RunKind kind) {
  std::vector<std::string> rest;
  const bool background = TakeBackground(rest, call.args);
  if (rest.size() > 1) return call.Usage();
  std::uint32_t count = 1;
  std::string error;
  if (!rest.empty() && !ParseCount(rest[0], count, error)) return call.Fail(error);
  if (background) {
    if (count != 1) return call.Fail("a run in the background (&) steps once");
    return Run(call, kind, 0, true, false);
  }
  std::vector<Json> nested;
  call.commands.CollectBreakpointCommands(&nested);
  Result<StopEvent> e = Result<StopEvent>::Fail("");
  for (std::uint32_t i = 0; i < count; ++i) {
    e = kind == Session::RunKind::Next ? call.session.Next() : call.session.NextInstruction();
    if (!e || e->reason != StopReason::Step) break;
  }
  return Report(call, std::move(e), nested);
}

// until and advance: LOC [&].
CommandResult ToLocation(Call& call, Session::RunKind kind, bool optional) {
  std::vector<std::string> rest;
  const bool background = TakeBackground(rest, call.args);
  if (rest.size() > 1 || (rest.empty() && !optional)) return call.Usage();
  if (rest.empty()) return Run(call, Session::RunKind::UntilNext, 0, background, false);
  // A function is reached after its prologue, as its breakpoint is.
  auto address = call.commands.model().ResolveLocation(rest[0], nullptr);
  if (!address) return call.Fail(address.error());
  return Run(call, kind, *address, background, false);
}

}  // namespace

CommandResult GoCommand(Call& call) {
  std::vector<std::string> rest;
  const bool background = TakeBackground(rest, call.args);
  Session::RunKind kind = Session::RunKind::Go;
  std::uint32_t until = 0;
  if (!rest.empty()) {
    if (rest[0] != "until" || rest.size() != 2) return call.Usage();
    auto to = call.commands.model().ResolveLocation(rest[1], nullptr);
    if (!to) return call.Fail(to.error());
    until = *to;
    kind = Session::RunKind::GoUntil;
  }
  return Run(call, kind, until, background, false);
}

CommandResult WaitCommand(Call& call) {
  std::vector<std::string> rest;
  if (TakeBackground(rest, call.args)) return call.Usage();
  std::vector<Json> nested;
  call.commands.CollectBreakpointCommands(&nested);
  return Report(call, call.session.Wait(), nested);
}

CommandResult StepCommand(Call& call) {
  return StepCount(call, true);
}

CommandResult StepiCommand(Call& call) {
  return StepCount(call, false);
}

CommandResult NextCommand(Call& call) {
  return Repeated(call, Session::RunKind::Next);
}

CommandResult NextiCommand(Call& call) {
  return Repeated(call, Session::RunKind::NextInstruction);
}

CommandResult UntilCommand(Call& call) {
  return ToLocation(call, Session::RunKind::Until, true);
}

CommandResult AdvanceCommand(Call& call) {
  return ToLocation(call, Session::RunKind::Advance, false);
}

CommandResult FinishCommand(Call& call) {
  std::vector<std::string> rest;
  const bool background = TakeBackground(rest, call.args);
  if (!rest.empty()) return call.Usage();
  // Back into the caller of the selected frame: its return address with
  // the caller's SP (a deeper call of a recursion returns there too).
  debug::DebugModel& model = call.commands.model();
  auto back = model.ReturnOf(model.Selected());
  if (!back) return call.Fail(back.error());
  return Run(call, Session::RunKind::UntilFrame, back->address | (std::uint32_t{back->sp} << 16),
             background, false);
}

CommandResult StopCommand(Call& call) {
  auto s = call.session.Stop();
  if (!s) return call.Fail(s.error());
  call.r.text = "stop requested";
  return call.r;
}

}  // namespace kz51::cli
