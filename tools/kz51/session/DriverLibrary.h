#pragma once
// Loads the driver library and resolves its exports by their undecorated
// names, as the debugger host does.
#include <cstdint>
#include <string>

#include "host/AG_DLL_DEF.h"

namespace kzhost {

struct DriverExports {
  std::int32_t(KZ_CDECL* AG_Init)(std::uint16_t, void*) = nullptr;
  std::uint16_t(KZ_CDECL* AG_MemAcc)(std::uint16_t, std::uint8_t*, kz::AddressRecord*,
                                     std::uint32_t) = nullptr;
  std::uint16_t(KZ_CDECL* AG_RegAcc)(std::uint16_t, std::uint32_t, void*) = nullptr;
  std::uint16_t(KZ_CDECL* AG_AllReg)(std::uint16_t, void*) = nullptr;
  std::uint16_t(KZ_CDECL* AG_MemAtt)(std::uint16_t, std::uint32_t, kz::AddressRecord*) = nullptr;
  std::int32_t(KZ_CDECL* AG_BpInfo)(std::uint16_t, std::uint32_t*) = nullptr;
  void*(KZ_CDECL* AG_BreakFunc)(std::uint16_t, std::uint16_t, std::uint32_t*,
                                kz::BreakpointRecord*) = nullptr;
  std::int32_t(KZ_CDECL* AG_GoStep)(std::uint16_t, std::uint32_t, kz::AddressRecord*) = nullptr;
  std::int32_t(KZ_CDECL* AG_Serial)(std::uint16_t, std::uint32_t, std::uint32_t, void*) = nullptr;
  std::int32_t(KZ_CDECL* AG_HistFunc)(std::int32_t) = nullptr;
  std::int32_t(KZ_CDECL* DllUv3Cap)(std::int32_t) = nullptr;
  std::int32_t(KZ_CDECL* EnumUv351)(void*, std::int32_t) = nullptr;
};

// The file name of the driver library on this platform.
const char* DefaultDriverLibrary();
// Loads the library and resolves every export; on failure `error` says which.
bool LoadDriver(const std::string& path, DriverExports& out, std::string& error);

}  // namespace kzhost
