#include "run/CodeMap.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace kz51::run {

namespace {

constexpr std::size_t kAddresses = 65536;
constexpr std::uint32_t kMaxId = 0xFFFF;

}  // namespace

CodeMap::CodeMap(const Symbols& symbols) : symbols_(symbols), regions_(kAddresses, 0) {
  const cdb::File& cdb = symbols.Cdb();
  for (const auto& f : cdb.functions) {
    if (!f.start || !f.end || *f.end < *f.start || *f.end >= kAddresses) continue;
    const bool seen = std::any_of(functions_.begin(), functions_.end(), [&](const auto* g) {
      return g->name == f.name && *g->start == *f.start;
    });
    if (!seen && functions_.size() < kMaxId) functions_.push_back(&f);
  }
  // Line records by address; among records at one address the last in file
  // order owns the code there (earlier ones have no code of their own).
  std::vector<const cdb::LineRecord*> records;
  for (const auto& r : cdb.lines) records.push_back(&r);
  std::stable_sort(records.begin(), records.end(),
                   [](const auto* a, const auto* b) { return a->address < b->address; });
  std::map<std::pair<std::string, unsigned>, std::uint32_t> lineIds;
  auto lineId = [&](const cdb::LineRecord& r) {
    auto [it, added] = lineIds.try_emplace({r.file, r.line}, 0);
    if (added) {
      if (lines_.size() >= kMaxId) return std::uint32_t{0};
      lines_.push_back(SourceLine{r.file, r.line});
      it->second = static_cast<std::uint32_t>(lines_.size());
    }
    return it->second;
  };
  for (std::size_t id = 0; id < functions_.size(); ++id) {
    const cdb::Function& f = *functions_[id];
    const std::uint32_t fn = static_cast<std::uint32_t>(id + 1) << 16;
    // The records inside this function, by address.
    auto first = std::lower_bound(records.begin(), records.end(), *f.start,
                                  [](const auto* r, std::uint32_t a) { return r->address < a; });
    std::uint32_t line = 0;
    for (std::uint32_t a = *f.start; a <= *f.end; ++a) {
      while (first != records.end() && (*first)->address == a) line = lineId(**first++);
      regions_[a] = fn | line;
    }
  }
  // Map symbols name the code without C functions (library routines, the
  // start-up code); area start symbols ("s_GSINIT") only where nothing else.
  std::map<std::string, std::uint32_t> areaLengths;  // l_<area> symbols
  for (const auto& s : symbols.MapSymbols())
    if (s.code && s.name.rfind("l_", 0) == 0) areaLengths[s.name.substr(2)] = s.value;
  for (const auto& s : symbols.MapSymbols()) {
    if (!s.code || s.value >= kAddresses || s.name.find('$') != std::string::npos) continue;
    if (s.name.rfind("l_", 0) == 0) continue;
    const bool area = s.name.rfind("s_", 0) == 0;
    if (area) {
      const auto length = areaLengths.find(s.name.substr(2));
      if (length != areaLengths.end() && length->second == 0) continue;  // holds no code
    }
    codeSymbols_.push_back({s.value, area ? "(" + s.name.substr(2) + ")" : s.name});
  }
  // At one address: real symbols before area starts, and the shortest name
  // first ("__mulint" rather than its alias "__mulint_dummy").
  std::stable_sort(codeSymbols_.begin(), codeSymbols_.end(),
                   [](const CodeSymbol& a, const CodeSymbol& b) {
                     if (a.address != b.address) return a.address < b.address;
                     const bool aArea = a.name.front() == '(', bArea = b.name.front() == '(';
                     if (aArea != bArea) return bArea;
                     return a.name.size() < b.name.size();
                   });
}

std::optional<SourceLine> CodeMap::LineAt(std::uint32_t address) const {
  if (address >= kAddresses) return std::nullopt;
  const std::uint32_t id = regions_[address] & 0xFFFF;
  if (id == 0) return std::nullopt;
  return lines_[id - 1];
}

const cdb::Function* CodeMap::FunctionAt(std::uint32_t address) const {
  if (address >= kAddresses) return nullptr;
  const std::uint32_t id = regions_[address] >> 16;
  return id == 0 ? nullptr : functions_[id - 1];
}

const CodeMap::CodeSymbol* CodeMap::SymbolAt(std::uint32_t address) const {
  // The nearest symbol at or below, a real one preferred over an area start
  // that lies nearer (the start-up code spans several areas). A symbol inside
  // a C function (its own, "_main") does not reach past that function.
  const CodeSymbol* area = nullptr;
  auto it = std::upper_bound(codeSymbols_.begin(), codeSymbols_.end(), address,
                             [](std::uint32_t a, const CodeSymbol& s) { return a < s.address; });
  while (it != codeSymbols_.begin()) {
    --it;
    // The preferred one of several symbols at this address comes first.
    while (it != codeSymbols_.begin() && std::prev(it)->address == it->address) --it;
    if (FunctionAt(it->address) != nullptr) break;
    if (it->name.front() != '(') return &*it;
    if (area == nullptr) area = &*it;
  }
  return area;
}

std::string CodeMap::FunctionNameAt(std::uint32_t address) const {
  if (const cdb::Function* f = FunctionAt(address)) return f->name;
  if (const CodeSymbol* s = SymbolAt(address)) return s->name;
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", address & 0xFFFFu);
  return buf;
}

std::uint32_t CodeMap::FunctionStartAt(std::uint32_t address) const {
  if (const cdb::Function* f = FunctionAt(address)) return *f->start;
  if (const CodeSymbol* s = SymbolAt(address)) return s->address;
  return address;
}

std::optional<SourceLine> CodeMap::DeclarationLine(const cdb::Function& f) const {
  std::optional<SourceLine> best;
  for (const auto& r : symbols_.Cdb().lines)
    if (f.start && r.address == *f.start && (!best || r.line < best->line))
      best = SourceLine{r.file, r.line};
  return best;
}

}  // namespace kz51::run
