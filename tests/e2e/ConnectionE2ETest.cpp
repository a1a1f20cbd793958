// End to end: the driver library connecting to the virtual emulator through
// EnumUv351, as the debugger host does.
//
// The driver and the virtual emulator are both one per process, so every
// scenario runs in a child process of its own: the test forks, prepares a
// fresh data directory (KZ.MDB, KZ.FMD and a ZOLTKEIL.DSK choosing the pod),
// and re-executes this program with argv[0] inside that directory, because the
// driver derives its data directory from the command line. The child notices
// KZ_E2E_CHILD before main, loads libusbd12.so and libkz51.so from KZ_OUT_DIR,
// calls EnumUv351(_, 2) as often as asked, writes what it saw into a result
// file and ends. The parent reads the result file, the child's stderr (the
// Linux Ui prints its message boxes and dialogs there) and the saved settings.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "e2e/PacketCounter.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kChildResultVar = "KZ_E2E_CHILD";
constexpr const char* kChildCallsVar = "KZ_E2E_CALLS";
// When set: the child starts the driver, then puts this settings file in
// place and opens the project dialog (DllUv3Cap(1)) before connecting.
constexpr const char* kChildSettingsVar = "KZ_E2E_SETTINGS_BEFORE_DIALOG";
constexpr const char* kFailureBox = "kz51 error: 请检查仿真器、仿真头及其设置!";

using EnumFn = std::int32_t (*)(void*, std::int32_t);
using CapFn = std::int32_t (*)(std::int32_t);

// ---- child side -----------------------------------------------------------

// Codes reported per call: the downloads (2 parameter write, 17 page piece,
// 36 image piece, 37 header write) and the calibration's status reads (10).
constexpr std::uint8_t kReportedCodes[] = {1, 2, 3, 5, 9, 10, 14, 17, 18, 32, 36, 37, 76, 79};

[[noreturn]] void RunChild(const char* resultPath) {
  std::FILE* out = std::fopen(resultPath, "w");
  if (out == nullptr) _exit(3);
  const std::string bin = KZ_OUT_DIR;
  // Loaded first by path, so the driver's dlopen("libusbd12.so") finds it.
  if (dlopen((bin + "/libusbd12.so").c_str(), RTLD_NOW | RTLD_GLOBAL) == nullptr) {
    std::fprintf(out, "error %s\n", dlerror());
    std::fclose(out);
    _exit(4);
  }
  void* driver = dlopen((bin + "/libkz51.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  auto enumUv351 =
      driver != nullptr ? reinterpret_cast<EnumFn>(dlsym(driver, "EnumUv351")) : nullptr;
  if (enumUv351 == nullptr) {
    std::fprintf(out, "error %s\n", dlerror());
    std::fclose(out);
    _exit(5);
  }
  if (const char* settings = std::getenv(kChildSettingsVar)) {
    auto cap = reinterpret_cast<CapFn>(dlsym(driver, "DllUv3Cap"));
    if (cap == nullptr || cap(2) != 8051) _exit(6);  // the start-up has read the old file
    std::error_code ec;
    fs::copy_file(settings, fs::path(resultPath).parent_path() / "ZOLTKEIL.DSK",
                  fs::copy_options::overwrite_existing, ec);
    if (ec) _exit(7);
    std::fprintf(out, "dialog %d\n", cap(1));
  }
  const char* callsText = std::getenv(kChildCallsVar);
  const int calls = callsText != nullptr ? std::atoi(callsText) : 1;
  for (int i = 0; i < calls; ++i) {
    kz::e2e::ResetPacketCounts();
    const auto t0 = std::chrono::steady_clock::now();
    const std::int32_t answer = enumUv351(nullptr, 2);
    const auto t1 = std::chrono::steady_clock::now();
    const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
    std::fprintf(out, "call %d %d %llu %.1f\n", i, answer,
                 static_cast<unsigned long long>(kz::e2e::PacketTotal()), ms);
    for (std::uint8_t code : kReportedCodes)
      std::fprintf(out, "code %d %d %llu\n", i, code,
                   static_cast<unsigned long long>(kz::e2e::PacketCount(code)));
    for (const std::string& packet : kz::e2e::ClockPackets())
      std::fprintf(out, "clock %d %s\n", i, packet.c_str());
  }
  std::fclose(out);
  std::fflush(stderr);
  _exit(0);
}

// Before main: a re-executed child runs its scenario and never reaches the tests.
const bool kChildDispatch = [] {
  if (const char* result = std::getenv(kChildResultVar)) RunChild(result);
  return false;
}();

// ---- parent side ----------------------------------------------------------

struct Call {
  int answer = -1;
  std::uint64_t packets = 0;
  double ms = 0;
  std::map<int, std::uint64_t> codes;
  std::vector<std::string> clock;  // sub-function and register image of each command 14
  std::uint64_t Code(int c) const {
    auto it = codes.find(c);
    return it == codes.end() ? 0 : it->second;
  }
};

struct Outcome {
  int exitStatus = -1;
  std::vector<Call> calls;
  int dialogAnswer = -1;
  std::string stderrText;
  std::vector<std::uint8_t> settings;  // ZOLTKEIL.DSK after the child
  // The child wrote ZOLTKEIL.DSK: the one prepared here was dated a year back,
  // and a file of the same size is there whether the driver saved or not.
  bool settingsRewritten = false;
  std::string error;
};

struct Scenario {
  std::string emu;  // KZ51_EMU
  int podIndex = 0;
  int emulatorIndex = 0;
  int calls = 1;
};

using kz::e2e::DataDir;

std::vector<std::uint8_t> SettingsRecord(int podIndex, int emulatorIndex) {
  kz::TargetConfig rec{};
  std::memcpy(rec.Signature, kz::kSettingsSignature.data(), kz::kSettingsSignature.size());
  rec.EmulatorIndex = emulatorIndex;
  rec.PodIndex = podIndex;
  rec.Reserved1080 = 1;
  rec.CrystalHz = 11'059'200;
  return std::vector<std::uint8_t>(rec.Bytes(), rec.Bytes() + sizeof rec);
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// settingsBeforeDialog, when not empty, is put in place after the start-up and
// before DllUv3Cap(1).
Outcome RunScenario(const Scenario& s, const std::vector<std::uint8_t>& settingsBeforeDialog = {}) {
  Outcome o;
  DataDir dir;
  const fs::path bin = KZ_OUT_DIR;
  for (const char* name : {"KZ.MDB", "KZ.FMD"}) fs::copy_file(bin / name, dir.Path() / name);
  {
    const auto rec = SettingsRecord(s.podIndex, s.emulatorIndex);
    std::ofstream out(dir.Path() / "ZOLTKEIL.DSK", std::ios::binary);
    out.write(reinterpret_cast<const char*>(rec.data()), static_cast<std::streamsize>(rec.size()));
  }
  const fs::path settingsPath = dir.Path() / "ZOLTKEIL.DSK";
  const auto prepared = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
  fs::last_write_time(settingsPath, prepared);
  const std::string result = (dir.Path() / "result.txt").string();
  const std::string errPath = (dir.Path() / "stderr.txt").string();
  const std::string argv0 = (dir.Path() / "e2e_tests").string();
  const std::string calls = std::to_string(s.calls);
  const std::string later = (dir.Path() / "later.dsk").string();
  if (!settingsBeforeDialog.empty()) {
    std::ofstream out(later, std::ios::binary);
    out.write(reinterpret_cast<const char*>(settingsBeforeDialog.data()),
              static_cast<std::streamsize>(settingsBeforeDialog.size()));
  }

  const pid_t pid = fork();
  if (pid == 0) {
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open("/dev/null", O_RDONLY);
    if (err < 0 || in < 0) _exit(126);
    dup2(err, STDERR_FILENO);
    dup2(in, STDIN_FILENO);
    setenv(kChildResultVar, result.c_str(), 1);
    setenv(kChildCallsVar, calls.c_str(), 1);
    setenv("KZ51_EMU", s.emu.c_str(), 1);
    if (!settingsBeforeDialog.empty()) setenv(kChildSettingsVar, later.c_str(), 1);
    execl("/proc/self/exe", argv0.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) {
    o.error = "fork failed";
    return o;
  }
  // A hung child must not hang the suite.
  int status = 0;
  if (!kz::e2e::WaitForChild(pid, std::chrono::seconds(120), status)) o.error = "child timed out";
  o.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

  std::istringstream lines(ReadText(result));
  std::string kind;
  while (lines >> kind) {
    if (kind == "call") {
      Call c;
      int index = 0;
      lines >> index >> c.answer >> c.packets >> c.ms;
      o.calls.push_back(c);
    } else if (kind == "code") {
      int index = 0, code = 0;
      std::uint64_t n = 0;
      lines >> index >> code >> n;
      if (index >= 0 && static_cast<std::size_t>(index) < o.calls.size())
        o.calls[static_cast<std::size_t>(index)].codes[code] = n;
    } else if (kind == "clock") {
      int index = 0;
      std::string packet;
      lines >> index >> packet;
      if (index >= 0 && static_cast<std::size_t>(index) < o.calls.size())
        o.calls[static_cast<std::size_t>(index)].clock.push_back(packet);
    } else if (kind == "dialog") {
      lines >> o.dialogAnswer;
    } else {
      std::getline(lines, o.error);
    }
  }
  o.stderrText = ReadText(errPath);
  const std::string settings = ReadText(settingsPath);
  o.settings.assign(settings.begin(), settings.end());
  std::error_code ec;
  const auto written = fs::last_write_time(settingsPath, ec);
  o.settingsRewritten = !ec && written > prepared;
  return o;
}

std::int32_t SavedEmulatorIndex(const Outcome& o) {
  if (o.settings.size() != kz::kTargetConfigSize) return -1;
  kz::TargetConfig rec{};
  std::memcpy(&rec, o.settings.data(), sizeof rec);
  return rec.EmulatorIndex;
}

std::uint8_t SavedCalibrationValid(const Outcome& o) {
  if (o.settings.size() != kz::kTargetConfigSize) return 0;
  return o.settings[offsetof(kz::TargetConfig, ClockCache) + 27];
}

std::string DialogLine(const std::string& caption) {
  return "kz51: dialog \"" + caption + "\" answered Cancel";
}

// ---- connections that succeed --------------------------------------------

struct Success {
  const char* label;
  int pod;            // slot number
  int emulatorIndex;  // the row the emulator reports itself as
  std::string emu;
  bool calibrates;  // pods 2, 3, 5, 6, 7
};

class ConnectionE2E : public ::testing::TestWithParam<Success> {};

TEST_P(ConnectionE2E, FirstConnectionDownloadsSecondReusesEverything) {
  const Success& p = GetParam();
  const Outcome o = RunScenario({p.emu, p.pod - 1, 0, 2});
  ASSERT_EQ(o.exitStatus, 0) << o.error << o.stderrText;
  ASSERT_EQ(o.calls.size(), 2u) << o.stderrText;
  const Call& first = o.calls[0];
  const Call& second = o.calls[1];
  EXPECT_EQ(first.answer, 8051) << o.stderrText;
  EXPECT_EQ(second.answer, 8051) << o.stderrText;
  EXPECT_EQ(o.stderrText.find("kz51 error"), std::string::npos) << o.stderrText;
  EXPECT_EQ(o.stderrText.find("dialog"), std::string::npos) << o.stderrText;

  // First: monitor pages, the logic image pieces and its header.
  EXPECT_GT(first.Code(17), 0u);
  EXPECT_GT(first.Code(36), 0u);
  EXPECT_EQ(first.Code(37), 1u);
  // Second: both headers match, nothing is downloaded or rewritten.
  EXPECT_EQ(second.Code(2), 0u);
  EXPECT_EQ(second.Code(17), 0u);
  EXPECT_EQ(second.Code(36), 0u);
  EXPECT_EQ(second.Code(37), 0u);
  if (p.calibrates) {
    // The CPU test and 128 trials read the status each; the second connection
    // runs only the trial with the cached values.
    EXPECT_GT(first.Code(10), 131u);
    EXPECT_LT(second.Code(10), 10u);
    EXPECT_EQ(SavedCalibrationValid(o), 1);
  }
  EXPECT_LT(second.packets, first.packets);
  EXPECT_TRUE(o.settingsRewritten);
  EXPECT_EQ(SavedEmulatorIndex(o), p.emulatorIndex);
  std::cout << "[ e2e      ] " << p.label << ": first " << first.packets << " packets " << first.ms
            << " ms, second " << second.packets << " packets " << second.ms << " ms\n";
}

std::string Label(const ::testing::TestParamInfo<Success>& info) {
  return info.param.label;
}

INSTANTIATE_TEST_SUITE_P(
    Pods, ConnectionE2E,
    ::testing::Values(
        Success{"Pod1", 1, 0, "model=0,pod=1", false}, Success{"Pod2", 2, 0, "model=0,pod=2", true},
        Success{"Pod3", 3, 1, "model=1,pod=3", true}, Success{"Pod4", 4, 2, "model=2,pod=4", false},
        Success{"Pod5", 5, 3, "model=3,pod=5", true}, Success{"Pod6", 6, 4, "model=4,pod=6", true},
        Success{"Pod7", 7, 5, "model=5,pod=7", true}, Success{"Pod8", 8, 0, "model=0,pod=8", false},
        Success{"Pod9", 9, 1, "model=1,pod=9", false},
        Success{"Pod10", 10, 8, "model=0x20,pod=10", false},
        // Alternate boards: serial 3000 and up on models 5..7.
        Success{"Pod2AlternateJZS", 2, 5, "model=5,serial=3000,pod=2", true},
        Success{"Pod3PodlessMK40", 3, 6, "model=6,serial=3000,pod=3", true}),
    Label);

// ---- the settings carry the calibration to the next process ---------------

TEST(ConnectionE2ESettings, ANewProcessReusesTheCalibrationTheLastOneSaved) {
  // The first process calibrates and saves; its second connection shows what
  // a connection with the cached calibration sends.
  const Outcome first = RunScenario({"model=0,pod=2", 1, 0, 2});
  ASSERT_EQ(first.exitStatus, 0) << first.error << first.stderrText;
  ASSERT_EQ(first.calls.size(), 2u);
  ASSERT_EQ(SavedCalibrationValid(first), 1);
  // The second process starts with settings that hold no calibration, and
  // the saved ones are put in place before the project dialog opens: the
  // dialog reads the file again, and the clock cache comes with it.
  const Outcome o = RunScenario({"model=0,pod=2", 1, 0, 1}, first.settings);
  ASSERT_EQ(o.exitStatus, 0) << o.error << o.stderrText;
  ASSERT_EQ(o.calls.size(), 1u);
  EXPECT_EQ(o.dialogAnswer, 0);  // the Linux dialog answers Cancel
  EXPECT_EQ(o.calls[0].answer, 8051) << o.stderrText;
  EXPECT_LT(o.calls[0].Code(10), 10u);  // no calibration: the cached trial only
  EXPECT_GT(first.calls[0].Code(10), 131u);
  EXPECT_EQ(o.calls[0].clock, first.calls[1].clock);
  EXPECT_FALSE(o.calls[0].clock.empty());
  EXPECT_EQ(SavedCalibrationValid(o), 1);
  std::cout << "[ e2e      ] second process: " << o.calls[0].packets << " packets, first "
            << first.calls[0].packets << "\n";
}

// ---- connections that fail -----------------------------------------------

struct Failure {
  const char* label;
  int pod;
  std::string emu;
  std::string caption;
};

class ConnectionE2EFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(ConnectionE2EFailure, EndsInDialogFailureBoxAnswerZeroAndSavedSettings) {
  const Failure& p = GetParam();
  const Outcome o = RunScenario({p.emu, p.pod - 1, 0, 1});
  ASSERT_EQ(o.exitStatus, 0) << o.error << o.stderrText;
  ASSERT_EQ(o.calls.size(), 1u) << o.stderrText;
  EXPECT_EQ(o.calls[0].answer, 0);
  // The dialog offered a retry with the failure text, was cancelled, and the
  // failure box followed it.
  const auto dialog = o.stderrText.find(DialogLine(p.caption));
  const auto box = o.stderrText.find(kFailureBox);
  ASSERT_NE(dialog, std::string::npos) << o.stderrText;
  ASSERT_NE(box, std::string::npos) << o.stderrText;
  EXPECT_LT(dialog, box);
  EXPECT_EQ(o.stderrText.find(kFailureBox, box + 1), std::string::npos);
  EXPECT_TRUE(o.settingsRewritten);
  EXPECT_EQ(o.settings.size(), kz::kTargetConfigSize);
  std::cout << "[ e2e      ] " << p.label << ": " << o.calls[0].packets << " packets "
            << o.calls[0].ms << " ms\n";
}

std::string FailureLabel(const ::testing::TestParamInfo<Failure>& info) {
  return info.param.label;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ConnectionE2EFailure,
    ::testing::Values(
        // Pod 5 (code 04h, serial 1, made 2006-01) plugged in, pod 1 selected.
        Failure{"WrongPod", 1, "model=0,pod=5", "POD not match: 8051 pod type 4-20060100001"},
        Failure{"NoLogicDevice", 1, "model=0,pod=1,logic=none", "Can not found FPGA board"},
        Failure{"NoCpu", 2, "model=0,pod=2,cputype=0", "No MCU on POD"},
        Failure{"LinkLost", 1, "model=0,pod=1,fault=disconnect,after=120", "Can not connect USB"},
        Failure{"WrongIdentify", 1, "model=0,pod=1,fault=wrongid", "Can not connect USB"}),
    FailureLabel);

}  // namespace
