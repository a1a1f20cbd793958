// End to end: debugging SDCC-compiled programs through the C exports of
// libkz51.so on the virtual emulator, against the ucsim 8051 simulator (s51)
// stopped at the same place.
//
// Each scenario runs in a child process (the driver and the emulator are one
// per process): the test forks and re-executes this program with argv[0] in a
// fresh data directory; the child notices KZ_E2E_DEBUG before main, loads the
// two libraries, plays the host script of DebugScript.h and writes its lines
// to the result file.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/TargetConfig.h"
#include "e2e/ChildProcess.h"
#include "e2e/DebugScript.h"
#include "emu/SdccFiles.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kResultVar = "KZ_E2E_DEBUG";
constexpr const char* kHexVar = "KZ_E2E_HEX";
constexpr const char* kScriptVar = "KZ_E2E_SCRIPT";

// ---- child side -----------------------------------------------------------

[[noreturn]] void RunChild(const char* resultPath) {
  std::FILE* out = std::fopen(resultPath, "w");
  if (out == nullptr) _exit(3);
  const std::string bin = KZ_OUT_DIR;
  if (dlopen((bin + "/libusbd12.so").c_str(), RTLD_NOW | RTLD_GLOBAL) == nullptr) _exit(4);
  void* lib = dlopen((bin + "/libkz51.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) _exit(5);
  kz::e2e::Exports x;
  x.init = reinterpret_cast<kz::e2e::InitFn>(dlsym(lib, "AG_Init"));
  x.memAcc = reinterpret_cast<kz::e2e::MemAccFn>(dlsym(lib, "AG_MemAcc"));
  x.regAcc = reinterpret_cast<kz::e2e::RegAccFn>(dlsym(lib, "AG_RegAcc"));
  x.breakFunc = reinterpret_cast<kz::e2e::BreakFn>(dlsym(lib, "AG_BreakFunc"));
  x.goStep = reinterpret_cast<kz::e2e::GoStepFn>(dlsym(lib, "AG_GoStep"));
  x.enumUv351 = reinterpret_cast<kz::e2e::EnumFn>(dlsym(lib, "EnumUv351"));
  std::ifstream hexFile(std::getenv(kHexVar));
  std::stringstream hex;
  hex << hexFile.rdbuf();
  const int rc = kz::e2e::RunDebugScript(x, hex.str(), std::getenv(kScriptVar), out);
  std::fclose(out);
  _exit(rc);
}

const bool kChildDispatch = [] {
  if (const char* result = std::getenv(kResultVar)) RunChild(result);
  return false;
}();

// ---- programs and ucsim ---------------------------------------------------

fs::path TempDirFor(const std::string& what) {
  std::random_device rd;
  fs::path p = fs::temp_directory_path() /
               ("kz51-dbg-" + what + "-" + std::to_string(rd()) + std::to_string(rd()));
  fs::create_directories(p);
  return p;
}

struct Program {
  fs::path dir, ihx;
  std::string map;
  long Symbol(const std::string& name) const { return kzemu::sdcc::MapSymbol(map, name); }
};

// Compiled once per program and test run.
const Program& Compile(const std::string& name) {
  static std::map<std::string, Program> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  Program p;
  p.dir = TempDirFor(name);
  const fs::path src = fs::path(KZ_SOURCE_DIR) / "tests/emu/programs" / (name + ".c");
  const std::string cc = "sdcc -mmcs51 -I'" + src.parent_path().string() + "' -o '" +
                         p.dir.string() + "/' '" + src.string() + "' > '" +
                         (p.dir / "sdcc.log").string() + "' 2>&1";
  EXPECT_EQ(std::system(cc.c_str()), 0) << "sdcc failed or is missing";
  p.ihx = p.dir / (name + ".ihx");
  p.map = kzemu::sdcc::ReadFile(p.dir / (name + ".map"));
  return cache.emplace(name, p).first->second;
}

struct Machine {
  std::array<std::uint8_t, 256> iram{};
  std::array<std::uint8_t, 128> sfr{};
  std::vector<std::uint8_t> xdata = std::vector<std::uint8_t>(0x10000);
  std::vector<long> stops;  // "Stop at" PCs in order
};

// Runs s51 with the commands, then dumps internal RAM, SFRs and xdata.
Machine Ucsim(const Program& p, const std::string& commands) {
  Machine m;
  const fs::path cmd = p.dir / "s51.cmd", out = p.dir / "s51.out";
  {
    std::ofstream c(cmd);
    c << "fill xram 0 0xffff 0\nfill iram 0 0xff 0\n"
      << commands << "di 0 0xff\nds 0x80 0xff\ndx 0 0xffff\nquit\n";
  }
  const std::string sim = "timeout 120 s51 -t 8052 -b '" + p.ihx.string() + "' < '" + cmd.string() +
                          "' > '" + out.string() + "' 2>&1";
  EXPECT_EQ(std::system(sim.c_str()), 0) << "s51 failed or is missing";
  std::istringstream in(kzemu::sdcc::ReadFile(out));
  std::string line;
  std::vector<std::uint8_t> rows;  // the dump rows in order
  while (std::getline(in, line)) {
    if (auto at = line.find("Stop at 0x"); at != std::string::npos)
      m.stops.push_back(std::stol(line.substr(at + 8), nullptr, 16));
    if (line.rfind("0x", 0) != 0) continue;
    std::istringstream ls(line);
    std::string addr, t;
    ls >> addr;
    std::vector<std::uint8_t> row;
    while (row.size() < 8 && ls >> t) {
      if (t.size() != 2 || !std::isxdigit(static_cast<unsigned char>(t[0])) ||
          !std::isxdigit(static_cast<unsigned char>(t[1])))
        break;
      row.push_back(static_cast<std::uint8_t>(std::stoul(t, nullptr, 16)));
    }
    if (row.size() == 8) rows.insert(rows.end(), row.begin(), row.end());
  }
  EXPECT_EQ(rows.size(), 256u + 128u + 0x10000u) << "incomplete s51 dumps";
  if (rows.size() == 256u + 128u + 0x10000u) {
    std::copy_n(rows.begin(), 256, m.iram.begin());
    std::copy_n(rows.begin() + 256, 128, m.sfr.begin());
    std::copy_n(rows.begin() + 384, 0x10000, m.xdata.begin());
  }
  return m;
}

// ---- the child run --------------------------------------------------------

struct PodSetup {
  int pod;
  int emulatorIndex;
  std::string emu;
};

std::vector<std::uint8_t> SettingsRecord(int podIndex, int emulatorIndex) {
  kz::TargetConfig rec{};
  std::memcpy(rec.Signature, kz::kSettingsSignature.data(), kz::kSettingsSignature.size());
  rec.EmulatorIndex = emulatorIndex;
  rec.PodIndex = static_cast<std::uint8_t>(podIndex);
  rec.Reserved1080 = 1;
  rec.CrystalHz = 11'059'200;
  return std::vector<std::uint8_t>(rec.Bytes(), rec.Bytes() + sizeof rec);
}

struct Seen {
  int exitStatus = -1;
  std::vector<std::string> lines;
  std::map<std::string, std::vector<std::uint8_t>> mem;
  std::map<std::string, std::string> regs, view;
  std::vector<std::string> Starting(const std::string& tag) const {
    std::vector<std::string> out;
    for (const auto& l : lines)
      if (l.rfind(tag + " ", 0) == 0) out.push_back(l.substr(tag.size() + 1));
    return out;
  }
};

Seen RunHost(const PodSetup& pod, const Program& p, const std::string& script,
             const std::string& extraEmu = "") {
  Seen s;
  const fs::path dir = TempDirFor("host");
  const fs::path bin = KZ_OUT_DIR;
  for (const char* name : {"KZ.MDB", "KZ.FMD"}) fs::copy_file(bin / name, dir / name);
  {
    const auto rec = SettingsRecord(pod.pod - 1, pod.emulatorIndex);
    std::ofstream out(dir / "ZOLTKEIL.DSK", std::ios::binary);
    out.write(reinterpret_cast<const char*>(rec.data()), static_cast<std::streamsize>(rec.size()));
  }
  const std::string result = (dir / "result.txt").string();
  const std::string argv0 = (dir / "e2e_tests").string();
  const std::string emu = pod.emu + extraEmu;
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      dup2(null, STDERR_FILENO);
    }
    setenv(kResultVar, result.c_str(), 1);
    setenv(kHexVar, p.ihx.c_str(), 1);
    setenv(kScriptVar, script.c_str(), 1);
    setenv("KZ51_EMU", emu.c_str(), 1);
    execl("/proc/self/exe", argv0.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (!kz::e2e::WaitForChild(pid, std::chrono::seconds(120), status))
    ADD_FAILURE() << "host child timed out";
  s.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream in(kzemu::sdcc::ReadFile(result));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string tag, name, value;
    ls >> tag >> name >> value;
    if (tag == "mem") {
      std::vector<std::uint8_t> b(value.size() / 2);
      for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(std::stoul(value.substr(2 * i, 2), nullptr, 16));
      s.mem[name] = std::move(b);
    } else {
      if (tag == "reg") s.regs[name] = value;
      if (tag == "view") s.view[name] = value;
      s.lines.push_back(line);
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return s;
}

std::string Hex2(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02X", v & 0xFF);
  return b;
}
std::string Hex4(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04X", v & 0xFFFF);
  return b;
}

// Everything the host sees equals what ucsim shows.
void ExpectSameMachine(const Seen& s, const Machine& m, const std::vector<std::uint8_t>& code,
                       long pc) {
  ASSERT_EQ(s.exitStatus, 0);
  for (const auto& l : s.lines) EXPECT_EQ(l.rfind("error", 0), std::string::npos) << l;
  ASSERT_EQ(s.mem.count("data"), 1u);
  const auto& data = s.mem.at("data");
  const auto& idata = s.mem.at("idata");
  for (int a = 0; a < 0x80; ++a) EXPECT_EQ(+data[a], +m.iram[a]) << "DATA " << Hex2(a);
  for (int a = 0x80; a < 0x100; ++a) EXPECT_EQ(+idata[a - 0x80], +m.iram[a]) << "IDATA " << Hex2(a);
  // The SFRs a program here sets; ports and timers as their latches show.
  for (int a : {0x81, 0x82, 0x83, 0x8A, 0x90, 0xA8, 0xD0, 0xE0, 0xF0})
    EXPECT_EQ(+data[a], +m.sfr[a - 0x80]) << "SFR " << Hex2(a);
  const auto& xdata = s.mem.at("xdata");
  int diffs = 0;
  for (int a = 0; a < 0x10000 && diffs < 8; ++a)
    if (xdata[a] != m.xdata[a]) {
      ++diffs;
      ADD_FAILURE() << "XDATA " << Hex4(a) << " " << +xdata[a] << " != " << +m.xdata[a];
    }
  const auto& pdata = s.mem.at("pdata");
  for (int a = 0; a < 0x100; ++a) EXPECT_EQ(+pdata[a], +m.xdata[a]) << "PDATA " << Hex2(a);
  const auto& cd = s.mem.at("code");
  for (std::size_t a = 0; a < code.size(); ++a) ASSERT_EQ(+cd[a], +code[a]) << "CODE " << a;
  // Registers through AG_RegAcc and through the register view.
  const std::uint8_t psw = m.sfr[0xD0 - 0x80];
  for (int r = 0; r < 8; ++r)
    EXPECT_EQ(s.regs.at("r" + std::to_string(r)), Hex2(m.iram[(psw & 0x18) + r])) << "R" << r;
  EXPECT_EQ(s.regs.at("acc"), Hex2(m.sfr[0x60]));
  EXPECT_EQ(s.regs.at("dptr"), Hex2(m.sfr[0x03]) + Hex2(m.sfr[0x02]));
  EXPECT_EQ(s.regs.at("pc"), "FF00" + Hex4(static_cast<unsigned>(pc)));
  EXPECT_EQ(s.view.at("a"), "0x" + Hex2(m.sfr[0x60]));
  EXPECT_EQ(s.view.at("b"), "0x" + Hex2(m.sfr[0x70]));
  EXPECT_EQ(s.view.at("sp"), "0x" + Hex2(m.sfr[0x01]));
  EXPECT_EQ(s.view.at("psw"), "0x" + Hex2(psw));
  EXPECT_EQ(s.view.at("dptr"), "0x" + Hex2(m.sfr[0x03]) + Hex2(m.sfr[0x02]));
  EXPECT_EQ(s.view.at("PC__$"), "0x" + Hex4(static_cast<unsigned>(pc)));
}

// The code image the HEX file describes (what CODE reads must show).
std::vector<std::uint8_t> CodeOf(const Program& p) {
  std::vector<std::uint8_t> code(0x10000, 0);
  std::istringstream in(kzemu::sdcc::ReadFile(p.ihx));
  std::string line;
  std::size_t end = 0;
  while (std::getline(in, line)) {
    if (line.size() < 11 || line[0] != ':' || line.substr(7, 2) != "00") continue;
    const unsigned n = static_cast<unsigned>(std::stoul(line.substr(1, 2), nullptr, 16));
    const unsigned a = static_cast<unsigned>(std::stoul(line.substr(3, 4), nullptr, 16));
    for (unsigned i = 0; i < n; ++i)
      code[a + i] = static_cast<std::uint8_t>(std::stoul(line.substr(9 + 2 * i, 2), nullptr, 16));
    end = std::max<std::size_t>(end, a + n);
  }
  code.resize(end);
  return code;
}

const PodSetup kPods[] = {{1, 0, "model=0,pod=1"},
                          {3, 1, "model=1,pod=3"},
                          {8, 0, "model=0,pod=8"},
                          {9, 1, "model=1,pod=9"}};

std::string PodLabel(int pod) {
  return "Pod" + std::to_string(pod);
}

// ---- every program on every pod: stopped at kz_done -------------------------

struct ProgramOnPod {
  std::string program;
  PodSetup pod;
};

class DebugE2E : public ::testing::TestWithParam<ProgramOnPod> {};

TEST_P(DebugE2E, BreakpointAtTheEndShowsWhatUcsimShows) {
  const ProgramOnPod& c = GetParam();
  const Program& p = Compile(c.program);
  const long done = p.Symbol("_kz_done");
  ASSERT_GE(done, 0);
  const Machine ref = Ucsim(p, "break 0x" + Hex4(static_cast<unsigned>(done)) + "\nrun\n");
  const Seen s = RunHost(c.pod, p, "break " + Hex4(static_cast<unsigned>(done)) + ";go;dump");
  ASSERT_EQ(s.Starting("go").size(), 1u);
  EXPECT_EQ(s.Starting("go")[0],
            Hex4(static_cast<unsigned>(done)) + " FF00" + Hex4(static_cast<unsigned>(done)));
  ExpectSameMachine(s, ref, CodeOf(p), done);
}

std::vector<ProgramOnPod> AllPrograms() {
  std::vector<ProgramOnPod> out;
  for (const char* name : {"arith", "bitops", "pointers", "recursion", "bcd", "muldiv", "switches",
                           "timer_isr", "serial", "spaces"})
    for (const PodSetup& pod : kPods) out.push_back({name, pod});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Programs, DebugE2E, ::testing::ValuesIn(AllPrograms()),
                         [](const auto& info) {
                           return info.param.program + PodLabel(info.param.pod.pod);
                         });

// ---- the debugging scenarios on spaces.c, per pod ----------------------------

class DebugScenarios : public ::testing::TestWithParam<PodSetup> {
 protected:
  const Program& P() { return Compile("spaces"); }
  std::string At(const char* symbol) {
    const long a = P().Symbol(symbol);
    EXPECT_GE(a, 0) << symbol;
    return Hex4(static_cast<unsigned>(a));
  }
};

TEST_P(DebugScenarios, ACountOf3StopsOnTheThirdCallThenTextsGoToTheHost) {
  const std::string tick = At("_tick"), done = At("_kz_done");
  const Machine third = Ucsim(P(), "break 0x" + tick + "\nrun\nrun\nrun\n");
  Seen s = RunHost(GetParam(), P(), "break " + tick + " 3;go;dump");
  EXPECT_EQ(s.Starting("go"), (std::vector<std::string>{tick + " FF00" + tick}));
  ExpectSameMachine(s, third, CodeOf(P()), std::stol(tick, nullptr, 16));

  // The same stop, then a text on tick: every later call hands it over.
  const Machine end = Ucsim(P(), "break 0x" + done + "\nrun\n");
  s = RunHost(
      GetParam(), P(),
      "break " + tick + " 3;go;clear;break " + tick + " 1 LOG tick;break " + done + ";go;dump");
  // After the initialisation's and the reset's "U $", the seven later calls.
  std::vector<std::string> texts = s.Starting("callback");
  ASSERT_EQ(texts.size(), 9u);
  EXPECT_EQ(std::vector<std::string>(texts.begin() + 2, texts.end()),
            std::vector<std::string>(7, "LOG tick"));
  ExpectSameMachine(s, end, CodeOf(P()), std::stol(done, nullptr, 16));
}

TEST_P(DebugScenarios, WritesAtABreakpointAreWhatTheProgramUses) {
  const std::string tick = At("_tick"), done = At("_kz_done");
  // counter (DATA 08h) := 64h and scale (09h) := 3 at the first call; xmark at
  // 1234h records the final counter.
  const long counter = 0x08;
  const Machine ref = Ucsim(P(), "break 0x" + tick +
                                     "\nrun\nset memory iram 0x08 0x64\n"
                                     "set memory iram 0x09 0x03\ndelete\nbreak 0x" +
                                     done + "\nrun\n");
  const Seen s = RunHost(
      GetParam(), P(),
      "break " + tick + ";go;wmem F0000008 64;wmem F0000009 03;clear;break " + done + ";go;dump");
  ExpectSameMachine(s, ref, CodeOf(P()), std::stol(done, nullptr, 16));
  EXPECT_EQ(s.mem.at("xdata")[0x1234], 0x64 + 10 * 3);
  EXPECT_EQ(s.mem.at("data")[counter], 0x64 + 10 * 3);
}

TEST_P(DebugScenarios, RunUntilAndStepsFollowUcsimInstructionByInstruction) {
  const std::string tick = At("_tick"), done = At("_kz_done");
  std::string fortySteps;
  for (int i = 0; i < 40; ++i) fortySteps += "step\n";
  const Machine steps = Ucsim(P(), fortySteps);
  const Seen s = RunHost(GetParam(), P(), "break " + done + ";until " + tick + ";step 0;");
  ASSERT_EQ(s.Starting("until").size(), 1u);
  EXPECT_EQ(s.Starting("until")[0], tick + " 1");  // at tick, the host's list as it was

  const Seen st = RunHost(GetParam(), P(), "step 40");
  const auto pcs = st.Starting("step");
  ASSERT_EQ(pcs.size(), 40u);
  ASSERT_GE(steps.stops.size(), 40u);
  for (std::size_t i = 0; i < 40; ++i) {
    const std::string pc = Hex4(static_cast<unsigned>(steps.stops[i]));
    EXPECT_EQ(pcs[i], pc + " FF00" + pc) << "step " << i + 1;
  }
}

TEST_P(DebugScenarios, AStopFromASecondThreadEndsAFreeRun) {
  const std::string done = At("_kz_done");
  // kz_done loops on itself: the go runs until the host stops it.
  const Seen s = RunHost(GetParam(), P(), "stopgo");
  ASSERT_EQ(s.Starting("stopgo").size(), 1u);
  EXPECT_EQ(s.Starting("stopgo")[0], "1 " + done + " 0");
}

TEST_P(DebugScenarios, ATargetThatNeverStopsFailsTheStopAndTheHostGetsItsAnswer) {
  const Seen s = RunHost(GetParam(), P(), "stopgo", ",fault=neverstop");
  ASSERT_EQ(s.exitStatus, 0);
  ASSERT_EQ(s.Starting("stopgo").size(), 1u);
  // The stop answers, the go returns, and the register read answers again.
  EXPECT_EQ(s.Starting("stopgo")[0].substr(0, 2), "1 ");
  EXPECT_EQ(s.Starting("stopgo")[0].substr(s.Starting("stopgo")[0].size() - 2), " 0");
}

INSTANTIATE_TEST_SUITE_P(Pods, DebugScenarios, ::testing::ValuesIn(kPods),
                         [](const auto& info) { return PodLabel(info.param.pod); });

}  // namespace
