#pragma once
// The host's records as far as the driver uses them, laid out as the 32-bit
// host has them. The 64-bit build uses the same declarations with native
// pointer width (the offsets then differ where a pointer precedes a field).
#include <cstddef>
#include <cstdint>

#include "config/ByteOrder.h"

#if defined(_WIN32)
#define KZ_CDECL __cdecl
#else
#define KZ_CDECL
#endif

namespace kz {

// Host callback: code 3 hands over the register view descriptor, code 4 a
// zero-terminated command text. Its result is ignored.
using HostCallback = std::uint32_t(KZ_CDECL*)(std::uint32_t code, void* argument);

#pragma pack(push, 1)

// Address record: target address, the driver's result word, a cell count.
struct AddressRecord {
  std::uint32_t address;
  std::uint32_t result;
  std::uint32_t length;
};

// Host breakpoint record; only the fields the driver uses are named.
struct BreakpointRecord {
  union {
    BreakpointRecord* next;  // 0 at the end of the list
    std::uint8_t nextSlot[8];
  };
  std::uint32_t flags;    // bits 3..0 kind, bit 4 enabled
  std::uint32_t address;  // CODE-address form 0xFF000000 | 16-bit address
  std::uint8_t reserved16[24];
  std::int32_t remainingCount;
  std::int32_t initialCount;
  std::uint8_t reserved48[4];
  const char* commandText;  // handed to the host when the breakpoint acts, or 0
};

struct RegisterGroup {
  std::uint8_t zero;  // 0
  std::uint8_t one;   // 1
  const char* name;   // "Reg" or "Sys"
};

struct RegisterItem {
  std::uint8_t one;      // 1 in every item
  std::uint8_t group;    // 0 "Reg", 1 "Sys"
  std::uint8_t zero;     // 0
  LeU16 number;          // item number (unaligned in the host's layout)
  char name[16];         // zero-filled
  std::uint8_t isPc;     // 1 for the PC item only
  std::uint8_t named;    // 1 for the 21 named items, 0 for the last
  std::uint8_t changed;  // changed mark
  std::uint8_t redraw;   // redraw mark
  char valueText[32];    // value text
  LeU32 lastValue;       // last value shown
  LeU32 zeroWord;        // written 0
};

using RegisterGetFn = void(KZ_CDECL*)(RegisterItem* item, std::int32_t selector);
using RegisterSetFn = std::int32_t(KZ_CDECL*)(RegisterItem* item, void* value);

struct RegisterViewDescriptor {
  std::int32_t groupCount;  // 2
  std::int32_t itemCount;   // 22
  RegisterGroup* groups;
  RegisterItem* items;
  RegisterGetFn get;
  RegisterSetFn set;
};

#pragma pack(pop)

static_assert(sizeof(AddressRecord) == 12);
static_assert(offsetof(AddressRecord, result) == 4 && offsetof(AddressRecord, length) == 8);
static_assert(offsetof(BreakpointRecord, flags) == 8);
static_assert(offsetof(BreakpointRecord, address) == 12);
static_assert(offsetof(BreakpointRecord, remainingCount) == 40);
static_assert(offsetof(BreakpointRecord, initialCount) == 44);
static_assert(offsetof(BreakpointRecord, commandText) == 52);
static_assert(sizeof(RegisterItem) == 65);
static_assert(offsetof(RegisterItem, number) == 3 && offsetof(RegisterItem, name) == 5);
static_assert(offsetof(RegisterItem, isPc) == 21 && offsetof(RegisterItem, valueText) == 25);
static_assert(offsetof(RegisterItem, lastValue) == 57 && offsetof(RegisterItem, zeroWord) == 61);
// The 32-bit layouts the host has.
static_assert(sizeof(void*) != 4 || sizeof(RegisterGroup) == 6);
static_assert(sizeof(void*) != 4 || sizeof(RegisterViewDescriptor) == 24);
static_assert(sizeof(void*) != 4 || sizeof(BreakpointRecord) == 56);

// Breakpoint record flags.
inline constexpr std::uint32_t kBpKindMask = 0x0F;
inline constexpr std::uint32_t kBpEnabled = 0x10;

// Address spaces (top byte of a target address).
inline constexpr std::uint8_t kSpaceXdata = 0x01;
inline constexpr std::uint8_t kSpaceData = 0xF0;
inline constexpr std::uint8_t kSpaceIdata = 0xF3;
inline constexpr std::uint8_t kSpacePdata = 0xFE;
inline constexpr std::uint8_t kSpaceCode = 0xFF;

// AG_Init code groups and items.
inline constexpr std::uint16_t kInitGroup = 0x100;
inline constexpr std::uint16_t kFeatureGroup = 0x200;
inline constexpr std::uint16_t kRegistrationGroup = 0x300;
inline constexpr std::uint16_t kNotificationGroup = 0x400;

}  // namespace kz
