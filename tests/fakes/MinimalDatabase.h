#pragma once
// The smallest KZ.MDB that loads: the header, no vendors, the end markers.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kz::fake {

inline std::vector<unsigned char> EmptyDatabase() {
  const std::string header = "ZOLT MCU DataBase, !DO NOT MODIFY THIS FILE!";
  std::vector<unsigned char> b(1 + 44 + 1 + 12, 0);
  b[0] = 45;
  std::memcpy(&b[1], header.data(), 44);
  b[45] = 0x1A;
  const std::uint32_t words[3] = {0u, 0x12345678u, 0x55AA00FFu};
  for (int w = 0; w < 3; ++w)
    for (int i = 0; i < 4; ++i) b[46 + 4 * w + i] = static_cast<unsigned char>(words[w] >> (8 * i));
  return b;
}

}  // namespace kz::fake
