// The program's text: list (C lines), disassemble (instructions with their
// symbols and C lines), directory (where C sources are looked for).
#include <algorithm>
#include <cstdio>

#include "Disassembler.h"
#include "cli/Handlers.h"

namespace kz51::cli {

namespace {

constexpr unsigned kListLines = 10;
constexpr std::uint32_t kDisassembleCount = 16;
constexpr std::uint32_t kMaxInstructions = 4096;

// The stopped PC, when the target is stopped and the driver knows it.
std::optional<std::uint32_t> StoppedPc(Session& session) {
  if (session.Running()) return std::nullopt;
  auto pc = session.Pc();
  return pc ? std::optional<std::uint32_t>(*pc) : std::nullopt;
}

// Where `list` centres for LOC: file.c:LINE and LINE as written, a function
// or an address at its C line.
bool ListCentre(Call& call, const std::string& loc, std::string& file, unsigned& line,
                std::string& error) {
  Symbols& symbols = call.symbols();
  const auto colon = loc.rfind(':');
  std::uint32_t n = 0;
  if (colon != std::string::npos && colon > 0 &&
      loc.find_first_not_of("0123456789", colon + 1) == std::string::npos &&
      ParseNumber(loc.substr(colon + 1), n)) {
    file = loc.substr(0, colon);
    line = n;
    return true;
  }
  if (!loc.empty() && loc.find_first_not_of("0123456789") == std::string::npos &&
      ParseNumber(loc, n)) {
    if (call.commands.Listed().file.empty()) {
      const auto pc = StoppedPc(call.session);
      const auto at = pc ? symbols.LineAt(*pc) : std::nullopt;
      if (!at) {
        error = "which file? write FILE.c:" + loc;
        return false;
      }
      file = at->file;
    } else {
      file = call.commands.Listed().file;
    }
    line = n;
    return true;
  }
  std::uint32_t address = 0;
  if (!symbols.ResolveCode(loc, address, error)) return false;
  const auto at = symbols.LineAt(address);
  if (!at) {
    error = "no C line is known at " + AddressText(address);
    return false;
  }
  file = at->file;
  line = at->line;
  return true;
}

}  // namespace

CommandResult ListCommand(Call& call) {
  if (call.argc() > 1) return call.Usage();
  Symbols& symbols = call.symbols();
  if (!symbols.HasDebugInfo()) return call.Fail("no debug information: build with --debug");
  Commands::ListPosition& listed = call.commands.Listed();
  std::string file;
  unsigned first = 1;
  std::string error;
  bool onward = false, backward = false;
  if (call.argc() == 0 && !listed.file.empty()) {
    file = listed.file;  // on from the last lines shown
    first = listed.next;
    onward = true;
  } else if (call.argc() == 0 || call.arg(0) == "-") {
    if (call.arg(0) == "-" && !listed.file.empty()) {
      file = listed.file;
      if (listed.first <= 1) return call.Fail("already at the start of " + file);
      first = listed.first > kListLines ? listed.first - kListLines : 1;
      backward = true;
    } else {
      const auto pc = StoppedPc(call.session);
      const auto at = pc ? symbols.LineAt(*pc) : std::nullopt;
      if (!at) return call.Fail("no C line at the PC; write list FILE.c:LINE or list FUNCTION");
      file = at->file;
      first = at->line > kListLines / 2 ? at->line - kListLines / 2 : 1;
    }
  } else {
    unsigned centre = 0;
    if (!ListCentre(call, call.arg(0), file, centre, error)) return call.Fail(error);
    first = centre > kListLines / 2 ? centre - kListLines / 2 : 1;
  }
  const SourceFiles& sources = symbols.Sources();
  const std::string path = sources.Find(file);
  const unsigned count = sources.LineCount(file);
  if (path.empty() && !symbols.HasLinesOf(file))
    return call.Fail("no C file '" + FileNameOf(file) + "' in the program's debug information");
  Json lines = Json::array();
  std::string text;
  unsigned last = first + kListLines - 1;
  if (count != 0 && last > count) last = count;
  if (count != 0 && first > count)
    return call.Fail("line " + std::to_string(first) + " is beyond the end of " + file + " (" +
                     std::to_string(count) + " lines)");
  for (unsigned n = first; n <= last; ++n) {
    const auto t = sources.LineText(file, n);
    if (!t) continue;  // the listing quotes only lines with code
    lines.push_back({{"line", n}, {"text", *t}});
    text += (text.empty() ? "" : "\n") + std::to_string(n) + "\t" + *t;
  }
  if (lines.empty())
    return call.Fail("no source for " + FileNameOf(file) +
                     ": not beside the program nor in a source directory (directory DIR adds one)");
  // A run of `list` (or of `list -`) keeps the other end of what it showed.
  if (onward)
    listed.next = last + 1;
  else if (backward)
    listed.first = first;
  else
    listed = {FileNameOf(file), first, last + 1};
  call.r.json["file"] = FileNameOf(file);
  if (!path.empty()) call.r.json["path"] = path;
  call.r.json["lines"] = lines;
  call.r.text = text;
  return call.r;
}

CommandResult DisassembleCommand(Call& call) {
  if (call.argc() > 2) return call.Usage();
  Symbols& symbols = call.symbols();
  Session& session = call.session;
  const auto pc = StoppedPc(session);
  std::uint32_t from = 0;
  std::string error;
  if (call.argc() == 0) {
    if (!pc) return call.Fail("the PC is not known; write disassemble LOC");
    from = *pc;
  } else if (!symbols.ResolveCode(call.arg(0), from, error)) {
    return call.Fail(error);
  }
  // Without COUNT: the whole function holding the place, else a few.
  std::uint32_t count = kDisassembleCount;
  std::uint32_t end = 0x10000;  // first address not shown
  if (call.argc() == 2) {
    if (!ParseCount(call.arg(1), count, error)) return call.Fail(error);
    if (count > kMaxInstructions)
      return call.Fail("at most " + std::to_string(kMaxInstructions) + " instructions at once");
  } else if (const auto* f = symbols.FunctionAt(from); f != nullptr && f->start && f->end) {
    from = *f->start;
    end = *f->end + 1;
    count = kMaxInstructions;
  }
  const std::uint32_t top = std::min<std::uint32_t>(0xFFFF, from + 3 * count + 2);
  auto code = session.Read(MemorySpace::Code, from, top - from + 1);
  if (!code) return call.Fail(code.error());
  Json list = Json::array();
  std::string text;
  std::optional<SourceLine> lastLine;
  std::uint32_t at = from;
  for (std::uint32_t k = 0; k < count && at < end && at <= 0xFFFF; ++k) {
    std::uint8_t b[3] = {};
    for (std::uint32_t i = 0; i < 3; ++i)
      b[i] = at + i <= top ? (*code)[at + i - from] : std::uint8_t{0};
    const kzhost::Instruction ins = kzhost::Disassemble(static_cast<std::uint16_t>(at), b);
    const auto line = symbols.LineAt(at);
    if (line && (!lastLine || line->line != lastLine->line || line->file != lastLine->file)) {
      // The C line above its first instruction.
      const auto source = symbols.Sources().LineText(line->file, line->line);
      text += (text.empty() ? "" : "\n") + line->file + ":" + std::to_string(line->line) +
              (source ? "\t" + *source : std::string());
    }
    lastLine = line;
    std::string bytes;
    for (unsigned i = 0; i < ins.length; ++i) bytes += Hex2(b[i]);
    const std::string sym = symbols.Describe(at);
    const bool current = pc && *pc == at;
    Json j{{"address", at}, {"bytes", bytes}, {"text", ins.text}};
    if (!sym.empty()) j["symbol"] = sym;
    if (line) {
      j["file"] = line->file;
      j["line"] = line->line;
    }
    if (current) j["current"] = true;
    list.push_back(j);
    std::string hex;
    for (unsigned i = 0; i < ins.length; ++i) hex += (i ? " " : "") + Hex2(b[i]);
    hex.resize(9, ' ');
    std::string where = sym.empty() ? std::string() : " <" + sym + ">";
    where.resize(std::max<std::size_t>(where.size(), 16), ' ');
    text += std::string(text.empty() ? "" : "\n") + (current ? "=> " : "   ") + AddressText(at) +
            where + "  " + hex + "  " + ins.text;
    at += ins.length;
  }
  call.r.json["instructions"] = list;
  call.r.text = text;
  return call.r;
}

CommandResult DirectoryCommand(Call& call) {
  if (call.argc() > 1) return call.Usage();
  SourceFiles& sources = call.symbols().Sources();
  if (call.argc() == 1) sources.AddDirectory(call.arg(0));
  call.r.json["directories"] = sources.Directories();
  std::string text = "C sources are looked for beside the program";
  for (const auto& d : sources.Directories()) text += ", in " + d;
  call.r.text = text;
  return call.r;
}

}  // namespace kz51::cli
