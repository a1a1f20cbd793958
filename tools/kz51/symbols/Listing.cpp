#include "symbols/Listing.h"

#include <cctype>
#include <sstream>

namespace kz51 {

namespace {

// One instruction line of a listing:
// "      000062 80 FE            [24]  153 \tsjmp\t00102$"
struct ListingLine {
  std::uint32_t address = 0;
  unsigned sourceLine = 0;
  std::string text;
};

bool ParseLine(const std::string& raw, ListingLine& out) {
  std::size_t i = 0;
  while (i < raw.size() && raw[i] == ' ') ++i;
  // The address column is six hex digits followed by the code bytes; lines
  // without code bytes (labels, directives) are not instructions.
  if (i + 6 >= raw.size() || i > 8) return false;
  for (std::size_t k = 0; k < 6; ++k)
    if (!std::isxdigit(static_cast<unsigned char>(raw[i + k]))) return false;
  out.address = static_cast<std::uint32_t>(std::stoul(raw.substr(i, 6), nullptr, 16));
  std::size_t j = i + 6;
  if (j + 3 > raw.size() || raw[j] != ' ' || !std::isxdigit(static_cast<unsigned char>(raw[j + 1])))
    return false;
  const auto cycles = raw.find('[', j);
  if (cycles == std::string::npos) return false;
  const auto close = raw.find(']', cycles);
  if (close == std::string::npos) return false;
  std::istringstream rest(raw.substr(close + 1));
  if (!(rest >> out.sourceLine)) return false;
  std::string text;
  std::getline(rest, text);
  // Tabs to single blanks, trimmed.
  std::string clean;
  for (char c : text) {
    const char d = c == '\t' ? ' ' : c;
    if (d == ' ' && (clean.empty() || clean.back() == ' ')) continue;
    clean += d;
  }
  while (!clean.empty() && (clean.back() == ' ' || clean.back() == '\r')) clean.pop_back();
  out.text = clean;
  return !out.text.empty();
}

}  // namespace

void Listing::AddSourceComments(const std::string& text) {
  // "     161 ;\tt.c:9: int fact(int n) {": a comment holding file:line: text.
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    const auto semi = raw.find(";\t");
    if (semi == std::string::npos) continue;
    const std::string rest = raw.substr(semi + 2);
    // The file may hold colons itself (C:\src\main.c): the line number is
    // the first ":digits:" after it.
    for (auto c1 = rest.find(':'); c1 != std::string::npos; c1 = rest.find(':', c1 + 1)) {
      const auto c2 = rest.find(':', c1 + 1);
      if (c1 == 0 || c2 == std::string::npos || c2 == c1 + 1 || c2 - c1 > 8) continue;
      const std::string number = rest.substr(c1 + 1, c2 - c1 - 1);
      if (number.find_first_not_of("0123456789") != std::string::npos) continue;
      std::string code = rest.substr(c2 + 1);
      if (!code.empty() && code[0] == ' ') code.erase(0, 1);
      while (!code.empty() && (code.back() == '\r' || code.back() == ' ')) code.pop_back();
      // Keyed by the file's name alone, as the .cdb's line records name it.
      std::string file = rest.substr(0, c1);
      const std::string path = file;
      const auto slash = file.find_last_of("/\\");
      if (slash != std::string::npos) file.erase(0, slash + 1);
      compiledPaths_.emplace(file, path);
      source_.emplace(std::make_pair(file, static_cast<unsigned>(std::stoul(number))), code);
      break;
    }
  }
}

std::string Listing::SourceText(const std::string& file, unsigned line) const {
  const auto it = source_.find({file, line});
  return it == source_.end() ? std::string() : it->second;
}

std::string Listing::CompiledPath(const std::string& file) const {
  const auto it = compiledPaths_.find(file);
  return it == compiledPaths_.end() ? std::string() : it->second;
}

void Listing::AddRelocated(const std::string& text) {
  AddSourceComments(text);
  std::istringstream in(text);
  std::string raw;
  ListingLine l;
  bool bitSegment = false;
  while (std::getline(in, raw)) {
    if (ParseLine(raw, l)) {
      text_.emplace(l.address, l.text);
      continue;
    }
    // ".area BSEG    (BIT)" starts the bit segment; "  000003   412 _flag::"
    // is a label in it with its bit address.
    const auto area = raw.find(".area");
    if (area != std::string::npos) {
      std::istringstream words(raw.substr(area + 5));
      std::string name;
      words >> name;
      bitSegment = name == "BSEG";
      continue;
    }
    if (!bitSegment) continue;
    std::istringstream words(raw);
    std::string address, number, label;
    if (!(words >> address >> number >> label) || address.size() != 6 || label.size() < 2 ||
        label.back() != ':' ||
        address.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
      continue;
    while (!label.empty() && label.back() == ':') label.pop_back();
    bitLabels_[label] = static_cast<std::uint32_t>(std::stoul(address, nullptr, 16));
  }
}

std::optional<std::uint32_t> Listing::BitLabel(const std::string& name) const {
  const auto it = bitLabels_.find(name);
  if (it == bitLabels_.end()) return std::nullopt;
  return it->second;
}

void Listing::AddUnrelocated(const std::string& text, const std::string& module,
                             const std::vector<cdb::AsmLineRecord>& records) {
  AddSourceComments(text);
  std::map<unsigned, std::uint32_t> placed;
  for (const auto& r : records)
    if (r.module == module) placed[r.line] = r.address;
  std::istringstream in(text);
  std::string raw;
  ListingLine l;
  while (std::getline(in, raw)) {
    if (!ParseLine(raw, l)) continue;
    const auto it = placed.find(l.sourceLine);
    if (it != placed.end()) text_.emplace(it->second, l.text);
  }
}

std::string Listing::TextAt(std::uint32_t address) const {
  const auto it = text_.find(address);
  return it == text_.end() ? std::string() : it->second;
}

}  // namespace kz51
