#pragma once
// The 32-byte clock generator settings cache, kept in a working copy and
// mirrored in the settings record's ClockCache field.
#include <cstddef>
#include <cstdint>

#include "config/ByteOrder.h"

namespace kz {

struct PllSettingBytes {
  std::uint8_t PostDivider;  // 0 = no setting found
  std::uint8_t QRegister;
  std::uint8_t PLow;
  std::uint8_t PllControl;
  std::uint8_t Prescale;  // 1 when the setting runs at 128 times the wanted frequency
};
static_assert(sizeof(PllSettingBytes) == 5);

struct ClockCacheRecord {
  LeI32 CachedHz;
  LeI32 AchievedHz1;
  LeI32 AchievedHz2;
  PllSettingBytes Setting1;  // for the crystal frequency
  PllSettingBytes Setting2;  // for twice the crystal frequency
  std::uint8_t CpuTypeCode;  // 1, 3, 4 or 6
  std::uint8_t CalA;         // 1 or 2
  std::uint8_t CalB;         // 0 or 1
  std::uint8_t CalC;         // 0..31
  std::uint8_t CalX;         // 0 or 1
  std::uint8_t CalValid;
  LeU32 Checksum;
};
static_assert(sizeof(ClockCacheRecord) == 32);
static_assert(offsetof(ClockCacheRecord, Setting1) == 12);
static_assert(offsetof(ClockCacheRecord, Setting2) == 17);
static_assert(offsetof(ClockCacheRecord, CpuTypeCode) == 22);
static_assert(offsetof(ClockCacheRecord, CalValid) == 27);
static_assert(offsetof(ClockCacheRecord, Checksum) == 28);

}  // namespace kz
