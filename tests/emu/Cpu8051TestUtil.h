#pragma once
// Small harness for the CPU unit tests: code is placed at 0 and stepped.
#include <cstdint>
#include <initializer_list>

#include "cpu/Cpu8051.h"

namespace kzemu::test {

inline constexpr std::uint8_t kCY = 0x80, kAC = 0x40, kOV = 0x04, kP = 0x01;

struct Cpu : Cpu8051 {
  void Load(std::initializer_list<std::uint8_t> bytes, std::uint16_t at = 0) {
    for (std::uint8_t b : bytes) code[at++] = b;
  }
  void SetA(std::uint8_t v) { WriteSfr(sfr::ACC, v); }
  void SetPsw(std::uint8_t v) { WriteSfr(sfr::PSW, v); }
  std::uint8_t Sfr(std::uint8_t a) const { return ReadSfr(a); }
  // Steps n times and returns the total machine cycles.
  int Steps(int n) {
    int c = 0;
    while (n-- > 0) c += Step();
    return c;
  }
  bool Flag(std::uint8_t mask) const { return (Psw() & mask) != 0; }
};

}  // namespace kzemu::test
