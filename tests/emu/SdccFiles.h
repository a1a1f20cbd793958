#pragma once
// Reading what sdcc leaves behind, for the comparison with ucsim and the rate
// benchmark.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kzemu::sdcc {

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Address of a code symbol from the linker map ("C:   00000062  _kz_done ..."),
// or -1.
inline long MapSymbol(const std::string& map, const std::string& name) {
  std::istringstream in(map);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string area, addr, sym;
    if (!(ls >> area >> addr >> sym)) continue;
    if (area == "C:" && sym == name) return std::stol(addr, nullptr, 16);
  }
  return -1;
}

}  // namespace kzemu::sdcc
