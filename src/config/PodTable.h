#pragma once
// The built-in emulator model table (10 rows) and pod table (40 slots).
#include <array>
#include <cstdint>

#include "config/TargetConfig.h"

namespace kz {

struct EmulatorModel {
  std::uint8_t Listed;     // 1 = offered in the emulator list
  const char* ModelName;   // at most 20 characters
  std::uint8_t ModelCode;  // the code the emulator reports about itself
};

inline constexpr int kEmulatorModelCount = 10;
extern const std::array<EmulatorModel, kEmulatorModelCount> kEmulatorModels;

struct PodSlot {
  std::uint8_t Listed;  // run-time mark rewritten by the project options dialog
  std::uint8_t Family;  // 0 = 8051, 1 = 80C196, 3 = reserved, 4 = C166, 5 = ARM, 6 = DSP
  std::uint16_t OptionDialogKind;
  const char* PodConfigName;  // logic configuration name in KZ.FMD (without prefix)
  const char* PodName;        // name shown in the pod list
  const char* MonitorName;    // monitor program name in KZ.FMD
  std::uint8_t PodCode;       // identity code the pod reports
  std::uint8_t MonitorKind;
  std::uint16_t EmulatorSet;  // bit n set = works with emulator number n (1..15)
};

inline constexpr int kPodSlotCount = kPodTableSlots;
// The constant contents; the driver copies them into its own mutable table
// (PodTable) because the dialog rewrites Listed.
extern const std::array<PodSlot, kPodSlotCount> kPodSlots;

using PodTable = std::array<PodSlot, kPodSlotCount>;

// The pod bit of a pod number (1-based slot), 0 when the pod has none.
std::uint32_t PodBit(int podNumber);

// Name shown for a pod code reported by a pod (codes 1..8, 16..23 and 32..35
// have their own; every other code, 0 included, the shared default name).
const char* PodNameForCode(std::uint8_t podCode);

}  // namespace kz
