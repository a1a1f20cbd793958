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

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// Comment lines ";\t<path>:<line>: <text>"; the path ends in .c or .h (it
// may hold a drive's colon).
void Listing::AddSourceComments(const std::string& text) {
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    const auto semi = raw.find(";\t");
    if (semi == std::string::npos) continue;
    const std::string rest = raw.substr(semi + 2);
    std::size_t end = std::string::npos;
    for (const char* ext : {".c:", ".h:", ".C:", ".H:"}) {
      const auto at = rest.find(ext);
      if (at != std::string::npos && (end == std::string::npos || at < end)) end = at;
    }
    if (end == std::string::npos) continue;
    const std::string path = rest.substr(0, end + 2);
    std::size_t k = end + 3;
    unsigned line = 0;
    bool digits = false;
    while (k < rest.size() && std::isdigit(static_cast<unsigned char>(rest[k]))) {
      line = line * 10 + static_cast<unsigned>(rest[k++] - '0');
      digits = true;
      if (line > 10000000) break;
    }
    if (!digits || k >= rest.size() || rest[k] != ':') continue;
    std::string quoted = rest.substr(k + 1);
    if (!quoted.empty() && quoted.front() == ' ') quoted.erase(0, 1);
    while (!quoted.empty() && (quoted.back() == '\r' || quoted.back() == '\n')) quoted.pop_back();
    const std::string name = BaseName(path);
    compiledPaths_.emplace(name, path);
    sourceText_.emplace(std::make_pair(name, line), quoted);
  }
}

std::string Listing::SourceText(const std::string& file, unsigned line) const {
  const auto it = sourceText_.find({BaseName(file), line});
  return it == sourceText_.end() ? std::string() : it->second;
}

std::string Listing::CompiledPath(const std::string& file) const {
  const auto it = compiledPaths_.find(BaseName(file));
  return it == compiledPaths_.end() ? std::string() : it->second;
}

void Listing::AddRelocated(const std::string& text) {
  AddSourceComments(text);
  std::istringstream in(text);
  std::string raw;
  ListingLine l;
  while (std::getline(in, raw))
    if (ParseLine(raw, l)) text_.emplace(l.address, l.text);
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
