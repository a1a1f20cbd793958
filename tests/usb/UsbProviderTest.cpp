// The USB provider (libusbd12-usb.so) against the emulator as an emulated USB
// device (EmulatedDevice: umockdev, the virtual emulator's firmware behind
// the bulk endpoints):
//  - a whole debugging session through the driver's exports, and a kz51
//    script, see over libusb exactly what they see on the virtual emulator;
//  - the link lost in the middle of a run (unplugged, or silent) ends the run
//    in time with error kind 1;
//  - every cause of a failed connection (settings, ids, permission, busy, no
//    answer) reaches the kz51 user as its sentence, in bounded time;
//  - kz51 devices lists and marks the candidates, and finds none without one.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Sanitizers.h"
#include "e2e/ChildProcess.h"
#include "e2e/DebugScript.h"
#include "e2e/HostChild.h"
#include "emu/SdccFiles.h"
#include "usb/EmulatedDevice.h"
#include "usb/kz51usb.h"

extern char** environ;

namespace kz::usbtest {
namespace {

namespace fs = std::filesystem;
using e2e::ChildLog;
using e2e::ChildOutcome;
using e2e::ChildPlan;
using e2e::HostExports;

const std::string kBin = KZ_OUT_DIR;
constexpr const char* kUsbProvider = "libusbd12-usb.so";
// A go on a lost link: the transport's wait for one reply (1100 ms), with
// room for a loaded machine (and more under the sanitizers, where the relay's
// 1 ms pace slows down).
#if KZ_UNDER_SANITIZER
constexpr double kRunEndMs = 12000;
constexpr double kSlowdown = 4;
#else
constexpr double kRunEndMs = 4000;
constexpr double kSlowdown = 1;
#endif

// ---- child side: a host of the driver --------------------------------------

constexpr const char* kDebugChild = "usb-debug";
constexpr const char* kLossChild = "usb-loss";
constexpr const char* kDeniedChild = "usb-denied";

void DropFilePermissions();

// Argument: "<provider>|<KZ51_USB>|<program.ihx>|<host script>"; the
// transcript goes into notes named "line", in order.
[[noreturn]] void DebugChild(const std::string& argument) {
  ChildLog log;
  std::vector<std::string> part;
  std::stringstream in(argument);
  for (std::string p; std::getline(in, p, '|');) part.push_back(p);
  if (part.size() != 4) {
    log.Fail("bad argument " + argument);
    log.Finish();
  }
  setenv("KZ51_USB", part[1].c_str(), 1);
  HostExports x;
  std::string error;
  if (!x.Load(error, part[0].c_str())) {
    log.Fail("load: " + error);
    log.Finish();
  }
  e2e::Exports d;
  d.init = x.AG_Init;
  d.memAcc = x.AG_MemAcc;
  d.regAcc = x.AG_RegAcc;
  d.breakFunc = x.AG_BreakFunc;
  d.goStep = x.AG_GoStep;
  d.enumUv351 = x.EnumUv351;
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  const int rc = e2e::RunDebugScript(d, kzemu::sdcc::ReadFile(part[2]), part[3], out);
  std::fclose(out);
  std::istringstream lines(std::string(text, size));
  for (std::string line; std::getline(lines, line);) log.Note("line", line);
  std::free(text);
  log.Check(rc == 0, "the debug script ended with " + std::to_string(rc));
  log.Finish();
}

// Argument: KZ51_USB. Connects, loads a loop and runs it on a thread of its
// own until the device goes; then the project dialog shows the error kind's
// text (on stderr, answered Cancel) and the provider's sentence is noted.
[[noreturn]] void LossChild(const std::string& argument) {
  ChildLog log;
  setenv("KZ51_USB", argument.c_str(), 1);
  HostExports x;
  std::string error;
  if (!x.Load(error, kUsbProvider)) {
    log.Fail("load: " + error);
    log.Finish();
  }
  e2e::HostRecords host;
  host.RegisterAndInit(x);
  const std::int32_t connected = log.Timed("EnumUv351", [&] { return x.EnumUv351(nullptr, 2); });
  if (connected != 8051) {
    log.Fail("the connection answered " + std::to_string(connected));
    log.Finish();
  }
  // MOV A,#1 / loop: INC A / SJMP loop
  std::uint8_t code[] = {0x74, 0x01, 0x04, 0x80, 0xFD};
  AddressRecord rec{0xFF000000u, 0, 0};
  log.Check(x.AG_MemAcc(2, code, &rec, sizeof code) == 0, "code write");
  std::atomic<bool> done{false};
  std::int32_t answer = -1;
  std::thread runner([&] {
    answer = log.Timed("AG_GoStep(4)", [&] { return x.AG_GoStep(4, 0, nullptr); });
    done = true;
  });
  const double t0 = ChildLog::NowMs();
  while (!done && ChildLog::NowMs() - t0 < 3 * kRunEndMs)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (!done) {
    log.Fail("the go did not end on the lost link; stopped from here");
    x.AG_GoStep(1, 0, nullptr);
  }
  runner.join();
  log.Check(answer == 0, "the go answered " + std::to_string(answer));
  x.DllUv3Cap(1);  // shows "Can not connect USB" while the link is failed with kind 1
  auto failure = reinterpret_cast<Kz51UsbFailureFn>(
      dlsym(dlopen("libusbd12.so", RTLD_NOW | RTLD_NOLOAD), KZ51USB_FAILURE_NAME));
  char text[1024] = "";
  if (failure != nullptr) failure(text, sizeof text);
  log.Note("sentence", text);
  log.Finish();
}

// Argument: KZ51_USB. Opens the read pipe as a user without the rights to
// the device node, and notes the provider's sentence.
[[noreturn]] void DeniedChild(const std::string& argument) {
  ChildLog log;
  setenv("KZ51_USB", argument.c_str(), 1);
  DropFilePermissions();
  void* usb = dlopen((kBin + "/" + kUsbProvider).c_str(), RTLD_NOW | RTLD_LOCAL);
  auto open3 = reinterpret_cast<int (*)()>(dlsym(usb, "openUSBfile_3"));
  auto failure = reinterpret_cast<Kz51UsbFailureFn>(dlsym(usb, KZ51USB_FAILURE_NAME));
  if (open3 == nullptr || failure == nullptr) {
    log.Fail("the USB provider does not load");
    log.Finish();
  }
  log.Check(open3() == -1, "the read pipe opened");
  char text[1024] = "";
  log.Check(failure(text, sizeof text) == 1, "one failure");
  log.Note("sentence", text);
  log.Finish();
}

const bool kChildDispatch = [] {
  const char* program = e2e::ChildProgram();
  if (program == nullptr) return false;
  if (std::strcmp(program, kDebugChild) == 0) DebugChild(e2e::ChildArgument());
  if (std::strcmp(program, kLossChild) == 0) LossChild(e2e::ChildArgument());
  if (std::strcmp(program, kDeniedChild) == 0) DeniedChild(e2e::ChildArgument());
  return false;
}();

std::vector<std::string> Lines(const ChildOutcome& o) {
  std::vector<std::string> lines;
  for (const auto& [key, value] : o.notes)
    if (key == "line") lines.push_back(value);
  return lines;
}

// ---- kz51 as a program -------------------------------------------------------

struct Kz51Run {
  int status = -1;
  std::string out, err;
  double ms = 0;
};

// kz51 and its libraries and data files, copied to a directory of their own
// so its settings file is its own.
const fs::path& Installation() {
  static e2e::DataDir dir;
  static const bool copied = [] {
    for (const char* f : {"kz51", "libkz51.so", "libusbd12.so", kUsbProvider, "KZ.MDB", "KZ.FMD"})
      fs::copy_file(fs::path(kBin) / f, dir.Path() / f, fs::copy_options::overwrite_existing);
    return true;
  }();
  (void)copied;
  return dir.Path();
}

// Takes the rights a user without the udev rule lacks: the root user's
// permission to open any file (for this thread and what it executes).
void DropFilePermissions() {
  if (geteuid() != 0) return;
  for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  syscall(SYS_capget, &header, data);
  for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
    const unsigned bit = 1u << (cap % 32);
    data[cap / 32].effective &= ~bit;
    data[cap / 32].permitted &= ~bit;
    data[cap / 32].inheritable &= ~bit;
  }
  syscall(SYS_capset, &header, data);
}

// Runs kz51 from the installation with KZ51_USB set to `usb` (unset when
// empty) and UMOCKDEV_DIR to `testbed` when given.
Kz51Run Kz51(const std::vector<std::string>& args, const std::string& usb,
             const std::string& testbed = "") {
  const fs::path dir = Installation();
  fs::remove(dir / "ZOLTKEIL.DSK");
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string v = *e;
    if (v.rfind("KZ51_USB=", 0) == 0 || v.rfind("KZ51_EMU=", 0) == 0) continue;
    if (!testbed.empty() && v.rfind("UMOCKDEV_DIR=", 0) == 0) continue;
    env.push_back(v);
  }
  if (!usb.empty()) env.push_back("KZ51_USB=" + usb);
  if (!testbed.empty()) env.push_back("UMOCKDEV_DIR=" + testbed);
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  const std::string program = (dir / "kz51").string();
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string outPath = (dir / "out.txt").string(), errPath = (dir / "err.txt").string();

  Kz51Run r;
  const double t0 = ChildLog::NowMs();
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  if (!e2e::WaitForChild(pid, std::chrono::seconds(60), status))
    ADD_FAILURE() << "kz51 did not end within 60 s";
  r.ms = ChildLog::NowMs() - t0;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = kzemu::sdcc::ReadFile(outPath);
  r.err = kzemu::sdcc::ReadFile(errPath);
  return r;
}

std::vector<std::string> Args(const std::string& provider, const std::vector<std::string>& commands,
                              bool json = true) {
  std::vector<std::string> args{"--provider", provider};
  if (json) args.push_back("--json");
  for (const auto& c : commands) {
    args.push_back("-c");
    args.push_back(c);
  }
  return args;
}

class UsbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UnderUmockdev()) << "run usb_tests under umockdev-wrapper (ctest does)";
  }
};

// ---- a whole session ---------------------------------------------------------

// Stop in tick() on its third call, look at everything, stop at kz_done, step
// in its loop, run and stop the run from a second thread, look again: the
// lines must be the virtual emulator's, byte for byte.
TEST_F(UsbTest, DebugSessionThroughTheExportsSeesWhatTheVirtualEmulatorShows) {
  e2e::DataDir work;
  const fs::path src = fs::path(KZ_SOURCE_DIR) / "tests/emu/programs/spaces.c";
  const std::string cc = "sdcc -mmcs51 -I'" + src.parent_path().string() + "' -o '" +
                         work.Path().string() + "/' '" + src.string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(cc.c_str()), 0) << "sdcc failed or is missing";
  const std::string map = kzemu::sdcc::ReadFile(work.Path() / "spaces.map");
  char script[160];
  std::snprintf(script, sizeof script,
                "break %04lX 3;go;dump;clear;break %04lX;go;step 5;stopgo;dump",
                kzemu::sdcc::MapSymbol(map, "_tick"), kzemu::sdcc::MapSymbol(map, "_kz_done"));
  const std::string ihx = (work.Path() / "spaces.ihx").string();

  EmulatedDevice device(DeviceSpec{});
  const ChildOutcome usb = e2e::RunHostChild(ChildPlan{
      kDebugChild, std::string(kUsbProvider) + "|" + device.Setting() + "|" + ihx + "|" + script,
      "", 0, true, 120});
  ASSERT_TRUE(usb.exited && usb.failures.empty()) << usb.Describe();
  EXPECT_GT(device.MonitorPagesStored(), 0u) << "the monitor was downloaded over USB";
  const ChildOutcome virt = e2e::RunHostChild(
      ChildPlan{kDebugChild, "libusbd12.so||" + ihx + "|" + script, "model=0,pod=1", 0, true, 120});
  ASSERT_TRUE(virt.exited && virt.failures.empty()) << virt.Describe();

  const auto usbLines = Lines(usb), virtLines = Lines(virt);
  ASSERT_GT(virtLines.size(), 20u);
  EXPECT_EQ(usbLines, virtLines);
  EXPECT_NE(std::find_if(usbLines.begin(), usbLines.end(),
                         [](const std::string& l) { return l.rfind("stopgo 1 ", 0) == 0; }),
            usbLines.end())
      << "the go was stopped from a second thread while it ran";
  std::cout << "[ usb      ] " << device.Commands() << " packets over libusb in " << usb.wallMs
            << " ms (virtual emulator: " << virt.wallMs << " ms), " << usbLines.size()
            << " lines alike\n";
}

TEST_F(UsbTest, Kz51ScriptPrintsWhatItPrintsOnTheVirtualEmulator) {
  const std::string example = kBin + "/examples/checksum/checksum.ihx";
  const std::vector<std::string> script = {"connect",
                                           "load " + example,
                                           "break checksum",
                                           "go",
                                           "print buffer",
                                           "next",
                                           "step",
                                           "where",
                                           "regs",
                                           "finish",
                                           "dump xdata:0x0000 4",
                                           "write idata:0x90 A55A",
                                           "dump idata:0x90 2",
                                           "delete all",
                                           "go until done",
                                           "print result"};
  EmulatedDevice device(DeviceSpec{});
  const Kz51Run usb = Kz51(Args("usb", script), device.Setting());
  const Kz51Run virt = Kz51(Args("virtual", script), "");
  EXPECT_EQ(usb.status, 0) << usb.err;
  EXPECT_EQ(virt.status, 0) << virt.err;
  EXPECT_EQ(std::count(usb.out.begin(), usb.out.end(), '\n'), static_cast<long>(script.size()));
  EXPECT_EQ(usb.out, virt.out);
  std::cout << "[ usb      ] kz51 script: " << device.Commands() << " packets in " << usb.ms
            << " ms over libusb, " << virt.ms << " ms on the virtual emulator\n";
}

// kz51 run's status is read from the target's memory at the stop; the
// counts behind coverage exist only on the virtual emulator.
TEST_F(UsbTest, Kz51RunEndsWithTheStatusItGetsOnTheVirtualEmulator) {
  const std::string test = kBin + "/examples/unit-test/test_ring/test_ring.ihx";
  const std::vector<std::string> run = {
      "run", "--until", "check_end", "--exit-code", "check_failures + 3", test};
  EmulatedDevice device(DeviceSpec{});
  auto with = [&](const char* provider, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = run;
    args.insert(args.begin() + 1, {"--provider", provider});
    args.insert(args.end() - 1, extra.begin(), extra.end());
    return Kz51(args, device.Setting());
  };
  const Kz51Run usb = with("usb"), virt = with("virtual");
  EXPECT_EQ(virt.status, 3) << virt.err;
  EXPECT_NE(virt.out.find("56 checks, 0 failed"), std::string::npos) << virt.out;
  EXPECT_EQ(usb.status, 3) << usb.err;
  EXPECT_EQ(usb.err, virt.err);
  EXPECT_EQ(usb.out, "") << "the emulator has no UART channel to the host";
  EXPECT_GT(device.Commands(), 100u);
  const Kz51Run coverage = with("usb", {"--coverage", (Installation() / "c.info").string()});
  EXPECT_EQ(coverage.status, 1);
  EXPECT_NE(coverage.err.find("--coverage needs the virtual emulator's counts"), std::string::npos)
      << coverage.err;
}

// ---- the link lost during a run --------------------------------------------

struct Loss {
  const char* name;
  std::function<void(EmulatedDevice&)> arrange;
  const char* sentence;
};

class UsbLinkLoss : public UsbTest, public ::testing::WithParamInterface<Loss> {};

TEST_P(UsbLinkLoss, RunEndsInTimeWithErrorKind1AndTheSentence) {
  EmulatedDevice device(DeviceSpec{});
  GetParam().arrange(device);
  const ChildOutcome o =
      e2e::RunHostChild(ChildPlan{kLossChild, device.Setting(), "", 0, true, 60});
  ASSERT_TRUE(o.exited && o.failures.empty()) << o.Describe();
  double goMs = -1;
  for (const auto& c : o.calls)
    if (c.entry == "AG_GoStep(4)") goMs = c.ms;
  EXPECT_GE(goMs, 0) << o.Describe();
  EXPECT_LT(goMs, kRunEndMs) << o.Describe();
  EXPECT_NE(o.stderrText.find("dialog \"Can not connect USB\""), std::string::npos) << o.Describe();
  EXPECT_NE(o.NoteValue("sentence").find(GetParam().sentence), std::string::npos)
      << o.NoteValue("sentence");
  std::cout << "[ usb      ] " << GetParam().name << ": the go ended after " << goMs << " ms\n";
}

INSTANTIATE_TEST_SUITE_P(
    DuringRun, UsbLinkLoss,
    ::testing::Values(
        Loss{"Unplugged", [](EmulatedDevice& d) { d.UnplugDuringRun(50); }, "was unplugged"},
        Loss{"Silent", [](EmulatedDevice& d) { d.SilenceDuringRun(50); }, "did not answer"}),
    [](const ::testing::TestParamInfo<Loss>& info) { return std::string(info.param.name); });

// ---- why a connection fails: the sentences ------------------------------------

enum class Arrange { kNothing, kBusy, kSilent, kUnplugDuringRun };

struct Cause {
  const char* name;
  // KZ51_USB ("" unset); a leading "emulator" or "keyboard" stands for that
  // device's ids.
  std::string usb;
  Arrange arrange;
  bool run;                           // connect, load and go (else connect)
  std::vector<std::string> sentence;  // fragments of the error line, in order
  double boundMs;
};

DeviceSpec Keyboard() {
  DeviceSpec k;
  k.vid = 0x046d;
  k.pid = 0xc31c;
  k.address = 3;
  k.emulatorEndpoints = false;
  return k;
}

class UsbConnectFailure : public UsbTest, public ::testing::WithParamInterface<Cause> {};

TEST_P(UsbConnectFailure, TellsTheCauseAndTheFixInBoundedTime) {
  const Cause& c = GetParam();
  EmulatedDevice emulator(DeviceSpec{}), keyboard(Keyboard());
  if (c.arrange == Arrange::kBusy) emulator.SetBusy(true);
  if (c.arrange == Arrange::kSilent) emulator.SetSilent(true);
  if (c.arrange == Arrange::kUnplugDuringRun) emulator.UnplugDuringRun(50);
  std::string usb = c.usb;
  for (const auto& [word, device] : {std::pair{"emulator", &emulator}, {"keyboard", &keyboard}})
    if (usb.rfind(word, 0) == 0) usb = device->Setting() + usb.substr(std::strlen(word));
  std::vector<std::string> commands = {"connect"};
  if (c.run) commands = {"connect", "load " + kBin + "/examples/checksum/checksum.ihx", "go"};
  const Kz51Run r = Kz51(Args("usb", commands, false), usb);
  EXPECT_EQ(r.status, 1) << r.err;
  std::size_t at = 0;
  for (const std::string& fragment : c.sentence) {
    at = r.err.find(fragment, at);
    ASSERT_NE(at, std::string::npos) << "'" << fragment << "' not in:\n" << r.err;
  }
  EXPECT_LT(r.ms, c.boundMs * kSlowdown) << r.err;
  std::cout << "[ usb      ] " << c.name << ": " << r.ms << " ms\n";
}

using A = Arrange;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Causes, UsbConnectFailure, ::testing::Values(
    Cause{"NotSet", "", A::kNothing, false,
          {"no emulator answered: KZ51_USB is not set", "kz51 devices"}, 3000},
    Cause{"NotANumber", "vid=0x1234,pid=0x56g8", A::kNothing, false,
          {"'pid=0x56g8' needs a hexadecimal number", "vid=0x1234,pid=0x5678"}, 3000},
    Cause{"UnknownKey", "emulator,port=2", A::kNothing, false, {"unknown setting 'port=2'"}, 3000},
    Cause{"WrongIds", "vid=0x1234,pid=0x9999", A::kNothing, false,
          {"no USB device 1234:9999", "plug the emulator in", "kz51 devices"}, 3000},
    Cause{"WrongInterface", "emulator,interface=1", A::kNothing, false,
          {"USB device 1234:5678 (bus 1, address 2) has no interface 1"}, 3000},
    Cause{"WrongEndpoint", "emulator,in=0x83", A::kNothing, false,
          {"has no bulk endpoint 0x83 in any interface"}, 3000},
    Cause{"WrongEndpointOfInterface", "emulator,interface=0,out=0x04", A::kNothing, false,
          {"has no bulk endpoint 0x04 in interface 0"}, 3000},
    Cause{"NotTheEmulator", "keyboard", A::kNothing, false,
          {"046d:c31c", "has no interface with bulk OUT and IN endpoints of 64 bytes"}, 3000},
    Cause{"Busy", "emulator", A::kBusy, false,
          {"is busy: another program holds its interface 0"}, 3000},
    // Each link open (the driver's start-up, then the connection) tries for
    // 5 s at most, then gives up.
    Cause{"NeverAnswers", "emulator", A::kSilent, false,
          {"1234:5678", "did not answer within", "on endpoint 0x81"}, 12000},
    Cause{"UnpluggedDuringGo", "emulator", A::kUnplugDuringRun, true,
          {"the link to the emulator failed during the run", "was unplugged",
           "plug the emulator in again"}, 9000}),
    [](const ::testing::TestParamInfo<Cause>& info) { return std::string(info.param.name); });
// clang-format on

// Through the provider itself: the driver's 100 attempts would overrun the
// preload library's record of failed opens (see EmulatedDevice::DenyAccess);
// the sentence reaches the kz51 user as every other cause's does.
TEST_F(UsbTest, PermissionDeniedNamesTheDeviceAndTheUdevRule) {
  EmulatedDevice emulator(DeviceSpec{});
  emulator.DenyAccess();
  const ChildOutcome o =
      e2e::RunHostChild(ChildPlan{kDeniedChild, emulator.Setting(), "", 0, true, 30});
  ASSERT_TRUE(o.exited && o.failures.empty()) << o.Describe();
  const std::string sentence = o.NoteValue("sentence");
  EXPECT_EQ(sentence.rfind("permission denied for USB device 1234:5678 (bus 1, address 2): install "
                           "the udev rule packaging/60-kz51-emulator.rules",
                           0),
            0u)
      << sentence;
}

// ---- kz51 devices -------------------------------------------------------------

TEST_F(UsbTest, DevicesListsTheCandidatesAndMarksTheSelectedOne) {
  EmulatedDevice emulator(DeviceSpec{}), notCandidate(Keyboard());
  DeviceSpec other;
  other.vid = 0x0abc;
  other.pid = 0x0001;
  other.address = 4;
  other.strings = false;
  EmulatedDevice second(other);

  const Kz51Run json = Kz51({"devices", "--json"}, emulator.Setting());
  ASSERT_EQ(json.status, 0) << json.err;
  const auto j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j["command"], "devices");
  EXPECT_EQ(j["ok"], true);
  EXPECT_TRUE(j["note"].is_null()) << j.dump();
  ASSERT_EQ(j["devices"].size(), 2u) << j.dump();  // not the keyboard
  const auto& e = j["devices"][0];
  EXPECT_EQ(e["id"], "1234:5678");
  EXPECT_EQ(e["vid"], 0x1234);
  EXPECT_EQ(e["bus"], 1);
  EXPECT_EQ(e["address"], 2);
  EXPECT_EQ(e["manufacturer"], "KZ test");
  EXPECT_EQ(e["product"], "8051 emulator");
  EXPECT_EQ(e["pairs"], nlohmann::json::parse(R"([{"interface":0,"out":2,"in":129}])"));
  EXPECT_EQ(e["selected"], true);
  EXPECT_EQ(e["setting"], "vid=0x1234,pid=0x5678");
  const auto& s = j["devices"][1];
  EXPECT_EQ(s["id"], "0abc:0001");
  EXPECT_TRUE(s["manufacturer"].is_null()) << "a name the system does not have is not made up";
  EXPECT_EQ(s["selected"], false);
  EXPECT_EQ(emulator.Commands() + second.Commands(), 0u) << "listing sends nothing";

  const Kz51Run text = Kz51({"devices"}, "");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("  1234:5678  bus 1, address 2  \"KZ test\" \"8051 emulator\"  "
                          "interface 0: out 0x02, in 0x81"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("0abc:0001  bus 1, address 4  (no maker name) (no product name)"),
            std::string::npos)
      << text.out;
  EXPECT_EQ(text.out.find("046d"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("to use the first: KZ51_USB=\"vid=0x1234,pid=0x5678\""),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("KZ51_USB is not set"), std::string::npos) << text.out;
  const Kz51Run marked = Kz51({"devices"}, second.Setting());
  EXPECT_NE(marked.out.find("* 0abc:0001"), std::string::npos) << marked.out;
}

TEST_F(UsbTest, DevicesWithoutAnyDeviceSaysNoneWasFound) {
  e2e::DataDir empty;  // a system without USB devices
  const Kz51Run text = Kz51({"devices"}, "vid=0x1234,pid=0x5678", empty.Path().string());
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.rfind("no USB device that could be the emulator was found", 0), 0u)
      << text.out;
  EXPECT_NE(text.out.find("no USB device 1234:5678 (the ids KZ51_USB names) is connected"),
            std::string::npos)
      << text.out;
  const Kz51Run json = Kz51({"devices", "--json"}, "", empty.Path().string());
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(nlohmann::json::parse(json.out)["devices"], nlohmann::json::array());
}

}  // namespace
}  // namespace kz::usbtest
