#include "run/Profile.h"

#include <sstream>

namespace kz51::run {

namespace {

// The address an instruction at `at` jumps to, for the LJMP and AJMP that
// interrupt vectors hold; `at` itself otherwise.
std::uint32_t JumpTarget(const std::vector<std::uint8_t>& code, std::uint32_t at) {
  auto byte = [&](std::uint32_t a) -> std::uint32_t { return a < code.size() ? code[a] : 0; };
  const std::uint32_t op = byte(at);
  if (op == 0x02) return byte(at + 1) << 8 | byte(at + 2);
  if ((op & 0x1F) == 0x01) return ((at + 2) & 0xF800u) | (op & 0xE0u) << 3 | byte(at + 1);
  return at;
}

// Names in callgrind files are one line each.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  return s;
}

}  // namespace

Profile::Place Profile::PlaceOf(std::uint32_t address, const CodeMap& map,
                                const SourcePaths& sources) const {
  Place p;
  p.function = map.FunctionNameAt(address);
  auto line = map.LineAt(address);
  if (!line) {
    // Code of a C function before its first line record: its declaration.
    if (const cdb::Function* f = map.FunctionAt(address)) line = map.DeclarationLine(*f);
  }
  if (line) {
    p.file = sources.PathOf(line->file);
    p.line = line->line;
  } else {
    p.file = "???";
  }
  return p;
}

void Profile::Add(const CountSnapshot& counts, const CodeMap& map, const SourcePaths& sources,
                  const std::vector<std::uint8_t>& code, const std::string& program) {
  programs_.push_back(program);
  for (std::uint32_t a = 0; a < counts.executions.size(); ++a) {
    if (counts.executions[a] == 0 && counts.cycles[a] == 0) continue;
    const Place p = PlaceOf(a, map, sources);
    ProfileCost& c = self_[{p.file, p.function}][p.line];
    c.cycles += counts.cycles[a];
    c.instructions += counts.executions[a];
  }
  for (const kz51emu_call& e : counts.calls) {
    const Place from = PlaceOf(e.site, map, sources);
    const std::uint32_t target = e.interrupt != 0 ? JumpTarget(code, e.target) : e.target;
    const Place to = PlaceOf(map.FunctionStartAt(target), map, sources);
    const FunctionKey callee{to.file, to.function};
    CallCost& c = calls_[{{from.file, from.function}, from.line, callee}];
    c.count += e.count;
    c.inclusive.cycles += e.cycles;
    c.inclusive.instructions += e.instructions;
    calleeLine_[callee] = to.line;
    self_[callee];  // a callee appears even when it cost nothing itself
  }
}

std::string Profile::Write() const {
  std::ostringstream out;
  out << "# callgrind format\nversion: 1\ncreator: kz51 run\n";
  std::string cmd;
  for (const auto& p : programs_) cmd += (cmd.empty() ? "" : " ") + p;
  out << "cmd: " << OneLine(cmd) << "\npositions: line\nevents: Cycles Instructions\n";
  // The summary is what the cost lines add up to.
  ProfileCost total;
  for (const auto& [fn, lines] : self_) {
    for (const auto& [line, c] : lines) {
      total.cycles += c.cycles;
      total.instructions += c.instructions;
    }
  }
  out << "summary: " << total.cycles << " " << total.instructions << "\n";
  // Name compression: "fl=(1) name" the first time, "fl=(1)" after.
  std::map<std::string, int> files, functions;
  auto name = [&out](std::map<std::string, int>& ids, const char* key, const std::string& n) {
    auto [it, added] = ids.try_emplace(n, static_cast<int>(ids.size()) + 1);
    out << key << "=(" << it->second << ")";
    if (added) out << " " << OneLine(n);
    out << "\n";
  };
  for (const auto& [fn, lines] : self_) {
    out << "\n";
    name(files, "fl", fn.first);
    name(functions, "fn", fn.second);
    for (const auto& [line, c] : lines)
      out << line << " " << c.cycles << " " << c.instructions << "\n";
    for (const auto& [key, c] : calls_) {
      const auto& [caller, line, callee] = key;
      if (caller != fn) continue;
      name(files, "cfi", callee.first);
      name(functions, "cfn", callee.second);
      const auto at = calleeLine_.find(callee);
      out << "calls=" << c.count << " " << (at != calleeLine_.end() ? at->second : 0) << "\n";
      out << line << " " << c.inclusive.cycles << " " << c.inclusive.instructions << "\n";
    }
  }
  return out.str();
}

}  // namespace kz51::run
