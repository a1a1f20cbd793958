#pragma once
// Packet helpers for driving the virtual emulator's firmware directly.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "firmware/Firmware.h"

namespace kzemu::test {

inline Packet Cmd(std::initializer_list<std::uint8_t> head) {
  Packet p{};
  std::size_t i = 0;
  for (std::uint8_t b : head) p[i++] = b;
  return p;
}

inline Packet Send(Firmware& fw, const Packet& cmd) {
  Packet rep{};
  EXPECT_TRUE(fw.Serve(cmd, rep)) << "no reply to command " << int(cmd[0]);
  return rep;
}

inline std::uint16_t Le16(const Packet& p, int at) {
  return static_cast<std::uint16_t>(p[static_cast<std::size_t>(at)] |
                                    p[static_cast<std::size_t>(at + 1)] << 8);
}

inline void WriteWords(Firmware& fw, std::uint16_t w0, std::uint16_t w1, std::uint16_t w2,
                       std::uint16_t w3) {
  Packet c = Cmd({9});
  const std::uint16_t w[4] = {w0, w1, w2, w3};
  for (int i = 0; i < 4; ++i) {
    c[static_cast<std::size_t>(1 + 2 * i)] = static_cast<std::uint8_t>(w[i]);
    c[static_cast<std::size_t>(2 + 2 * i)] = static_cast<std::uint8_t>(w[i] >> 8);
  }
  Send(fw, c);
}

// A configuration in the KZ51_EMU syntax.
inline FirmwareConfig Cfg(const char* text) {
  FirmwareConfig c;
  std::string err;
  EXPECT_TRUE(ParseFirmwareConfig(text, c, &err)) << err;
  return c;
}

inline Packet Status(Firmware& fw) {
  return Send(fw, Cmd({10}));
}

inline void WriteBlock(Firmware& fw, std::uint8_t code, std::uint16_t addr,
                       const std::vector<std::uint8_t>& bytes) {
  Packet c = Cmd({code, static_cast<std::uint8_t>(bytes.size()), static_cast<std::uint8_t>(addr),
                  static_cast<std::uint8_t>(addr >> 8)});
  for (std::size_t i = 0; i < bytes.size(); ++i) c[8 + i] = bytes[i];
  Send(fw, c);
}

inline std::vector<std::uint8_t> ReadBlock(Firmware& fw, std::uint8_t code, std::uint16_t addr,
                                           std::uint8_t n) {
  const Packet r = Send(
      fw, Cmd({code, n, static_cast<std::uint8_t>(addr), static_cast<std::uint8_t>(addr >> 8)}));
  return std::vector<std::uint8_t>(r.begin(), r.begin() + n);
}

inline void SetBreakpoint(Firmware& fw, std::uint16_t addr, std::uint8_t value) {
  WriteBlock(fw, 70, addr, {value});
}

}  // namespace kzemu::test
