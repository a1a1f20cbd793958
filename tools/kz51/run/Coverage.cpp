#include "run/Coverage.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <sstream>
#include <vector>

namespace kz51::run {

namespace {

bool ToNumber(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && p == text.data() + text.size();
}

bool ToLine(std::string_view text, unsigned& value) {
  std::uint64_t v = 0;
  if (!ToNumber(text, v) || v > 0xFFFFFFFFu) return false;
  value = static_cast<unsigned>(v);
  return true;
}

std::vector<std::string_view> SplitCommas(std::string_view text, std::size_t parts) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < parts) {
    const auto comma = text.find(',');
    if (comma == std::string_view::npos) break;
    out.push_back(text.substr(0, comma));
    text.remove_prefix(comma + 1);
  }
  out.push_back(text);
  return out;
}

}  // namespace

Coverage Coverage::FromCounts(const CountSnapshot& counts, const CodeMap& code,
                              const Symbols& symbols, const SourcePaths& sources) {
  Coverage out;
  // Every line with code, its recorded addresses, each once.
  std::map<std::pair<std::string, unsigned>, std::set<std::uint32_t>> recorded;
  for (const auto& r : symbols.Cdb().lines)
    if (r.address < counts.lineEntries.size()) recorded[{r.file, r.line}].insert(r.address);
  std::map<std::uint32_t, const cdb::Function*> declaredAt;  // start -> function
  for (const cdb::Function* f : code.Functions()) {
    const auto decl = code.DeclarationLine(*f);
    if (!decl) continue;
    FileCoverage& file = out.files_[sources.PathOf(decl->file)];
    FileCoverage::Function& fn = file.functions[f->name];
    fn.line = decl->line;
    fn.entries = counts.functionEntries[*f->start];
    declaredAt[*f->start] = f;
  }
  for (const auto& [key, addresses] : recorded) {
    const auto& [name, line] = key;
    std::uint64_t entries = 0;
    for (const std::uint32_t a : addresses) {
      const auto owner = code.LineAt(a);
      const bool own = owner && owner->file == name && owner->line == line;
      const auto decl = declaredAt.find(a);
      if (!own && decl != declaredAt.end()) {
        // A function's declaration line shares its first address with the
        // line whose code starts there: it is entered once per call, not on
        // every jump back to that address.
        const auto declLine = code.DeclarationLine(*decl->second);
        if (declLine && declLine->file == name && declLine->line == line) {
          entries += counts.functionEntries[a];
          continue;
        }
      }
      entries += counts.lineEntries[a];
    }
    out.files_[sources.PathOf(name)].lines[line] += entries;
  }
  return out;
}

void Coverage::Add(const Coverage& other) {
  for (const auto& [path, theirs] : other.files_) {
    FileCoverage& mine = files_[path];
    for (const auto& [name, fn] : theirs.functions) {
      auto [it, added] = mine.functions.try_emplace(name, fn);
      if (!added) it->second.entries += fn.entries;
    }
    for (const auto& [line, n] : theirs.lines) mine.lines[line] += n;
    for (const auto& [key, taken] : theirs.branches) {
      auto [it, added] = mine.branches.try_emplace(key, taken);
      if (!added && taken) it->second = it->second.value_or(0) + *taken;
    }
  }
}

bool Coverage::Parse(const std::string& text, std::string& error) {
  std::istringstream in(text);
  std::string raw;
  FileCoverage* file = nullptr;
  unsigned number = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, raw)) {
    ++number;
    std::string_view line(raw);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) continue;
    const auto colon = line.find(':');
    const std::string_view key = line.substr(0, colon);
    const std::string_view value =
        colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    if (line == "end_of_record") {
      if (file == nullptr) return fail("end_of_record outside a record");
      file = nullptr;
      continue;
    }
    if (colon == std::string_view::npos) return fail("not a tracefile line");
    if (key == "TN" || key == "VER") continue;
    if (key == "SF") {
      if (file != nullptr) return fail("SF inside a record");
      if (value.empty()) return fail("SF without a file name");
      file = &files_[std::string(value)];
      continue;
    }
    if (file == nullptr) return fail("'" + std::string(key) + "' outside a record");
    if (key == "FN") {
      // FN:<line>,<name> (lcov 2 also writes FN:<line>,<end line>,<name>).
      auto parts = SplitCommas(value, 2);
      unsigned at = 0;
      if (parts.size() != 2 || !ToLine(parts[0], at)) return fail("bad FN");
      std::string_view name = parts[1];
      if (auto more = SplitCommas(name, 2); more.size() == 2) {
        unsigned end = 0;
        if (ToLine(more[0], end)) name = more[1];
      }
      if (name.empty()) return fail("FN without a name");
      file->functions[std::string(name)].line = at;
    } else if (key == "FNDA") {
      auto parts = SplitCommas(value, 2);
      std::uint64_t n = 0;
      if (parts.size() != 2 || !ToNumber(parts[0], n) || parts[1].empty()) return fail("bad FNDA");
      file->functions[std::string(parts[1])].entries += n;
    } else if (key == "DA") {
      auto parts = SplitCommas(value, 3);  // DA:<line>,<count>[,<checksum>]
      unsigned at = 0;
      std::uint64_t n = 0;
      if (parts.size() < 2 || !ToLine(parts[0], at) || !ToNumber(parts[1], n))
        return fail("bad DA");
      file->lines[at] += n;
    } else if (key == "BRDA") {
      auto parts = SplitCommas(value, 4);
      unsigned at = 0, block = 0, branch = 0;
      std::uint64_t n = 0;
      if (parts.size() != 4 || !ToLine(parts[0], at) || !ToLine(parts[1], block) ||
          !ToLine(parts[2], branch) || (parts[3] != "-" && !ToNumber(parts[3], n)))
        return fail("bad BRDA");
      auto& taken = file->branches[{at, block, branch}];
      if (parts[3] != "-") taken = taken.value_or(0) + n;
    } else if (key == "FNF" || key == "FNH" || key == "LF" || key == "LH" || key == "BRF" ||
               key == "BRH") {
      // Totals: recomputed when written.
    } else {
      return fail("unknown record '" + std::string(key) + "'");
    }
  }
  if (file != nullptr) return fail("the last record has no end_of_record");
  return true;
}

std::string Coverage::Write() const {
  std::ostringstream out;
  for (const auto& [path, f] : files_) {
    out << "TN:\nSF:" << path << "\n";
    std::vector<std::pair<std::string, FileCoverage::Function>> fns(f.functions.begin(),
                                                                    f.functions.end());
    std::stable_sort(fns.begin(), fns.end(),
                     [](const auto& a, const auto& b) { return a.second.line < b.second.line; });
    std::size_t hit = 0;
    for (const auto& [name, fn] : fns) out << "FN:" << fn.line << "," << name << "\n";
    for (const auto& [name, fn] : fns) {
      out << "FNDA:" << fn.entries << "," << name << "\n";
      if (fn.entries > 0) ++hit;
    }
    out << "FNF:" << fns.size() << "\nFNH:" << hit << "\n";
    if (!f.branches.empty()) {
      std::size_t taken = 0;
      for (const auto& [key, n] : f.branches) {
        out << "BRDA:" << std::get<0>(key) << "," << std::get<1>(key) << "," << std::get<2>(key)
            << ",";
        if (n)
          out << *n;
        else
          out << "-";
        out << "\n";
        if (n && *n > 0) ++taken;
      }
      out << "BRF:" << f.branches.size() << "\nBRH:" << taken << "\n";
    }
    hit = 0;
    for (const auto& [line, n] : f.lines) {
      out << "DA:" << line << "," << n << "\n";
      if (n > 0) ++hit;
    }
    out << "LF:" << f.lines.size() << "\nLH:" << hit << "\nend_of_record\n";
  }
  return out.str();
}

}  // namespace kz51::run
