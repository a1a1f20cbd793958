// Instruction rate of the Cpu8051 core against ucsim's s51 on the same
// SDCC-compiled program (bench/programs/cpu_rate.c), and the core's rate
// while it counts for coverage and profiles (kz51 run --coverage --profile:
// the region table of the program's .cdb, call edges), measured in one run.
// Rates are instructions per second of processor time, this process's and
// s51's (as its child), so that other work on the machine does not tilt the
// ratio; s51's own "Host usage" is wall time and is shown beside it. The two
// rates of this core are taken in alternating slices.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "cpu/Cpu8051.h"
#include "cpu/ExecutionCounts.h"
#include "emu/SdccFiles.h"
#include "run/CodeMap.h"
#include "symbols/Symbols.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
using kzemu::sdcc::MapSymbol;
using kzemu::sdcc::ReadFile;

int Fail(const std::string& why) {
  std::fprintf(stderr, "cpu_rate: %s\n", why.c_str());
  return 1;
}

struct Rate {
  std::uint64_t instructions = 0, runs = 0;
  double seconds = 0;
  double PerSecond() const { return seconds > 0 ? static_cast<double>(instructions) / seconds : 0; }
};

double ProcessorSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Processor time of the children that have ended.
double ChildSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// Runs the whole program from reset until `done`, again and again for at
// least `slice` seconds of processor time; with `regions`, counting as kz51
// run does (fresh counts for each run, as for each program).
bool RunSlice(kzemu::Cpu8051& cpu, long done, const std::vector<std::uint32_t>* regions,
              double slice, Rate& rate, std::uint64_t& perRun) {
  const double t0 = ProcessorSeconds();
  double secs = 0;
  do {
    std::unique_ptr<kzemu::ExecutionCounts> counts;
    if (regions != nullptr) counts = std::make_unique<kzemu::ExecutionCounts>(*regions);
    cpu.SetCounts(counts.get());
    cpu.Reset();
    cpu.iram.fill(0);
    cpu.xdata.fill(0);
    cpu.instructions = 0;
    cpu.Run(1'000'000'000, static_cast<int>(done));
    cpu.SetCounts(nullptr);
    if (cpu.pc != done) return false;
    perRun = cpu.instructions;
    rate.instructions += perRun;
    ++rate.runs;
    secs = ProcessorSeconds() - t0;
  } while (secs < slice);
  rate.seconds += secs;
  return true;
}

}  // namespace

int main() {
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("kz51-cpu-rate-" + std::to_string(rd()));
  fs::create_directories(dir);
  const fs::path src = fs::path(KZ_SOURCE_DIR) / "bench/programs/cpu_rate.c";
  const std::string cc = "sdcc -mmcs51 --debug -o '" + dir.string() + "/' '" + src.string() +
                         "' > '" + (dir / "sdcc.log").string() + "' 2>&1";
  if (std::system(cc.c_str()) != 0) return Fail("sdcc failed: " + ReadFile(dir / "sdcc.log"));
  const std::string hex = ReadFile(dir / "cpu_rate.ihx");
  const long done = MapSymbol(ReadFile(dir / "cpu_rate.map"), "_kz_done");
  if (done < 0) return Fail("no _kz_done in the map");
  kz51::Symbols symbols;
  symbols.LoadBeside((dir / "cpu_rate.ihx").string());
  const kz51::run::CodeMap map(symbols);

  // --- this core, without and with counting, in alternating slices ---
  kzemu::Cpu8051 cpu;
  std::string err;
  if (!cpu.LoadIntelHex(hex, &err)) return Fail(err);
  Rate plain, counting;
  std::uint64_t perRun = 0, perCountedRun = 0;
  for (int slice = 0; slice < 6; ++slice) {
    if (!RunSlice(cpu, done, nullptr, 0.25, plain, perRun) ||
        !RunSlice(cpu, done, &map.Regions(), 0.25, counting, perCountedRun))
      return Fail("program did not finish on Cpu8051");
  }
  if (perRun != perCountedRun) return Fail("counting changed the instruction count");

  // --- s51 ---
  {
    std::ofstream cmd(dir / "s51.cmd");
    cmd << "break 0x" << std::hex << done << std::dec << "\nrun\nstate\nquit\n";
  }
  const std::string sim = "timeout 600 s51 -t 8052 -b '" + (dir / "cpu_rate.ihx").string() +
                          "' < '" + (dir / "s51.cmd").string() + "' > '" +
                          (dir / "s51.out").string() + "' 2>&1";
  const auto s0 = Clock::now();
  const double c0 = ChildSeconds();
  if (std::system(sim.c_str()) != 0) return Fail("s51 failed or is missing");
  const double s51Processor = ChildSeconds() - c0;
  const double s51Wall = std::chrono::duration<double>(Clock::now() - s0).count();
  const std::string out = ReadFile(dir / "s51.out");
  const auto ip = out.find("Inst= ");
  const auto hp = out.find("Host usage: ");
  if (ip == std::string::npos || hp == std::string::npos ||
      out.find("Stop at") == std::string::npos)
    return Fail("could not read s51's statistics:\n" + out);
  // s51 also counts the fetch that hits the breakpoint.
  const std::uint64_t s51Inst = std::stoull(out.substr(ip + 6)) - 1;
  const double s51Usage = std::stod(out.substr(hp + 12));
  const double ref = static_cast<double>(s51Inst) / s51Processor;

  const double mine = plain.PerSecond(), counted = counting.PerSecond();
  std::printf("program : %llu instructions per run (s51: %llu)%s\n",
              static_cast<unsigned long long>(perRun), static_cast<unsigned long long>(s51Inst),
              perRun == s51Inst ? "" : "  MISMATCH");
  std::printf("Cpu8051 : %.1f M instructions/s (%llu runs in %.2f s processor time)\n", mine / 1e6,
              static_cast<unsigned long long>(plain.runs), plain.seconds);
  std::printf("counting: %.1f M instructions/s (%llu runs in %.2f s), lines, functions, calls\n",
              counted / 1e6, static_cast<unsigned long long>(counting.runs), counting.seconds);
  std::printf(
      "s51     : %.1f M instructions/s (%.2f s processor time; its host usage %.2f s, %.2f s "
      "wall)\n",
      ref / 1e6, s51Processor, s51Usage, s51Wall);
  std::printf("ratio   : %.1fx s51 (target >= 30x)\n", mine / ref);
  std::printf("counting: %.1f%% slower than without (target <= 25%%), %.1fx s51\n",
              100.0 * (1.0 - counted / mine), counted / ref);
#ifndef __OPTIMIZE__
  std::printf(
      "note    : built without optimisation; configure with -DCMAKE_BUILD_TYPE=Release "
      "or RelWithDebInfo for representative numbers\n");
#endif
  std::error_code ec;
  fs::remove_all(dir, ec);
  return perRun == s51Inst ? 0 : 1;
}
