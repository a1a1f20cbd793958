#include "symbols/Symbols.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kz51 {

namespace fs = std::filesystem;

namespace {

bool ReadWhole(const fs::path& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  text = ss.str();
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex4(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

}  // namespace

bool ParseNumber(const std::string& text, std::uint32_t& value) {
  if (text.empty()) return false;
  std::string digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
    base = 16;
  } else if (digits.size() > 1 && (digits.back() == 'h' || digits.back() == 'H')) {
    digits.pop_back();
    base = 16;
    // A hex number with the "h" suffix starts with a digit (0FD00H).
    if (!std::isdigit(static_cast<unsigned char>(digits[0]))) return false;
  }
  if (digits.empty() || digits.size() > 8) return false;
  for (char c : digits) {
    const bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                               : std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (!ok) return false;
  }
  const unsigned long long v = std::stoull(digits, nullptr, base);
  if (v > 0xFFFFFFFFull) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

const char* SpaceName(cdb::Space space) {
  switch (space) {
    case cdb::Space::Code:
    case cdb::Space::CodeStatic:
      return "code";
    case cdb::Space::Data:
      return "data";
    case cdb::Space::Idata:
      return "idata";
    case cdb::Space::Xdata:
      return "xdata";
    case cdb::Space::Pdata:
      return "pdata";
    case cdb::Space::Sfr:
      return "sfr";
    case cdb::Space::Bit:
    case cdb::Space::Sbit:
      return "bit";
    case cdb::Space::Register:
      return "register";
    case cdb::Space::InternalStack:
      return "stack";
    case cdb::Space::ExternalStack:
      return "xstack";
    default:
      return "";
  }
}

void Symbols::Clear() {
  ++generation_;
  cdb_ = {};
  map_.clear();
  listing_ = {};
  sortedLines_.clear();
  sources_.SetProgram("", nullptr);
}

void Symbols::Set(cdb::File cdb, std::vector<map::Symbol> mapSymbols) {
  ++generation_;
  cdb_ = std::move(cdb);
  map_ = std::move(mapSymbols);
  sortedLines_ = cdb_.lines;
  std::stable_sort(
      sortedLines_.begin(), sortedLines_.end(),
      [](const cdb::LineRecord& a, const cdb::LineRecord& b) { return a.address < b.address; });
}

std::vector<std::string> Symbols::LoadBeside(const std::string& programPath) {
  Clear();
  std::vector<std::string> read;
  fs::path base(programPath);
  base.replace_extension();
  std::string text;
  cdb::File cdb;
  std::vector<map::Symbol> mapSymbols;
  const fs::path mapPath = fs::path(base).concat(".map");
  if (ReadWhole(mapPath, text)) {
    mapSymbols = map::Parse(text);
    read.push_back(mapPath.generic_string());
  }
  const fs::path cdbPath = fs::path(base).concat(".cdb");
  if (ReadWhole(cdbPath, text)) {
    cdb = cdb::Parse(text);
    read.push_back(cdbPath.generic_string());
  }
  Set(std::move(cdb), std::move(mapSymbols));
  // Listings: one per module, named after it, beside the program.
  std::vector<std::string> modules = cdb_.modules;
  const std::string own = base.filename().string();
  if (std::find(modules.begin(), modules.end(), own) == modules.end()) modules.push_back(own);
  for (const auto& m : modules) {
    const fs::path dir = base.parent_path();
    const fs::path rst = dir / (m + ".rst");
    const fs::path lst = dir / (m + ".lst");
    if (ReadWhole(rst, text)) {
      listing_.AddRelocated(text);
      read.push_back(rst.generic_string());
    } else if (ReadWhole(lst, text)) {
      listing_.AddUnrelocated(text, m, cdb_.asmLines);
      read.push_back(lst.generic_string());
    }
  }
  sources_.SetProgram(programPath, &listing_);
  // Bit variables: the linker's records leave their addresses out.
  for (auto& v : cdb_.variables) {
    if (v.address || (v.space != cdb::Space::Bit && v.space != cdb::Space::Sbit)) continue;
    if (auto a = listing_.BitLabel("_" + v.name)) v.address = *a;
  }
  return read;
}

const map::Symbol* Symbols::FindMapSymbol(const std::string& name) const {
  for (const auto& s : map_)
    if (s.name == name) return &s;
  return nullptr;
}

const cdb::Function* Symbols::FindFunction(const std::string& name) const {
  const std::string bare = !name.empty() && name[0] == '_' ? name.substr(1) : name;
  for (const auto& f : cdb_.functions)
    if (f.name == name && f.start) return &f;
  for (const auto& f : cdb_.functions)
    if (f.name == bare && f.start) return &f;
  return nullptr;
}

std::vector<std::uint32_t> Symbols::AddressesOfLine(const std::string& file, unsigned line) const {
  std::vector<std::uint32_t> out;
  const std::string want = BaseName(file);
  for (const auto& r : cdb_.lines)
    if (r.line == line && BaseName(r.file) == want) out.push_back(r.address);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::optional<Symbols::CodeLine> Symbols::FirstCodeLine(const std::string& file,
                                                        unsigned line) const {
  const std::string want = BaseName(file);
  std::optional<CodeLine> best;
  for (const auto& r : cdb_.lines) {
    if (r.line < line || BaseName(r.file) != want || FunctionAt(r.address) == nullptr) continue;
    if (!best || r.line < best->line || (r.line == best->line && r.address < best->address))
      best = CodeLine{r.line, r.address};
  }
  return best;
}

bool Symbols::HasLinesOf(const std::string& file) const {
  const std::string want = BaseName(file);
  for (const auto& r : cdb_.lines)
    if (BaseName(r.file) == want) return true;
  return false;
}

std::vector<std::string> Symbols::SourceNames() const {
  std::vector<std::string> names;
  for (const auto& r : cdb_.lines)
    if (std::find(names.begin(), names.end(), r.file) == names.end()) names.push_back(r.file);
  return names;
}

bool Symbols::ResolveCode(const std::string& text, std::uint32_t& address, std::string& error,
                          std::string* description) const {
  auto describe = [&](const std::string& d) {
    if (description != nullptr) *description = d;
  };
  if (text.empty()) {
    error = "a location is missing (an address, a symbol or file.c:LINE)";
    return false;
  }
  // file.c:LINE
  const auto colon = text.rfind(':');
  if (colon != std::string::npos && colon > 0 && colon + 1 < text.size()) {
    const std::string file = text.substr(0, colon);
    std::uint32_t line = 0;
    const std::string lineText = text.substr(colon + 1);
    if (lineText.find_first_not_of("0123456789") != std::string::npos ||
        !ParseNumber(lineText, line)) {
      error = "'" + text + "': the line after ':' must be a decimal number";
      return false;
    }
    const std::string want = BaseName(file);
    if (!HasLinesOf(file)) {
      error = "no line records for '" + file + "' (is its .cdb beside the loaded program?)";
      return false;
    }
    const auto best = FirstCodeLine(file, line);
    if (!best) {
      error = "no code at or after line " + std::to_string(line) + " of " + file;
      return false;
    }
    address = best->address;
    describe(want + ":" + std::to_string(best->line));
    return true;
  }
  // A symbol wins over a number-looking name ("add" is a function, not ADDh).
  if (const auto* f = FindFunction(text)) {
    address = *f->start;
    describe(f->name);
    return true;
  }
  for (const std::string& name : {text, "_" + text}) {
    if (const auto* s = FindMapSymbol(name); s != nullptr && s->code) {
      address = s->value;
      describe(name);
      return true;
    }
  }
  if (ParseNumber(text, address)) {
    if (address > 0xFFFF) {
      error = "address " + text + " is outside the code space (0x0000..0xFFFF)";
      return false;
    }
    describe(Hex4(address));
    return true;
  }
  error = "unknown symbol '" + text + "'";
  if (!HasDebugInfo() && map_.empty()) error += " (no program with symbols is loaded)";
  return false;
}

std::optional<SourceLine> Symbols::LineAt(std::uint32_t address) const {
  if (sortedLines_.empty()) return std::nullopt;
  auto it =
      std::upper_bound(sortedLines_.begin(), sortedLines_.end(), address,
                       [](std::uint32_t a, const cdb::LineRecord& r) { return a < r.address; });
  if (it == sortedLines_.begin()) return std::nullopt;
  const cdb::LineRecord& r = *std::prev(it);
  // Only inside the function holding the record: past its end the code
  // belongs to something without line records (a library routine).
  const cdb::Function* f = FunctionAt(address);
  if (f == nullptr || r.address < *f->start) return std::nullopt;
  return SourceLine{r.file, r.line};
}

const cdb::LineRecord* Symbols::LineRecordAt(std::uint32_t address) const {
  auto it =
      std::upper_bound(sortedLines_.begin(), sortedLines_.end(), address,
                       [](std::uint32_t a, const cdb::LineRecord& r) { return a < r.address; });
  if (it == sortedLines_.begin()) return nullptr;
  const cdb::LineRecord& r = *std::prev(it);
  const cdb::Function* f = FunctionAt(address);
  if (f == nullptr || r.address < *f->start) return nullptr;
  return &r;
}

std::string Symbols::SourceText(const std::string& file, unsigned line) const {
  std::string text = listing_.SourceText(BaseName(file), line);
  if (!text.empty() || line == 0) return text;
  return sources_.LineText(file, line).value_or("");
}

bool Symbols::IsLineStart(std::uint32_t address) const {
  const auto it =
      std::lower_bound(sortedLines_.begin(), sortedLines_.end(), address,
                       [](const cdb::LineRecord& r, std::uint32_t a) { return r.address < a; });
  return it != sortedLines_.end() && it->address == address;
}

const cdb::Function* Symbols::FunctionAt(std::uint32_t address) const {
  for (const auto& f : cdb_.functions)
    if (f.start && f.end && address >= *f.start && address <= *f.end) return &f;
  return nullptr;
}

std::string Symbols::Describe(std::uint32_t address) const {
  if (const auto* f = FunctionAt(address)) {
    const std::uint32_t off = address - *f->start;
    return off == 0 ? f->name : f->name + "+0x" + [&] {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%X", off);
      return std::string(buf);
    }();
  }
  // Nearest code symbol of the map at or below, within 4 KB.
  const map::Symbol* best = nullptr;
  for (const auto& s : map_) {
    if (!s.code || s.value > address || s.name.find('$') != std::string::npos) continue;
    if (s.name.rfind("l_", 0) == 0 || s.name.rfind("s_", 0) == 0) continue;
    if (best == nullptr || s.value > best->value) best = &s;
  }
  if (best == nullptr || address - best->value > 0x1000) return "";
  const std::uint32_t off = address - best->value;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", off);
  return off == 0 ? best->name : best->name + "+0x" + buf;
}

const cdb::Variable* Symbols::FindVariable(const std::string& name,
                                           std::optional<std::uint32_t> pc) const {
  const std::string bare = !name.empty() && name[0] == '_' ? name.substr(1) : name;
  const cdb::Function* f = pc ? FunctionAt(*pc) : nullptr;
  for (const std::string& n : {name, bare}) {
    if (f != nullptr) {
      for (const auto& v : cdb_.variables)
        if (v.name == n && v.scope.kind == cdb::ScopeKind::Local && v.scope.function == f->name)
          return &v;
      for (const auto& v : cdb_.variables)
        if (v.name == n && v.scope.kind == cdb::ScopeKind::File && v.scope.module == f->module)
          return &v;
    }
    for (const auto& v : cdb_.variables)
      if (v.name == n && v.scope.kind == cdb::ScopeKind::Global) return &v;
  }
  // A file static of any module when the name is unique among them.
  const cdb::Variable* found = nullptr;
  for (const auto& v : cdb_.variables) {
    if (v.name != bare || v.scope.kind != cdb::ScopeKind::File) continue;
    if (found != nullptr) return nullptr;
    found = &v;
  }
  return found;
}

std::vector<const cdb::Variable*> Symbols::Globals() const {
  std::vector<const cdb::Variable*> out;
  for (const auto& v : cdb_.variables) {
    if (v.scope.kind == cdb::ScopeKind::Local || v.fromLinkerOnly || v.type.Empty()) continue;
    if (v.space == cdb::Space::Sfr || v.space == cdb::Space::Sbit) continue;
    if (v.name.rfind("__str_", 0) == 0 || v.name.rfind("__xinit_", 0) == 0) continue;
    const bool twice = std::any_of(out.begin(), out.end(), [&](const cdb::Variable* o) {
      return o->name == v.name && o->scope.kind == v.scope.kind &&
             (v.scope.kind == cdb::ScopeKind::Global || o->scope.module == v.scope.module);
    });
    if (!twice) out.push_back(&v);
  }
  return out;
}

std::vector<const cdb::Variable*> Symbols::SpecialFunctionRegisters() const {
  std::vector<const cdb::Variable*> out;
  for (const auto& v : cdb_.variables) {
    if (v.space != cdb::Space::Sfr && v.space != cdb::Space::Sbit) continue;
    if (!v.address || v.scope.kind == cdb::ScopeKind::Local) continue;
    const bool twice = std::any_of(out.begin(), out.end(), [&](const cdb::Variable* o) {
      return o->name == v.name && o->space == v.space;
    });
    if (!twice) out.push_back(&v);
  }
  std::stable_sort(out.begin(), out.end(), [](const cdb::Variable* a, const cdb::Variable* b) {
    if (a->space != b->space) return a->space == cdb::Space::Sfr;
    return *a->address < *b->address;
  });
  return out;
}

std::vector<SymbolEntry> Symbols::Match(const std::string& pattern) const {
  const std::string want = Lower(pattern);
  auto matches = [&](const std::string& n) {
    return want.empty() || Lower(n).find(want) != std::string::npos;
  };
  std::vector<SymbolEntry> out;
  for (const auto& f : cdb_.functions) {
    if (!f.start || !matches(f.name)) continue;
    out.push_back(
        {f.name, "function", *f.start, "code", f.type.Element().Describe() + " ()", f.module});
  }
  for (const auto& v : cdb_.variables) {
    if (!matches(v.name)) continue;
    SymbolEntry e{v.name,
                  "variable",
                  v.address.value_or(0),
                  SpaceName(v.space),
                  v.fromLinkerOnly ? std::string() : v.type.Describe(),
                  v.scope.module};
    if (v.scope.kind == cdb::ScopeKind::Local) e.name = v.scope.function + "." + v.name;
    if (!v.address && v.space != cdb::Space::Register && !v.onStack) continue;
    out.push_back(std::move(e));
  }
  if (!HasDebugInfo()) {
    for (const auto& s : map_) {
      if (s.name.find('$') != std::string::npos || !matches(s.name)) continue;
      if (s.module.empty()) continue;  // linker-made area symbols
      out.push_back({s.name, s.code ? "label" : "variable", s.value,
                     s.code ? "code" : (s.xdata ? "xdata" : "data"), "", s.module});
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const SymbolEntry& a, const SymbolEntry& b) {
    return a.address < b.address;
  });
  return out;
}

}  // namespace kz51
