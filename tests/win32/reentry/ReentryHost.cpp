// A host under wine that calls the driver again from its message loop while
// the start-up message box (no KZ.MDB beside the program) is shown: each such
// call must answer at once as a failure, without a deadlock or a crash, and
// the box must close normally afterwards.
#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace {

using InitFn = std::int32_t(__cdecl*)(std::uint16_t, void*);
using RegFn = std::uint16_t(__cdecl*)(std::uint16_t, std::uint32_t, void*);
using CapFn = std::int32_t(__cdecl*)(std::int32_t);
using EnumFn = std::int32_t(__cdecl*)(void*, std::int32_t);

InitFn agInit = nullptr;
RegFn agRegAcc = nullptr;
CapFn cap = nullptr;
EnumFn enumUv = nullptr;

bool reentered = false;
std::int32_t innerInit = -1, innerCap2 = -1, innerCap1 = -1, innerEnum = -1;
std::uint16_t innerReg = 0;

BOOL CALLBACK CloseBox(HWND window, LPARAM) {
  char cls[32] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (lstrcmpA(cls, "#32770") == 0) PostMessageA(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

// Runs inside the message box's own message loop.
void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (!reentered) {
    reentered = true;
    innerInit = agInit(0x30A, reinterpret_cast<void*>(1));
    std::uint8_t value[4] = {};
    innerReg = agRegAcc(1, 20, value);
    innerCap2 = cap(2);
    innerCap1 = cap(1);
    innerEnum = enumUv(nullptr, 2);
  }
  EnumThreadWindows(GetCurrentThreadId(), CloseBox, 0);
}

int failed = 0;
void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failed;
}

}  // namespace

int main() {
  HMODULE dll = LoadLibraryA("KZ_DLL.dll");
  if (dll == nullptr) {
    std::printf("FAILED: KZ_DLL.dll loads\n");
    return 1;
  }
  auto get = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(dll, name)); };
  agInit = reinterpret_cast<InitFn>(get("AG_Init"));
  agRegAcc = reinterpret_cast<RegFn>(get("AG_RegAcc"));
  cap = reinterpret_cast<CapFn>(get("DllUv3Cap"));
  enumUv = reinterpret_cast<EnumFn>(get("EnumUv351"));
  if (agInit == nullptr || agRegAcc == nullptr || cap == nullptr || enumUv == nullptr) {
    std::printf("FAILED: exports resolve\n");
    return 1;
  }
  SetTimer(nullptr, 0, 200, OnTimer);
  // The first call starts the library, which shows the box and waits in it.
  const std::int32_t outer = agInit(0x100, nullptr);
  Check(outer == 0, "the first call answers 0 after the box");
  Check(reentered, "the host called in again while the box was shown");
  Check(innerInit == 0, "AG_Init during start-up answers 0");
  Check(innerReg == 1, "AG_RegAcc during start-up refuses");
  Check(innerCap2 == 8051, "DllUv3Cap(2) during start-up answers 8051");
  Check(innerCap1 == 0, "DllUv3Cap(1) during start-up answers 0");
  Check(innerEnum == 0, "EnumUv351 during start-up answers 0");
  // After the failed start-up every entry point still refuses.
  Check(cap(1) == 0 && enumUv(nullptr, 2) == 0, "later calls refuse without a new box");
  std::printf("%d failed\n", failed);
  return failed == 0 ? 0 : 1;
}
