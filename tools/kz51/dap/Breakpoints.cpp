// Breakpoints of the debug adapter: line, function and instruction
// breakpoints with their ids, conditions, hit conditions and log messages,
// armed at once also while the target runs.
#include <algorithm>
#include <cctype>

#include "dap/MemoryReference.h"
#include "dap/Server.h"
#include "debug/DebugModel.h"
#include "debug/Evaluator.h"
#include "debug/Expression.h"
#include "debug/Format.h"
#include "debug/Target.h"

namespace kzhost::dap {

using kz51::MemorySpace;

namespace {

// A hit condition: "N" (the Nth hit), "==N", ">=N", ">N", "<=N", "<N" or
// "%N" (every Nth hit).
struct HitCondition {
  std::string op;
  unsigned long n = 0;
};

bool ParseHitCondition(const std::string& text, HitCondition& out) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (const char* op : {"==", ">=", "<=", ">", "<", "%"}) {
    if (text.compare(i, std::string(op).size(), op) == 0) {
      out.op = op;
      i += out.op.size();
      break;
    }
  }
  if (out.op.empty()) out.op = "==";
  while (i < text.size() && text[i] == ' ') ++i;
  std::size_t end = text.find_last_not_of(' ');
  if (i >= text.size() || end == std::string::npos || end < i) return false;
  const std::string digits = text.substr(i, end - i + 1);
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out.n = std::stoul(digits);
  return !(out.op == "%" && out.n == 0);
}

bool HitConditionHolds(const HitCondition& c, unsigned long hits) {
  if (c.op == "==") return hits == c.n;
  if (c.op == ">=") return hits >= c.n;
  if (c.op == "<=") return hits <= c.n;
  if (c.op == ">") return hits > c.n;
  if (c.op == "<") return hits < c.n;
  return hits % c.n == 0;
}

// The {expression} parts of a log message ("{{" and "}}" are braces).
std::vector<std::string> LogExpressions(const std::string& message) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message.compare(i, 2, "{{") == 0 || message.compare(i, 2, "}}") == 0) {
      ++i;
    } else if (message[i] == '{') {
      const auto close = message.find('}', i + 1);
      if (close == std::string::npos) break;
      out.push_back(message.substr(i + 1, close - i - 1));
      i = close;
    }
  }
  return out;
}

}  // namespace

std::string Server::CheckConditions(const json& request) const {
  if (!request.is_object()) return "";
  if (auto c = request.find("condition");
      c != request.end() && c->is_string() && !c->get<std::string>().empty()) {
    const auto parsed = kz51::debug::ParseExpression(c->get<std::string>());
    if (!parsed.error.empty()) return "condition: " + parsed.error;
  }
  if (auto h = request.find("hitCondition");
      h != request.end() && h->is_string() && !h->get<std::string>().empty()) {
    HitCondition hc;
    if (!ParseHitCondition(h->get<std::string>(), hc))
      return "hit condition \"" + h->get<std::string>() +
             "\": write N (the Nth hit), ==N, >=N, >N, <=N, <N or %N (every Nth hit)";
  }
  if (auto m = request.find("logMessage"); m != request.end() && m->is_string()) {
    for (const auto& e : LogExpressions(m->get<std::string>())) {
      const auto parsed = kz51::debug::ParseExpression(e);
      if (!parsed.error.empty()) return "log message {" + e + "}: " + parsed.error;
    }
  }
  return "";
}

Server::Wanted Server::Want(BpKind kind, std::uint32_t address, const std::string& location,
                            const json& request) {
  Wanted w;
  w.kind = kind;
  w.address = address;
  w.location = location;
  if (request.is_object()) {
    w.condition = request.value("condition", std::string());
    w.hitCondition = request.value("hitCondition", std::string());
    w.logMessage = request.value("logMessage", std::string());
  }
  for (const Wanted& old : breakpoints_) {
    if (old.kind != kind || old.location != location || old.address != address) continue;
    w.id = old.id;
    if (old.condition == w.condition && old.hitCondition == w.hitCondition) w.hits = old.hits;
  }
  if (w.id == 0) w.id = nextBreakpointId_++;
  return w;
}

void Server::SyncBreakpoints() {
  std::lock_guard<std::recursive_mutex> lock(control_);
  if (!breakpointsDirty_ || session_.Running()) return;
  breakpointsDirty_ = false;
  session_.DeleteAllBreakpoints();
  std::vector<std::uint32_t> armed;
  for (const Wanted& w : breakpoints_) {
    if (std::find(armed.begin(), armed.end(), w.address) != armed.end()) continue;
    armed.push_back(w.address);
    if (auto b = session_.AddBreakpoint(w.address, w.location, 1, ""); !b)
      log_.Line("breakpoint at " + HexAddress(w.address) + ": " + b.error());
  }
}

void Server::ApplyBreakpoints(BpKind kind, std::vector<Wanted> wanted) {
  breakpoints_.erase(std::remove_if(breakpoints_.begin(), breakpoints_.end(),
                                    [kind](const Wanted& w) { return w.kind == kind; }),
                     breakpoints_.end());
  breakpoints_.insert(breakpoints_.end(), wanted.begin(), wanted.end());
  breakpointsDirty_ = true;
  if (!running_) {
    SyncBreakpoints();
  } else if (runKind_ == kz51::Session::RunKind::Go && !pauseRequested_) {
    // While a continue runs: pause it; the waiter arms the list and runs on.
    // A step's run arms them when it ends.
    rearm_ = true;
    session_.Stop();
  }
}

json Server::SetBreakpoints(const json& args) {
  std::lock_guard<std::recursive_mutex> lock(control_);
  const json& source = args.at("source");
  const std::string path = source.value("path", std::string());
  const std::string name = source.value("name", std::string());
  if (path.empty() && name.empty()) throw RequestError{"setBreakpoints needs a source path"};
  const std::string file = kz51::FileNameOf(path.empty() ? name : path);
  auto& symbols = session_.symbols();
  // The editor's own path of the file is the one to send back.
  if (!path.empty()) symbols.Sources().AddClientPath(path);
  std::vector<json> requests;
  if (auto b = args.find("breakpoints"); b != args.end() && b->is_array()) {
    for (const auto& bp : *b) requests.push_back(bp);
  } else if (auto l = args.find("lines"); l != args.end() && l->is_array()) {
    for (const auto& n : *l) requests.push_back(json{{"line", n}});
  }
  std::vector<Wanted> wanted;
  json out = json::array();
  for (const json& request : requests) {
    const unsigned line = request.at("line").get<unsigned>();
    json r{{"verified", false}, {"line", line}, {"source", SourceOf(file)}};
    if (!symbols.HasLinesOf(file)) {
      r["message"] = "no code of " + file + " in the program's debug information";
    } else if (const auto code = symbols.FirstCodeLine(file, line); !code) {
      r["message"] = "no code at or after line " + std::to_string(line) + " of " + file;
    } else if (const std::string bad = CheckConditions(request); !bad.empty()) {
      r["message"] = bad;
    } else {
      // The first line at or after the requested one with code in a function;
      // the line that starts a function stops after its prologue.
      const std::uint32_t at = model_.LineBreakAddress(code->address);
      const Wanted w = Want(BpKind::Line, at, file + ":" + std::to_string(code->line), request);
      wanted.push_back(w);
      r["verified"] = true;
      r["line"] = code->line;
      r["instructionReference"] = MemoryReference(MemorySpace::Code, at);
      r["id"] = w.id;
    }
    if (!r.contains("id")) r["id"] = nextBreakpointId_++;
    out.push_back(r);
  }
  // Only this file's line breakpoints are replaced.
  std::vector<Wanted> keep;
  for (const Wanted& w : breakpoints_)
    if (w.kind == BpKind::Line && w.location.rfind(file + ":", 0) != 0) keep.push_back(w);
  keep.insert(keep.end(), wanted.begin(), wanted.end());
  ApplyBreakpoints(BpKind::Line, keep);
  return json{{"breakpoints", out}};
}

json Server::SetFunctionBreakpoints(const json& args) {
  std::lock_guard<std::recursive_mutex> lock(control_);
  std::vector<Wanted> wanted;
  json out = json::array();
  for (const auto& bp : args.at("breakpoints")) {
    const std::string name = bp.at("name").get<std::string>();
    json r{{"verified", false}};
    std::uint32_t a = 0;
    std::string error;
    // A function stops after its prologue, where its parameters hold.
    if (auto resolved = model_.ResolveLocation(name, nullptr)) {
      a = *resolved;
    } else {
      r["message"] = session_.symbols().FindFunction(name) != nullptr
                         ? resolved.error()
                         : "no function " + name + " in the program";
    }
    if (!r.contains("message")) {
      if (const std::string bad = CheckConditions(bp); !bad.empty()) r["message"] = bad;
    }
    if (!r.contains("message")) {
      const Wanted w = Want(BpKind::Function, a, name, bp);
      wanted.push_back(w);
      r["verified"] = true;
      r["id"] = w.id;
      r["instructionReference"] = MemoryReference(MemorySpace::Code, a);
      if (auto line = session_.symbols().LineAt(a)) {
        r["line"] = line->line;
        r["source"] = SourceOf(line->file);
      }
    } else {
      r["id"] = nextBreakpointId_++;
    }
    out.push_back(r);
  }
  ApplyBreakpoints(BpKind::Function, wanted);
  return json{{"breakpoints", out}};
}

json Server::SetInstructionBreakpoints(const json& args) {
  std::lock_guard<std::recursive_mutex> lock(control_);
  std::vector<Wanted> wanted;
  json out = json::array();
  for (const auto& bp : args.at("breakpoints")) {
    json r{{"verified", false}};
    MemorySpace space = MemorySpace::Code;
    std::uint32_t a = 0;
    try {
      json ref{{"ref", bp.at("instructionReference")}, {"offset", bp.value("offset", 0)}};
      ParseMemoryReference(ref, "ref", space, a);
      if (space != MemorySpace::Code) throw RequestError{"instruction breakpoints lie in code"};
      if (const std::string bad = CheckConditions(bp); !bad.empty()) throw RequestError{bad};
    } catch (const RequestError& e) {
      r["message"] = e.message;
      r["id"] = nextBreakpointId_++;
      out.push_back(r);
      continue;
    }
    const Wanted w = Want(BpKind::Instruction, a, HexAddress(a), bp);
    wanted.push_back(w);
    r["verified"] = true;
    r["id"] = w.id;
    r["instructionReference"] = MemoryReference(MemorySpace::Code, a);
    out.push_back(r);
  }
  ApplyBreakpoints(BpKind::Instruction, wanted);
  return json{{"breakpoints", out}};
}

std::vector<int> Server::BreakpointsActing(std::uint32_t pc, bool& wantedHere) {
  std::vector<int> ids;
  wantedHere = false;
  kz51::debug::SessionTarget target(session_);
  kz51::debug::DebugModel model(target, session_.symbols());
  for (Wanted& w : breakpoints_) {
    if (w.address != pc) continue;
    wantedHere = true;
    if (!w.condition.empty()) {
      // C's truth: the condition compared with 0.
      auto v = model.Evaluate("(" + w.condition + ") != 0");
      std::string why;
      if (!v) {
        why = v.error();
      } else if (!v->Available()) {
        why = v->unavailable;
      } else if (auto loaded = model.Load(*v); !loaded) {
        why = loaded.error();
      } else if (kz51::debug::IntegerValue(*v) == 0) {
        continue;
      }
      if (!why.empty()) {
        // A condition that cannot be evaluated stops, saying why.
        SendEvent("output", {{"category", "console"},
                             {"output", "breakpoint condition \"" + w.condition +
                                            "\" could not be evaluated: " + why + "\n"}});
      }
    }
    ++w.hits;
    if (!w.hitCondition.empty()) {
      HitCondition hc;
      if (ParseHitCondition(w.hitCondition, hc) && !HitConditionHolds(hc, w.hits)) continue;
    }
    if (!w.logMessage.empty()) {
      SendEvent("output", {{"category", "console"}, {"output", Interpolate(w.logMessage) + "\n"}});
      continue;
    }
    ids.push_back(w.id);
  }
  return ids;
}

std::string Server::Interpolate(const std::string& message) {
  kz51::debug::SessionTarget target(session_);
  kz51::debug::DebugModel model(target, session_.symbols());
  std::string out;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message.compare(i, 2, "{{") == 0 || message.compare(i, 2, "}}") == 0) {
      out += message[i++];
      continue;
    }
    const auto close = message[i] == '{' ? message.find('}', i + 1) : std::string::npos;
    if (close == std::string::npos) {
      out += message[i];
      continue;
    }
    const std::string expression = message.substr(i + 1, close - i - 1);
    auto v = model.Evaluate(expression);
    if (!v) {
      out += "<" + v.error() + ">";
    } else {
      kz51::debug::FormatStyle style;
      style.compact = true;
      out += kz51::debug::FormatValue(model, *v, style);
    }
    i = close;
  }
  return out;
}

}  // namespace kzhost::dap
