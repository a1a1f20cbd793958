// Breakpoints: break, delete, disable, enable, breaks.
#include "cli/Handlers.h"

namespace kz51::cli {

namespace {

CommandResult SetBreakpoint(Call& call, bool temporary) {
  if (call.argc() < 1) return call.Usage();
  Symbols& symbols = call.symbols();
  std::string error;
  std::uint32_t address = 0;
  std::string where;
  if (!symbols.ResolveCode(call.arg(0), address, error, &where)) return call.Fail(error);
  std::uint32_t count = 1;
  std::string command;
  for (std::size_t i = 1; i < call.argc(); ++i) {
    if (call.arg(i) == "count" && i + 1 < call.argc()) {
      if (!ParseCount(call.arg(++i), count, error)) return call.Fail(error);
    } else if (call.arg(i) == "command" && i + 1 < call.argc()) {
      // The rest of the line, as typed.
      command = Trim(call.From(i + 1));
      if (command.size() >= 2 && command.front() == '"' && command.back() == '"')
        command = command.substr(1, command.size() - 2);
      break;
    } else {
      return call.Fail("unexpected '" + call.arg(i) + "' (usage: " + call.spec.usage + ")");
    }
  }
  if (const CommandSpec* runs = RunsTarget(command);
      runs != nullptr && !(std::string(runs->name) == "go" && SplitWords(command).size() == 1))
    return call.Fail(RunRefusal(command));
  auto b = call.session.AddBreakpoint(address, where, static_cast<int>(count), command, temporary);
  if (!b) return call.Fail(b.error());
  Json& j = call.r.json;
  j["number"] = b->number;
  j["address"] = b->address;
  j["location"] = b->location;
  j["count"] = b->count;
  if (!command.empty()) j["commandText"] = command;
  if (temporary) j["temporary"] = true;
  std::string& text = call.r.text;
  text = std::string(temporary ? "temporary " : "") + "breakpoint " + std::to_string(b->number) +
         " at " + LineText(symbols, b->address);
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
    j["count"] = b.count;
    j["remaining"] = b.remaining;
    if (!b.command.empty()) j["commandText"] = b.command;
    if (b.temporary) j["temporary"] = true;
    list.push_back(j);
    if (!text.empty()) text += "\n";
    text += std::to_string(b.number) + "  " + (b.enabled ? "on " : "off") + "  " +
            LineText(call.symbols(), b.address);
    if (b.count > 1) text += "  hits left " + std::to_string(b.remaining);
    if (!b.command.empty()) text += "  runs \"" + b.command + "\"";
    if (b.temporary) text += "  temporary";
  }
  call.r.json["breakpoints"] = list;
  call.r.text = text.empty() ? "no breakpoints" : text;
  return call.r;
}

}  // namespace kz51::cli
