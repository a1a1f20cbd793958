#pragma once
// The target configuration record: the driver's only persistent state, kept in
// memory as one 1340-byte block and stored byte for byte in ZOLTKEIL.DSK.
#include <array>
#include <cstddef>
#include <cstdint>

#include "config/ByteOrder.h"

namespace kz {

inline constexpr std::size_t kTargetConfigSize = 1340;
inline constexpr std::int32_t kPodTableSlots = 40;  // rows of the built-in pod table

struct TargetConfig {
  std::uint8_t Signature[33];  // short string, see kSettingsSignature
  std::uint8_t Reserved33[223];
  LeI32 EmulatorIndex;  // 0..9, row of the emulator model table
  LeI32 PodIndex;       // 0..39, slot of the pod table; pod number = PodIndex + 1
  LeU32 CpuSelection;   // high half vendor number, low half CPU number (1-based)
  std::uint8_t Reserved268[542];
  std::uint8_t CpuOptionBytes[17];
  std::uint8_t Reserved827[241];
  LeI32 CrystalHz;
  LeI32 Reserved1072;
  LeI32 Reserved1076;
  LeI32 Reserved1080;
  std::uint8_t Reserved1084;
  std::uint8_t SixClockMode;
  std::uint8_t Xtal2Clock;
  std::uint8_t WatchdogMode;
  std::uint8_t XdataOnEmulator;
  std::uint8_t TargetResetMode;
  std::uint8_t EmulatorResetMode;
  std::uint8_t MonitorPeripheralMask;
  std::uint8_t Reserved1092[10];
  std::uint8_t PodFamilyChanged;
  std::uint8_t Reserved1103[13];
  std::uint8_t ClockCache[32];
  std::uint8_t Reserved1148[192];

  // PodIndex + 1, or 0 (no pod) when the stored index lies outside the pod
  // table: the settings file may hold any value, and the stored bytes are
  // kept as they are.
  int PodNumber() const {
    const std::int32_t index = PodIndex;
    return index >= 0 && index < kPodTableSlots ? index + 1 : 0;
  }
  std::uint8_t* Bytes() { return reinterpret_cast<std::uint8_t*>(this); }
  const std::uint8_t* Bytes() const { return reinterpret_cast<const std::uint8_t*>(this); }
};

static_assert(sizeof(TargetConfig) == kTargetConfigSize);
static_assert(offsetof(TargetConfig, EmulatorIndex) == 256);
static_assert(offsetof(TargetConfig, PodIndex) == 260);
static_assert(offsetof(TargetConfig, CpuSelection) == 264);
static_assert(offsetof(TargetConfig, CpuOptionBytes) == 810);
static_assert(offsetof(TargetConfig, CrystalHz) == 1068);
static_assert(offsetof(TargetConfig, Reserved1072) == 1072);
static_assert(offsetof(TargetConfig, Reserved1080) == 1080);
static_assert(offsetof(TargetConfig, SixClockMode) == 1085);
static_assert(offsetof(TargetConfig, MonitorPeripheralMask) == 1091);
static_assert(offsetof(TargetConfig, PodFamilyChanged) == 1102);
static_assert(offsetof(TargetConfig, ClockCache) == 1116);
static_assert(offsetof(TargetConfig, Reserved1148) == 1148);

// Length byte 32, "Zolt DSK file for Keil", seven blanks, CR, LF, 0x1A.
inline constexpr std::array<std::uint8_t, 33> kSettingsSignature = {
    32,  'Z', 'o', 'l', 't', ' ', 'D', 'S', 'K', ' ', 'f', 'i', 'l', 'e', ' ', 'f', 'o',
    'r', ' ', 'K', 'e', 'i', 'l', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 13,  10,  0x1A};

}  // namespace kz
