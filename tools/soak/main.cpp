// kz51-soak: connects, loads, runs and stops the virtual emulator's target
// through the driver's exports, over and over, as a debugger host would in a
// long session, and reports the resident memory at the start and the end and
// the slowest entry point call. Not part of the test command: 10,000 cycles
// take minutes.
//
//   build/linux/bin/kz51-soak [--cycles N] [--run-ms M] [--emu SETTINGS]
//
// It loads libusbd12.so and libkz51.so from its own directory, where the
// build also puts KZ.MDB and KZ.FMD (the driver looks for its data files
// beside the host program).
#include <dlfcn.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "host/AG_DLL_DEF.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Exports {
  std::int32_t (*AG_Init)(std::uint16_t, void*);
  std::uint16_t (*AG_MemAcc)(std::uint16_t, std::uint8_t*, kz::AddressRecord*, std::uint32_t);
  std::uint16_t (*AG_RegAcc)(std::uint16_t, std::uint32_t, void*);
  std::int32_t (*AG_GoStep)(std::uint16_t, std::uint32_t, kz::AddressRecord*);
  std::int32_t (*EnumUv351)(void*, std::int32_t);
};

std::string OwnDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string p(path);
  return p.substr(0, p.rfind('/'));
}

// Resident set size in KB, from /proc/self/statm.
long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The slowest call of each entry point.
class Timings {
 public:
  template <typename F>
  auto Timed(const char* entry, long cycle, F&& call) {
    const auto t0 = Clock::now();
    auto answer = call();
    Record(entry, cycle, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    return answer;
  }
  void Record(const char* entry, long cycle, double ms) {
    Slowest& s = slowest_[entry];
    ++s.calls;
    if (ms > s.ms) {
      s.ms = ms;
      s.cycle = cycle;
    }
  }
  void Print() const {
    std::string worst;
    double worstMs = -1;
    for (const auto& [entry, s] : slowest_) {
      std::printf("  %-14s %8ld calls, slowest %9.2f ms (cycle %ld)\n", entry.c_str(), s.calls,
                  s.ms, s.cycle);
      if (s.ms > worstMs) {
        worstMs = s.ms;
        worst = entry;
      }
    }
    std::printf("slowest entry point call: %s, %.2f ms\n", worst.c_str(), worstMs);
  }

 private:
  struct Slowest {
    long calls = 0;
    double ms = 0;
    long cycle = -1;
  };
  std::map<std::string, Slowest> slowest_;
};

}  // namespace

int main(int argc, char** argv) {
  long cycles = 10000;
  int runMs = 2;
  std::string emu = "pod=1";
  CLI::App app{"Soak run of the kz51 driver on the virtual emulator"};
  app.add_option("--cycles", cycles, "connect/load/run/stop cycles")->check(CLI::PositiveNumber);
  app.add_option("--run-ms", runMs, "how long each run lasts before the stop")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--emu", emu, "virtual emulator settings (KZ51_EMU syntax)");
  CLI11_PARSE(app, argc, argv);

  setenv("KZ51_EMU", emu.c_str(), 1);
  const std::string dir = OwnDirectory();
  // Loaded by path first, so the driver's own dlopen("libusbd12.so") finds it.
  void* provider = dlopen((dir + "/libusbd12.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
  void* driver = dlopen((dir + "/libkz51.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (provider == nullptr || driver == nullptr) {
    std::fprintf(stderr, "kz51-soak: %s\n", dlerror());
    return 1;
  }
  Exports x{};
  x.AG_Init = reinterpret_cast<decltype(x.AG_Init)>(dlsym(driver, "AG_Init"));
  x.AG_MemAcc = reinterpret_cast<decltype(x.AG_MemAcc)>(dlsym(driver, "AG_MemAcc"));
  x.AG_RegAcc = reinterpret_cast<decltype(x.AG_RegAcc)>(dlsym(driver, "AG_RegAcc"));
  x.AG_GoStep = reinterpret_cast<decltype(x.AG_GoStep)>(dlsym(driver, "AG_GoStep"));
  x.EnumUv351 = reinterpret_cast<decltype(x.EnumUv351)>(dlsym(driver, "EnumUv351"));
  if (!x.AG_Init || !x.AG_MemAcc || !x.AG_RegAcc || !x.AG_GoStep || !x.EnumUv351) {
    std::fprintf(stderr, "kz51-soak: missing export\n");
    return 1;
  }

  const long rssStart = ResidentKb();
  Timings t;
  std::uint32_t pcCell = 0;
  kz::BreakpointRecord* firstBreakpoint = nullptr;
  t.Timed("AG_Init", 0, [&] {
    x.AG_Init(0x30A, reinterpret_cast<void*>(std::uintptr_t{1}));
    x.AG_Init(0x30E, &firstBreakpoint);
    x.AG_Init(0x30F, &pcCell);
    return x.AG_Init(0x100, nullptr);
  });

  // MOV DPTR,#0100h / loop: MOVX @DPTR,A / INC A / INC DPTR / SJMP loop
  std::uint8_t program[] = {0x90, 0x01, 0x00, 0xF0, 0x04, 0xA3, 0x80, 0xFB};
  long failedConnects = 0, refusedLoads = 0, lateStops = 0, stopAnswers[2] = {0, 0};
  long rssAfterFirst = 0;
  const auto started = Clock::now();
  for (long cycle = 1; cycle <= cycles; ++cycle) {
    if (t.Timed("EnumUv351", cycle, [&] { return x.EnumUv351(nullptr, 2); }) != 8051)
      ++failedConnects;
    kz::AddressRecord code{0xFF000000u, 0, 0};
    if (t.Timed("AG_MemAcc", cycle,
                [&] { return x.AG_MemAcc(2, program, &code, sizeof program); }) != 0)
      ++refusedLoads;
    std::uint32_t pc = 0xFF000000u;
    t.Timed("AG_RegAcc", cycle, [&] { return x.AG_RegAcc(2, 0x500, &pc); });

    std::atomic<bool> done{false};
    double goMs = 0;
    std::thread runner([&] {
      const auto t0 = Clock::now();
      x.AG_GoStep(4, 0, nullptr);
      goMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(runMs));
    const std::int32_t stop =
        t.Timed("AG_GoStep(1)", cycle, [&] { return x.AG_GoStep(1, 0, nullptr); });
    ++stopAnswers[stop == 1 ? 1 : 0];
    // A go that does not end after its stop is asked again, and counted.
    const auto asked = Clock::now();
    while (!done) {
      if (Clock::now() - asked > std::chrono::seconds(10)) {
        ++lateStops;
        x.AG_GoStep(1, 0, nullptr);
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    runner.join();
    // The go's own time, less the time it was meant to run.
    t.Record("AG_GoStep(4)", cycle, goMs > runMs ? goMs - runMs : goMs);
    if (cycle == 1) rssAfterFirst = ResidentKb();
    if (cycle % 1000 == 0) {
      std::printf("cycle %ld: resident %ld KB\n", cycle, ResidentKb());
      std::fflush(stdout);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  t.Timed("AG_Init", cycles, [&] { return x.AG_Init(0x40C, nullptr); });
  const long rssEnd = ResidentKb();

  std::printf("cycles: %ld in %.1f s\n", cycles, seconds);
  std::printf("resident memory: start %ld KB, after the first cycle %ld KB, end %ld KB\n", rssStart,
              rssAfterFirst, rssEnd);
  std::printf(
      "failed connections: %ld, refused loads: %ld, stops answering 1: %ld of %ld, "
      "runs stopped late: %ld\n",
      failedConnects, refusedLoads, stopAnswers[1], stopAnswers[0] + stopAnswers[1], lateStops);
  t.Print();
  return failedConnects == 0 && lateStops == 0 ? 0 : 1;
}
