// Breakpoints: break, delete, disable, enable, breaks.
#include <algorithm>

#include "cli/Handlers.h"
#include "debug/Expression.h"

namespace kz51::cli {

namespace {

CommandResult SetBreakpoint(Call& call, bool temporary) {
  if (call.argc() < 1) return call.Usage();
  Symbols& symbols = call.symbols();
  std::string error;
  std::string where;
  // A function stops after its prologue, where its parameters hold.
  auto resolved = call.commands.model().ResolveLocation(call.arg(0), &where);
  if (!resolved) return call.Fail(resolved.error());
  const std::uint32_t address = *resolved;
  std::uint32_t count = 1;
  std::string command, condition;
  for (std::size_t i = 1; i < call.argc(); ++i) {
    if (call.arg(i) == "count" && i + 1 < call.argc()) {
      if (!ParseCount(call.arg(++i), count, error)) return call.Fail(error);
    } else if (call.arg(i) == "command" && i + 1 < call.argc()) {
      // The rest of the line, as typed.
      command = Trim(call.From(i + 1));
      if (command.size() >= 2 && command.front() == '"' && command.back() == '"')
        command = command.substr(1, command.size() - 2);
      break;
    } else if (call.arg(i) == "if" && i + 1 < call.argc() && condition.empty()) {
      // The expression runs to "command" or the end; a final "count N"
      // belongs to the breakpoint.
      std::size_t end = i + 1;
      while (end < call.argc() && call.arg(end) != "command") ++end;
      std::uint32_t n = 0;
      if (end >= i + 4 && call.arg(end - 2) == "count" && ParseNumber(call.arg(end - 1), n)) {
        if (!ParseCount(call.arg(end - 1), count, error)) return call.Fail(error);
        end -= 2;
      }
      const std::size_t from = call.args[i + 1].at;
      const std::size_t to = end < call.argc() ? call.args[end].at : call.line.size();
      condition = Trim(call.line.substr(from, to - from));
      const auto parsed = debug::ParseExpression(condition);
      if (!parsed.expr) return call.Fail("the condition " + condition + ": " + parsed.error);
      i = end - 1;
    } else {
      return call.Fail("unexpected '" + call.arg(i) + "' (usage: " + call.entry.usage + ")");
    }
  }
  if (const CommandSpec* runs = RunsTarget(command);
      runs != nullptr && !(std::string(runs->name) == "go" && SplitWords(command).size() == 1))
    return call.Fail(RunRefusal(command));
  // A condition is tested at every hit: the driver stops at each, and the
  // count is of the hits at which it held.
  const bool conditional = !condition.empty();
  auto b = call.session.AddBreakpoint(address, where, conditional ? 1 : static_cast<int>(count),
                                      conditional ? std::string() : command, temporary);
  if (!b) return call.Fail(b.error());
  if (conditional)
    call.commands.SetCondition(b->number, {condition, static_cast<int>(count), 0, command});
  Json& j = call.r.json;
  j["number"] = b->number;
  j["address"] = b->address;
  j["location"] = b->location;
  j["count"] = static_cast<int>(count);
  if (conditional) j["condition"] = condition;
  if (!command.empty()) j["commandText"] = command;
  if (temporary) j["temporary"] = true;
  std::string& text = call.r.text;
  text = std::string(temporary ? "temporary " : "") + "breakpoint " + std::to_string(b->number) +
         " at " + LineText(symbols, b->address);
  if (conditional) text += ", if " + condition;
  if (count > 1) text += ", acts on hit " + std::to_string(count);
  if (!command.empty()) text += ", runs \"" + command + "\"";
  return call.r;
}

// delete, disable and enable: one breakpoint by number.
CommandResult OnBreakpoint(Call& call, const char* done,
                           Result<Done> (*act)(Session&, int number)) {
  if (call.argc() != 1) return call.Usage();
  std::uint32_t n = 0;
  std::string error;
  if (!ParseCount(call.arg(0), n, error))
    return call.Fail("'" + call.arg(0) + "' is not a breakpoint number");
  auto r = act(call.session, static_cast<int>(n));
  if (!r) return call.Fail(r.error());
  if (std::string(done) == "deleted") call.commands.DropCondition(static_cast<int>(n));
  call.r.json["number"] = n;
  call.r.text = std::string(done) + " breakpoint " + std::to_string(n);
  return call.r;
}

}  // namespace

CommandResult BreakCommand(Call& call) {
  return SetBreakpoint(call, false);
}

CommandResult TbreakCommand(Call& call) {
  return SetBreakpoint(call, true);
}

CommandResult DeleteCommand(Call& call) {
  if (call.argc() == 1 && call.arg(0) == "all") {
    auto n = call.session.DeleteAllBreakpoints();
    if (!n) return call.Fail(n.error());
    call.commands.DropCondition(0);
    call.r.json["deleted"] = *n;
    call.r.text = "deleted " + std::to_string(*n) + " breakpoint" + (*n == 1 ? "" : "s");
    return call.r;
  }
  return OnBreakpoint(call, "deleted", [](Session& s, int n) { return s.DeleteBreakpoint(n); });
}

CommandResult DisableCommand(Call& call) {
  return OnBreakpoint(call, "disabled",
                      [](Session& s, int n) { return s.EnableBreakpoint(n, false); });
}

CommandResult EnableCommand(Call& call) {
  return OnBreakpoint(call, "enabled",
                      [](Session& s, int n) { return s.EnableBreakpoint(n, true); });
}

CommandResult BreaksCommand(Call& call) {
  Json list = Json::array();
  std::string text;
  for (const auto& b : call.session.Breakpoints()) {
    Json j;
    j["number"] = b.number;
    j["address"] = b.address;
    j["location"] = b.location;
    j["enabled"] = b.enabled;
    const auto c = call.commands.ConditionOf(b.number);
    const int count = c ? c->count : b.count;
    const int remaining = c ? std::max(0, c->count - c->hits) : b.remaining;
    const std::string command = c ? c->command : b.command;
    j["count"] = count;
    j["remaining"] = remaining;
    if (c) j["condition"] = c->expression;
    if (!command.empty()) j["commandText"] = command;
    if (b.temporary) j["temporary"] = true;
    list.push_back(j);
    if (!text.empty()) text += "\n";
    text += std::to_string(b.number) + "  " + (b.enabled ? "on " : "off") + "  " +
            LineText(call.symbols(), b.address);
    if (c) text += "  if " + c->expression;
    if (count > 1) text += "  hits left " + std::to_string(remaining);
    if (!command.empty()) text += "  runs \"" + command + "\"";
    if (b.temporary) text += "  temporary";
  }
  call.r.json["breakpoints"] = list;
  call.r.text = text.empty() ? "no breakpoints" : text;
  return call.r;
}

}  // namespace kz51::cli
