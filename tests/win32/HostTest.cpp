// A small stand-in for the debugger host under wine: loads KZ_DLL.dll,
// resolves every export by its undecorated name and checks the answers of the
// entry points that need no emulator.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/AG_DLL_DEF.h"

namespace {

int passed = 0, failed = 0;

void Check(bool ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s\n", what);
  }
}

int callbackCode4 = 0;
char lastCommand[16] = {};
std::uint32_t __cdecl Callback(std::uint32_t code, void* argument) {
  if (code == 4) {
    ++callbackCode4;
    std::strncpy(lastCommand, static_cast<const char*>(argument), sizeof lastCommand - 1);
  }
  return 0;
}

}  // namespace

int main() {
  HMODULE dll = LoadLibraryA("KZ_DLL.dll");
  Check(dll != nullptr, "KZ_DLL.dll loads");
  if (dll == nullptr) {
    std::printf("%d passed, %d failed\n", passed, failed);
    return 1;
  }
  const char* names[] = {"AG_Init",   "AG_MemAcc",   "AG_RegAcc",    "AG_AllReg",
                         "AG_MemAtt", "AG_BpInfo",   "AG_BreakFunc", "AG_GoStep",
                         "AG_Serial", "AG_HistFunc", "DllUv3Cap",    "EnumUv351"};
  for (const char* n : names) {
    char what[64];
    std::snprintf(what, sizeof what, "export %s resolves", n);
    Check(GetProcAddress(dll, n) != nullptr, what);
  }
  using InitFn = std::int32_t(__cdecl*)(std::uint16_t, void*);
  using CapFn = std::int32_t(__cdecl*)(std::int32_t);
  using SerialFn = std::int32_t(__cdecl*)(std::uint16_t, std::uint32_t, std::uint32_t, void*);
  using EnumFn = std::int32_t(__cdecl*)(void*, std::int32_t);
  auto agInit = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(dll, "AG_Init")));
  auto cap = reinterpret_cast<CapFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllUv3Cap")));
  auto serial =
      reinterpret_cast<SerialFn>(reinterpret_cast<void*>(GetProcAddress(dll, "AG_Serial")));
  auto hist = reinterpret_cast<CapFn>(reinterpret_cast<void*>(GetProcAddress(dll, "AG_HistFunc")));
  auto enumUv = reinterpret_cast<EnumFn>(reinterpret_cast<void*>(GetProcAddress(dll, "EnumUv351")));
  if (agInit == nullptr || cap == nullptr || serial == nullptr || hist == nullptr ||
      enumUv == nullptr) {
    std::printf("%d passed, %d failed\n", passed, failed);
    return 1;
  }

  Check(cap(2) == 8051, "DllUv3Cap(2) answers 8051");
  // The test usbd12.dll beside this program serves the virtual emulator: the
  // whole connection runs, with its progress window, the downloads from
  // KZ.FMD, the calibration and the settings saved beside the program.
  DeleteFileA("ZOLTKEIL.DSK");
  Check(enumUv(nullptr, 2) == 8051, "EnumUv351(_, 2) connects to the virtual emulator");
  WIN32_FILE_ATTRIBUTE_DATA settings{};
  Check(GetFileAttributesExA("ZOLTKEIL.DSK", GetFileExInfoStandard, &settings) != FALSE &&
            settings.nFileSizeLow == 1340 && settings.nFileSizeHigh == 0,
        "the connection saved the 1340-byte settings file");
  Check(enumUv(nullptr, 2) == 8051, "a second connection succeeds too");
  Check(cap(5) == 0, "DllUv3Cap(5) answers 0");
  Check(enumUv(nullptr, 1) == 0, "EnumUv351(_, 1) answers 0");

  static std::uint32_t pcCell = 0x12345678;
  static kz::BreakpointRecord* anchor = nullptr;
  Check(agInit(0x30A, reinterpret_cast<void*>(1)) == 0, "register window");
  Check(agInit(0x311, reinterpret_cast<void*>(0x8000)) == 0, "register message number");
  Check(agInit(0x312, reinterpret_cast<void*>(&Callback)) == 0, "register callback");
  Check(agInit(0x30E, &anchor) == 0, "register breakpoint anchor");
  Check(agInit(0x30F, &pcCell) == 0, "register PC cell");
  Check(agInit(0x100, nullptr) == 0, "initialise answers 0");
  Check(callbackCode4 == 1 && std::strcmp(lastCommand, "U $\r") == 0,
        "initialise hands \"U $\\r\" to the host");
  int features = 0;
  for (int code = 0x200; code <= 0x2FF; ++code)
    features += agInit(static_cast<std::uint16_t>(code), nullptr);
  Check(features == 0, "every feature query answers 0");
  Check(agInit(0x40D, nullptr) == 0 && callbackCode4 == 2, "reset notification runs");
  Check(agInit(0x410, nullptr) == 0, "breakpoint list notification answers 0");
  unsigned char buffer[4] = {9, 8, 7, 6};
  Check(serial(1, 0, 4, buffer) == 0 && buffer[0] == 9 && buffer[3] == 6,
        "AG_Serial answers 0 and leaves the buffer");
  Check(hist(3) == 0, "AG_HistFunc(3) answers 0");
  Check(agInit(0x40C, nullptr) == 0, "exit notification answers 0");
  Check(agInit(0x999, nullptr) == 0, "unlisted code answers 0");

  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
