#include "symbols/MapFile.h"

#include <cctype>
#include <sstream>

namespace kz51::map {

namespace {

bool IsHex(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace

std::vector<Symbol> Parse(const std::string& text) {
  std::vector<Symbol> out;
  std::istringstream in(text);
  std::string line;
  std::string area;
  bool areaCode = false, areaXdata = false;
  bool expectArea = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream ls(line);
    std::vector<std::string> words;
    for (std::string w; ls >> w;) words.push_back(w);
    if (words.empty()) continue;
    if (words[0] == "Area") {
      expectArea = true;
      continue;
    }
    if (expectArea && words[0].find("----") == 0) continue;
    if (expectArea) {
      // "CSEG   00000062  000000B5 =  181. bytes (REL,CON,CODE)"
      area = words[0];
      areaCode = line.find("CODE") != std::string::npos;
      areaXdata = line.find("XDATA") != std::string::npos;
      expectArea = false;
      continue;
    }
    std::size_t i = 0;
    bool markedCode = false;
    if (words[0].size() == 2 && words[0][1] == ':') {
      markedCode = words[0][0] == 'C';
      i = 1;
    }
    if (words.size() < i + 2 || words[i].size() != 8 || !IsHex(words[i])) continue;
    Symbol s;
    s.value = static_cast<std::uint32_t>(std::stoul(words[i], nullptr, 16));
    s.name = words[i + 1];
    s.area = area;
    s.code = markedCode || areaCode;
    s.xdata = areaXdata;
    if (words.size() > i + 2) s.module = words[i + 2];
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace kz51::map
