#pragma once
// Byte scrambling of the records in the configuration library KZ.FMD. The
// driver and the tool that writes the library must use the same constants.
#include <cstdint>

namespace kz {

struct ScrambleConstants {
  std::uint8_t add;
  std::uint8_t xorv;
};

// Modes 0, 1 and 2; every other mode stores bytes unchanged.
inline constexpr ScrambleConstants kFmdScramble[3] = {{0x5B, 0xA3}, {0x17, 0x3C}, {0xC4, 0x69}};

// Stored byte -> original byte: (stored + add) mod 256, then XOR.
inline constexpr std::uint8_t Descramble(std::int32_t mode, std::uint8_t stored) {
  if (mode < 0 || mode > 2) return stored;
  const auto& k = kFmdScramble[mode];
  return static_cast<std::uint8_t>(static_cast<std::uint8_t>(stored + k.add) ^ k.xorv);
}

// Original byte -> stored byte; the inverse of Descramble.
inline constexpr std::uint8_t Scramble(std::int32_t mode, std::uint8_t plain) {
  if (mode < 0 || mode > 2) return plain;
  const auto& k = kFmdScramble[mode];
  return static_cast<std::uint8_t>(static_cast<std::uint8_t>(plain ^ k.xorv) - k.add);
}

static_assert(Descramble(0, Scramble(0, 0x00)) == 0x00 &&
              Descramble(1, Scramble(1, 0x7F)) == 0x7F &&
              Descramble(2, Scramble(2, 0xFF)) == 0xFF && Descramble(3, 0x12) == 0x12);

}  // namespace kz
