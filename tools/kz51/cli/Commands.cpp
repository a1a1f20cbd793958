#include "cli/Commands.h"

#include <utility>

#include "cli/Call.h"
#include "cli/CommandTable.h"
#include "debug/Evaluator.h"

namespace kz51::cli {

Commands::Commands(Session& session, std::string driverPath,
                   std::function<void(const CommandResult&)> out)
    : session_(session),
      driverPath_(std::move(driverPath)),
      out_(std::move(out)),
      target_(std::make_unique<debug::SessionTarget>(session)),
      model_(std::make_unique<debug::DebugModel>(*target_, session.symbols())) {
  // A breakpoint's command text runs with the target stopped at it; its
  // result joins the go's result.
  session_.SetCommandRunner([this](const std::string& text) { ShowBreakpointCommand(text); });
  session_.SetBreakpointFilter([this](int number) { return ConditionHolds(number); });
}

void Commands::ShowBreakpointCommand(const std::string& text) {
  CommandResult r = RunBreakpointCommand(text);
  r.json["breakpointCommand"] = true;
  if (nested_ != nullptr) nested_->push_back(r.json);
  if (!r.text.empty() && out_) {
    CommandResult shown;
    shown.text = r.text;
    shown.ok = r.ok;
    shown.json = nullptr;  // shown only as text; the JSON goes with the go
    out_(shown);
  }
}

void Commands::SetCondition(int breakpoint, Condition c) {
  std::lock_guard<std::mutex> lock(conditionsMutex_);
  conditions_[breakpoint] = std::move(c);
}

void Commands::DropCondition(int breakpoint) {
  std::lock_guard<std::mutex> lock(conditionsMutex_);
  if (breakpoint == 0) {
    conditions_.clear();
  } else {
    conditions_.erase(breakpoint);
  }
}

std::optional<Commands::Condition> Commands::ConditionOf(int breakpoint) {
  std::lock_guard<std::mutex> lock(conditionsMutex_);
  const auto it = conditions_.find(breakpoint);
  if (it == conditions_.end()) return std::nullopt;
  return it->second;
}

std::string Commands::TakeConditionError() {
  std::lock_guard<std::mutex> lock(conditionsMutex_);
  return std::exchange(conditionError_, std::string());
}

bool Commands::ConditionHolds(int breakpoint) {
  auto c = ConditionOf(breakpoint);
  if (!c) return true;
  // A model of its own: this runs on the thread of the run.
  debug::SessionTarget target(session_);
  debug::DebugModel model(target, session_.symbols());
  auto v = model.Evaluate(c->expression);
  std::string error;
  bool holds = false;
  if (!v) {
    error = v.error();
  } else if (!v->Available()) {
    error = "its value is unavailable: " + v->unavailable;
  } else if (!v->type->IsScalar()) {
    error = "it is " + v->type->Describe() + ", not a number or pointer";
  } else if (auto r = model.Load(*v); !r) {
    error = r.error();
  } else {
    holds = debug::IsTrue(*v);
  }
  std::unique_lock<std::mutex> lock(conditionsMutex_);
  if (!error.empty()) {
    // An error stops the run where it is, with the reason.
    conditionError_ = "the condition of breakpoint " + std::to_string(breakpoint) + " (" +
                      c->expression + ") cannot be evaluated here: " + error;
    return true;
  }
  if (!holds) return false;
  auto& kept = conditions_[breakpoint];
  if (++kept.hits < kept.count) return false;
  if (kept.command.empty()) return true;
  const std::string command = kept.command;
  lock.unlock();
  ShowBreakpointCommand(command);
  return false;
}

bool Commands::EnsureDriver(std::string& error) {
  if (session_.IsOpen()) return true;
  auto r = session_.Open(driverPath_);
  if (!r) {
    error = "cannot use the driver library: " + r.error();
    return false;
  }
  return true;
}

// A breakpoint's command runs while the run it stopped is under way, and that
// run goes on after it by itself: `go` there means just that (as gdb's
// `continue` in breakpoint commands); other runs are refused when the
// breakpoint is set.
CommandResult Commands::RunBreakpointCommand(const std::string& text) {
  const CommandSpec* entry = RunsTarget(text);
  if (entry == nullptr) return Run(text);
  CommandResult r;
  r.json["command"] = Trim(text);
  if (std::string(entry->name) == "go" && SplitWords(Trim(text)).size() == 1) {
    r.json["ok"] = true;
    r.json["continues"] = true;
    return r;
  }
  r.ok = false;
  r.json["ok"] = false;
  r.json["error"] = RunRefusal(text);
  r.text = "error: " + r.json["error"].get<std::string>();
  return r;
}

const CommandSpec* CommandOf(const std::string& line) {
  std::vector<std::string> words;
  for (const auto& w : SplitWords(Trim(line))) words.push_back(w.text);
  return FindCommand(words).entry;
}

const CommandSpec* RunsTarget(const std::string& text) {
  const CommandSpec* entry = CommandOf(text);
  return entry != nullptr && (entry->flags & kRunsTarget) != 0 ? entry : nullptr;
}

std::string RunRefusal(const std::string& text) {
  return "a breakpoint's command cannot run the target ('" + Trim(text) +
         "'): the run goes on by itself after the command (go or continue says just that)";
}

std::string Commands::Repetition(const std::string& line) {
  std::vector<std::string> words;
  for (const auto& w : SplitWords(Trim(line))) words.push_back(w.text);
  const CommandMatch m = FindCommand(words);
  if (m.entry == nullptr || (m.entry->flags & kRepeats) == 0) return "";
  if (std::string(m.entry->name) == "list") return "list";
  return Trim(line);
}

CommandResult Commands::Execute(const std::string& line) {
  CommandResult r = Run(line);
  if (out_) out_(r);
  return r;
}

CommandResult Commands::Run(const std::string& rawLine) {
  const std::string line = Trim(rawLine);
  std::vector<Word> words = SplitWords(line);
  std::vector<std::string> texts;
  for (const auto& w : words) texts.push_back(w.text);
  const CommandMatch match = FindCommand(texts);
  static const CommandSpec kNone{"", "", "", "", false, nullptr};
  Call call(
      *this, session_, match.entry != nullptr ? *match.entry : kNone, line,
      std::vector<Word>(words.begin() + static_cast<std::ptrdiff_t>(match.words), words.end()));
  call.r.json["command"] = line;
  call.r.json["ok"] = true;
  if (words.empty()) return call.Fail("empty command");
  if (match.entry == nullptr)
    return call.Fail("unknown command '" + words[0].text + "' (help lists the commands)");
  std::string error;
  if (match.entry->needsDriver && !EnsureDriver(error)) return call.Fail(error);
  return match.entry->handler(call);
}

}  // namespace kz51::cli
