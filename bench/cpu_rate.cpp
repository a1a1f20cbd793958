// Instruction rate of the Cpu8051 core against ucsim's s51 on the same
// SDCC-compiled program (bench/programs/cpu_rate.c), measured in one run.
// s51's rate uses its own "Host usage" time for the simulation run, which
// leaves out its start-up and file loading.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "cpu/Cpu8051.h"
#include "emu/SdccFiles.h"

namespace fs = std::filesystem;

namespace {

using kzemu::sdcc::MapSymbol;
using kzemu::sdcc::ReadFile;

int Fail(const std::string& why) {
  std::fprintf(stderr, "cpu_rate: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main() {
  using Clock = std::chrono::steady_clock;
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("kz51-cpu-rate-" + std::to_string(rd()));
  fs::create_directories(dir);
  const fs::path src = fs::path(KZ_SOURCE_DIR) / "bench/programs/cpu_rate.c";
  const std::string cc = "sdcc -mmcs51 -o '" + dir.string() + "/' '" + src.string() + "' > '" +
                         (dir / "sdcc.log").string() + "' 2>&1";
  if (std::system(cc.c_str()) != 0) return Fail("sdcc failed: " + ReadFile(dir / "sdcc.log"));
  const std::string hex = ReadFile(dir / "cpu_rate.ihx");
  const long done = MapSymbol(ReadFile(dir / "cpu_rate.map"), "_kz_done");
  if (done < 0) return Fail("no _kz_done in the map");

  // --- this core: repeat the whole program until at least a second has passed ---
  kzemu::Cpu8051 cpu;
  std::string err;
  if (!cpu.LoadIntelHex(hex, &err)) return Fail(err);
  std::uint64_t perRun = 0, total = 0, runs = 0;
  const auto t0 = Clock::now();
  double secs = 0;
  do {
    cpu.Reset();
    cpu.iram.fill(0);
    cpu.xdata.fill(0);
    cpu.instructions = 0;
    cpu.Run(1'000'000'000, static_cast<int>(done));
    if (cpu.pc != done) return Fail("program did not finish on Cpu8051");
    perRun = cpu.instructions;
    total += perRun;
    ++runs;
    secs = std::chrono::duration<double>(Clock::now() - t0).count();
  } while (secs < 1.0);
  const double mine = static_cast<double>(total) / secs;

  // --- s51 ---
  {
    std::ofstream cmd(dir / "s51.cmd");
    cmd << "break 0x" << std::hex << done << std::dec << "\nrun\nstate\nquit\n";
  }
  const std::string sim = "timeout 600 s51 -t 8052 -b '" + (dir / "cpu_rate.ihx").string() +
                          "' < '" + (dir / "s51.cmd").string() + "' > '" +
                          (dir / "s51.out").string() + "' 2>&1";
  const auto s0 = Clock::now();
  if (std::system(sim.c_str()) != 0) return Fail("s51 failed or is missing");
  const double s51Wall = std::chrono::duration<double>(Clock::now() - s0).count();
  const std::string out = ReadFile(dir / "s51.out");
  const auto ip = out.find("Inst= ");
  const auto hp = out.find("Host usage: ");
  if (ip == std::string::npos || hp == std::string::npos ||
      out.find("Stop at") == std::string::npos)
    return Fail("could not read s51's statistics:\n" + out);
  // s51 also counts the fetch that hits the breakpoint.
  const std::uint64_t s51Inst = std::stoull(out.substr(ip + 6)) - 1;
  const double s51Secs = std::stod(out.substr(hp + 12));
  const double ref = static_cast<double>(s51Inst) / s51Secs;

  std::printf("program: %llu instructions per run (s51: %llu)%s\n",
              static_cast<unsigned long long>(perRun), static_cast<unsigned long long>(s51Inst),
              perRun == s51Inst ? "" : "  MISMATCH");
  std::printf("Cpu8051: %.1f M instructions/s (%llu runs in %.2f s)\n", mine / 1e6,
              static_cast<unsigned long long>(runs), secs);
  std::printf("s51    : %.1f M instructions/s (simulation %.2f s, process %.2f s wall)\n",
              ref / 1e6, s51Secs, s51Wall);
  std::printf("ratio  : %.1fx (target >= 10x)\n", mine / ref);
#ifndef __OPTIMIZE__
  std::printf(
      "note   : built without optimisation; configure with -DCMAKE_BUILD_TYPE=Release "
      "or RelWithDebInfo for representative numbers\n");
#endif
  std::error_code ec;
  fs::remove_all(dir, ec);
  return perRun == s51Inst ? 0 : 1;
}
