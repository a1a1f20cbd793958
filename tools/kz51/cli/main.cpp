// kz51: the command-line debugger host. Loads the driver library, registers
// itself as the host and drives it from its arguments.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dap/Server.h"
#include "session/DriverLibrary.h"

namespace {

std::uint32_t KZ_CDECL HostCallback(std::uint32_t code, void* argument) {
  if (code == 3 && argument != nullptr) {
    const auto* view = static_cast<const kz::RegisterViewDescriptor*>(argument);
    std::printf("  register view from driver: %d groups, %d items\n", view->groupCount,
                view->itemCount);
  } else if (code == 4 && argument != nullptr) {
    std::string text(static_cast<const char*>(argument));
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    std::printf("  host command from driver: \"%s\"\n", text.c_str());
  } else {
    std::printf("  host callback code %u\n", code);
  }
  return 0;
}

void Usage() {
  std::printf(
      "usage: kz51 [--driver PATH] [--connect]\n"
      "  Loads the driver, registers this program as its host and initialises it.\n"
      "  --driver PATH  driver library (default: %s beside this program or on the search path)\n"
      "  --connect      also connect to the emulator (EnumUv351)\n",
      kzhost::DefaultDriverLibrary());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "dap") == 0) return kzhost::dap::RunDap(argc - 2, argv + 2);
  std::string path = kzhost::DefaultDriverLibrary();
  bool connect = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--driver") == 0 && i + 1 < argc) {
      path = argv[++i];
    } else if (std::strcmp(argv[i], "--connect") == 0) {
      connect = true;
    } else {
      Usage();
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  kzhost::DriverExports drv;
  std::string error;
  if (!kzhost::LoadDriver(path, drv, error)) {
    std::fprintf(stderr, "kz51: %s\n", error.c_str());
    return 1;
  }
  std::printf("loaded %s: all 12 exports resolved\n", path.c_str());
  std::printf("DllUv3Cap(2) = %d (architecture)\n", drv.DllUv3Cap(2));

  static std::uint32_t pcCell = 0;
  static kz::BreakpointRecord* breakpoints = nullptr;
  drv.AG_Init(0x30A, reinterpret_cast<void*>(static_cast<std::uintptr_t>(1)));
  drv.AG_Init(0x311, reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x8000)));
  drv.AG_Init(0x312, reinterpret_cast<void*>(&HostCallback));
  drv.AG_Init(0x30E, &breakpoints);
  drv.AG_Init(0x30F, &pcCell);
  std::printf("registered window, message number, callback, breakpoint list and PC cell\n");

  if (connect) {
    std::int32_t r = drv.EnumUv351(nullptr, 2);
    std::printf("EnumUv351(_, 2) = %d (%s)\n", r, r == 8051 ? "connected" : "not connected");
  }

  std::printf("AG_Init(0x100) initialise:\n");
  std::int32_t r = drv.AG_Init(0x100, nullptr);
  std::printf("  answer %d, PC cell 0x%08X\n", r, pcCell);
  std::uint32_t pc = 0;
  std::uint8_t acc = 0, r0 = 0;
  std::uint16_t dptr = 0;
  if (drv.AG_RegAcc(1, 0x500, &pc) == 0 && drv.AG_RegAcc(1, 20, &acc) == 0 &&
      drv.AG_RegAcc(1, 0, &r0) == 0 && drv.AG_RegAcc(1, 24, &dptr) == 0) {
    std::printf("registers: PC 0x%08X, A 0x%02X, R0 0x%02X, DPTR 0x%04X\n", pc, acc, r0, dptr);
  }
  int features = 0;
  for (std::uint16_t code = 0x201; code <= 0x207; ++code) features += drv.AG_Init(code, nullptr);
  std::printf("feature queries 0x201..0x207: %d supported\n", features);
  std::printf("AG_Serial(1) = %d, AG_HistFunc(3) = %d\n", drv.AG_Serial(1, 0, 0, nullptr),
              drv.AG_HistFunc(3));
  std::printf("AG_Init(0x40C) exit = %d\n", drv.AG_Init(0x40C, nullptr));
  return 0;
}
