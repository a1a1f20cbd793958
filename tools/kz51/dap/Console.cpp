// The debug console of the adapter: kz51 commands behind the prefix "`",
// completions of expressions and of those commands, and restart.
#include <algorithm>
#include <cctype>
#include <set>

#include "cli/CommandTable.h"
#include "cli/Commands.h"
#include "dap/Server.h"

namespace kzhost::dap {

using kz51::Session;

namespace {

bool IsIdentifier(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$';
}

}  // namespace

kz51::cli::Commands& Server::Console() {
  // Results come back from Execute; nothing else is printed.
  if (!console_) console_ = std::make_unique<kz51::cli::Commands>(session_, std::string(), nullptr);
  return *console_;
}

json Server::ConsoleCommand(const std::string& text) {
  const kz51::cli::CommandSpec* entry = kz51::cli::CommandOf(text);
  if (entry != nullptr && (entry->flags & (kz51::cli::kRunsTarget | kz51::cli::kAdapterOwns)))
    throw RequestError{"'" + std::string(entry->name) +
                       "' is the editor's to do here (its run buttons, breakpoints and launch)"};
  const kz51::cli::CommandResult r = Console().Execute(text);
  if (!r.ok) throw RequestError{r.json.value("error", std::string("the command failed"))};
  // A command may have changed memory or registers: values are read again.
  ResetHandles();
  return json{{"result", r.text}, {"variablesReference", 0}};
}

json Server::Completions(const json& args) {
  const std::string text = args.at("text").get<std::string>();
  long long column = args.at("column").get<long long>() - (columnsStartAt1_ ? 1 : 0);
  column = std::clamp<long long>(column, 0, static_cast<long long>(text.size()));
  const std::string before = text.substr(0, static_cast<std::size_t>(column));
  json targets = json::array();
  if (!before.empty() && before[0] == '`') {
    // kz51 commands: the command line's own completion.
    const std::string line = before.substr(1);
    const auto space = line.find_last_of(" \t");
    const std::size_t start = space == std::string::npos ? 0 : space + 1;
    for (const auto& c : Console().Complete(line, start))
      targets.push_back({{"label", c},
                         {"start", static_cast<long long>(start + 1) + (columnsStartAt1_ ? 1 : 0)},
                         {"length", line.size() - start}});
    return json{{"targets", targets}};
  }
  // A C name: globals, file statics, the locals of the function at the PC,
  // the SFRs and the functions.
  std::size_t start = before.size();
  while (start > 0 && IsIdentifier(before[start - 1])) --start;
  const std::string word = before.substr(start);
  if (start > 0 && (before[start - 1] == '.' || before[start - 1] == '>'))
    return json{{"targets", targets}};  // members: not offered
  const auto& symbols = session_.symbols();
  std::set<std::pair<std::string, std::string>> found;  // label, type
  auto offer = [&](const std::string& name, const char* type) {
    if (name.compare(0, word.size(), word) == 0) found.insert({name, type});
  };
  for (const auto* v : symbols.Globals()) offer(v->name, "variable");
  for (const auto* v : symbols.SpecialFunctionRegisters()) offer(v->name, "variable");
  if (auto pc = session_.Running() ? kz51::Result<std::uint32_t>::Fail("") : session_.Pc()) {
    if (const auto* f = symbols.FunctionAt(*pc)) {
      for (const auto& v : symbols.Cdb().variables)
        if (v.scope.kind == kz51::cdb::ScopeKind::Local && v.scope.function == f->name)
          offer(v.name, "variable");
    }
  }
  for (const auto& f : symbols.Cdb().functions)
    if (f.start) offer(f.name, "function");
  for (const auto& [label, type] : found)
    targets.push_back({{"label", label},
                       {"type", type},
                       {"start", static_cast<long long>(start) + (columnsStartAt1_ ? 1 : 0)},
                       {"length", word.size()}});
  return json{{"targets", targets}};
}

// Restart: the program is loaded again (it may have been rebuilt), line and
// function breakpoints are placed again by their lines and names, the
// target is reset and runs as after the launch.
json Server::Restart(const json&) {
  if (running_) {
    // The stop this causes is not reported: the run starts again.
    restarting_ = true;
    pauseRequested_ = true;
    session_.Stop();
    JoinWaiter();
    restarting_ = false;
  }
  std::lock_guard<std::recursive_mutex> lock(control_);
  ResetHandles();
  auto loaded = session_.Load(program_);
  if (!loaded) throw RequestError{loaded.error()};
  auto& symbols = session_.symbols();
  std::vector<Wanted> kept;
  for (Wanted w : breakpoints_) {
    bool placed = true;
    if (w.kind == BpKind::Line) {
      const auto colon = w.location.rfind(':');
      std::uint32_t line = 0;
      const auto code =
          colon != std::string::npos && kz51::ParseNumber(w.location.substr(colon + 1), line)
              ? symbols.FirstCodeLine(w.location.substr(0, colon), line)
              : std::nullopt;
      placed = code.has_value();
      if (code) w.address = code->address;
    } else if (w.kind == BpKind::Function) {
      const auto* f = symbols.FindFunction(w.location);
      placed = f != nullptr && f->start;
      if (placed) w.address = *f->start;
    }
    w.hits = 0;
    if (placed) {
      kept.push_back(w);
    } else {
      SendEvent("breakpoint",
                {{"reason", "changed"},
                 {"breakpoint",
                  {{"id", w.id},
                   {"verified", false},
                   {"message", w.location + " has no code in the program loaded again"}}}});
    }
  }
  breakpoints_ = std::move(kept);
  breakpointsDirty_ = true;
  Require(session_.Reset());
  SyncBreakpoints();
  AfterLaunch();
  return nullptr;
}

}  // namespace kzhost::dap
