#include "cli/Call.h"

#include <cctype>
#include <cstdio>

namespace kz51::cli {

std::vector<Word> SplitWords(const std::string& line) {
  std::vector<Word> words;
  Word cur;
  bool inWord = false, quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else {
        cur.text += c;
      }
    } else if (c == '"') {
      if (!inWord) cur.at = i;
      quoted = inWord = true;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      if (inWord) words.push_back(cur);
      cur = Word{};
      inWord = false;
    } else {
      if (!inWord) cur.at = i;
      cur.text += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(cur);
  return words;
}

std::string Trim(const std::string& s) {
  const auto a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  const auto b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

CommandResult Call::Fail(const std::string& error) {
  r.ok = false;
  r.json["ok"] = false;
  r.json["error"] = error;
  r.text = "error: " + error;
  return r;
}

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
  return buf;
}

std::string LineText(const Symbols& symbols, std::uint32_t pc) {
  std::string text = AddressText(pc);
  const std::string sym = symbols.Describe(pc);
  if (!sym.empty()) text += " " + sym;
  if (const auto line = symbols.LineAt(pc))
    text += " (" + line->file + ":" + std::to_string(line->line) + ")";
  return text;
}

std::string ValueText(std::int64_t v) {
  char buf[48];
  if (v < 0) {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
  } else {
    std::snprintf(buf, sizeof buf, "%lld (0x%llX)", static_cast<long long>(v),
                  static_cast<unsigned long long>(v));
  }
  return buf;
}

void AddPlace(Json& j, const Symbols& symbols, std::uint32_t pc) {
  j["pc"] = pc;
  const std::string sym = symbols.Describe(pc);
  if (!sym.empty()) j["symbol"] = sym;
  if (const auto line = symbols.LineAt(pc)) {
    j["file"] = line->file;
    j["line"] = line->line;
  }
}

bool ParseCount(const std::string& text, std::uint32_t& n, std::string& error) {
  if (!ParseNumber(text, n) || n == 0) {
    error = "'" + text + "' is not a count of 1 or more";
    return false;
  }
  return true;
}

std::string AddressText(std::uint32_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, address > 0x9FFF ? "0%04XH" : "%04XH", address & 0xFFFFu);
  return buf;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string s;
  for (auto b : bytes) s += Hex2(b);
  return s;
}

}  // namespace kz51::cli
