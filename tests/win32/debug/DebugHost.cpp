// The end-to-end debugging host for wine: loads KZ_DLL.dll, connects to the
// virtual emulator through the test usbd12.dll beside it, loads an Intel HEX
// program and plays a host script (tests/e2e/DebugScript.h), writing the same
// lines the native end-to-end host writes, so the two can be compared.
//
//   win32_debug_host.exe <program.ihx> <script> <output file>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "e2e/DebugScript.h"

namespace {

template <typename Fn>
Fn Resolve(HMODULE dll, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: win32_debug_host <program.ihx> <script> <output>\n");
    return 2;
  }
  HMODULE dll = LoadLibraryA("KZ_DLL.dll");
  if (dll == nullptr) {
    std::fprintf(stderr, "KZ_DLL.dll does not load\n");
    return 1;
  }
  kz::e2e::Exports x;
  x.init = Resolve<kz::e2e::InitFn>(dll, "AG_Init");
  x.memAcc = Resolve<kz::e2e::MemAccFn>(dll, "AG_MemAcc");
  x.regAcc = Resolve<kz::e2e::RegAccFn>(dll, "AG_RegAcc");
  x.breakFunc = Resolve<kz::e2e::BreakFn>(dll, "AG_BreakFunc");
  x.goStep = Resolve<kz::e2e::GoStepFn>(dll, "AG_GoStep");
  x.enumUv351 = Resolve<kz::e2e::EnumFn>(dll, "EnumUv351");
  if (x.init == nullptr || x.memAcc == nullptr || x.regAcc == nullptr || x.breakFunc == nullptr ||
      x.goStep == nullptr || x.enumUv351 == nullptr) {
    std::fprintf(stderr, "an export is missing\n");
    return 1;
  }
  std::ifstream hexFile(argv[1], std::ios::binary);
  std::stringstream hex;
  hex << hexFile.rdbuf();
  std::FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr) return 1;
  const int rc = kz::e2e::RunDebugScript(x, hex.str(), argv[2], out);
  std::fclose(out);
  return rc;
}
