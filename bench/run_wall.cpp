// kz51 run end to end, as a CI job calls it: the wall time of a whole run
// (start, connect, load, run, reports) of a program of about one million
// instructions with --coverage --profile, and the cost of counting on a
// longer program, with and without --coverage --profile side by side
// (alternating runs; medians, as other work on the machine disturbs single
// runs).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "emu/SdccFiles.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
using kzemu::sdcc::ReadFile;

int Fail(const std::string& why) {
  std::fprintf(stderr, "run_wall: %s\n", why.c_str());
  return 1;
}

double ChildSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

struct Timing {
  double wall = 0, processor = 0;
};

// One `kz51 run`; false when it did not end with status 0.
bool RunOnce(const std::string& args, Timing& t) {
  const std::string cmd =
      "env -u KZ51_EMU '" + std::string(KZ_OUT_DIR) + "/kz51' run " + args + " > /dev/null 2>&1";
  const double c0 = ChildSeconds();
  const auto t0 = Clock::now();
  const int status = std::system(cmd.c_str());
  t.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  t.processor = ChildSeconds() - c0;
  return status == 0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Side {
  std::vector<double> wall, processor;
  void Add(const Timing& t) {
    wall.push_back(t.wall);
    processor.push_back(t.processor);
  }
};

}  // namespace

int main() {
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("kz51-run-wall-" + std::to_string(rd()));
  fs::create_directories(dir);
  const std::string d = dir.string() + "/";
  for (const char* name : {"million", "cpu_rate"}) {
    const std::string cc = "sdcc -mmcs51 --debug -o '" + d + "' '" + KZ_SOURCE_DIR +
                           "/bench/programs/" + name + ".c' > '" + d + "sdcc.log' 2>&1";
    if (std::system(cc.c_str()) != 0) return Fail("sdcc failed: " + ReadFile(d + "sdcc.log"));
  }
  const std::string million = "'" + d + "million.ihx'";
  const std::string longer = "--until kz_done '" + d + "cpu_rate.ihx'";
  const std::string counting = "--coverage '" + d + "c.info' --profile '" + d + "p.out' ";

  // What the million program executes, from its profile.
  Timing t;
  if (!RunOnce(counting + million, t)) return Fail("kz51 run failed");
  std::smatch m;
  const std::string profile = ReadFile(d + "p.out");
  if (!std::regex_search(profile, m, std::regex("summary: (\\d+) (\\d+)")))
    return Fail("no summary in the profile");
  const std::string instructions = m[2];

  constexpr int kRounds = 7;
  Side millionCounted, plain, counted;
  for (int i = 0; i < kRounds; ++i) {
    fs::remove(d + "c.info");
    if (!RunOnce(counting + million, t)) return Fail("kz51 run failed");
    millionCounted.Add(t);
    if (!RunOnce(longer, t)) return Fail("kz51 run failed");
    plain.Add(t);
    fs::remove(d + "c.info");
    if (!RunOnce(counting + longer, t)) return Fail("kz51 run failed");
    counted.Add(t);
  }
  std::printf(
      "million : %s instructions with --coverage --profile: %.3f s wall (median of %d; "
      "target < 1 s), %.3f s processor time\n",
      instructions.c_str(), Median(millionCounted.wall), kRounds, Median(millionCounted.processor));
  const double pw = Median(plain.wall), cw = Median(counted.wall);
  const double pp = Median(plain.processor), cp = Median(counted.processor);
  std::printf(
      "cpu_rate: without %.3f s wall, %.3f s processor; with --coverage --profile "
      "%.3f s wall, %.3f s processor\n",
      pw, pp, cw, cp);
  std::printf("counting: %.1f%% more wall time, %.1f%% more processor time (target <= 25%%)\n",
              100.0 * (cw / pw - 1.0), 100.0 * (cp / pp - 1.0));
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
