#pragma once
// A host in a child process of its own, for end-to-end tests that need a
// fresh driver and a fresh virtual emulator (both are one per process).
//
// Parent side: RunHostChild prepares a data directory (KZ.MDB, KZ.FMD and a
// ZOLTKEIL.DSK choosing the pod), re-executes the test program with argv[0]
// inside it (the driver derives its data directory from the command line) and
// the program name and argument in the environment, bounds it in time, and
// collects what it wrote.
//
// Child side: a test file dispatches before main on ChildProgram(); the child
// loads libusbd12.so and libkz51.so through HostExports, records each timed
// entry point call and each failed check in the result file through
// ChildLog, and ends with _exit.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/AG_DLL_DEF.h"

namespace kz::e2e {

// ---- child side -------------------------------------------------------------

// The program name the parent asked this child to run, or null in the parent.
const char* ChildProgram();
// The argument the parent gave it ("" when none).
const char* ChildArgument();

struct HostExports {
  std::int32_t (*AG_Init)(std::uint16_t, void*) = nullptr;
  std::uint16_t (*AG_MemAcc)(std::uint16_t, std::uint8_t*, AddressRecord*, std::uint32_t) = nullptr;
  std::uint16_t (*AG_RegAcc)(std::uint16_t, std::uint32_t, void*) = nullptr;
  std::uint16_t (*AG_AllReg)(std::uint16_t, void*) = nullptr;
  std::uint16_t (*AG_MemAtt)(std::uint16_t, std::uint32_t, AddressRecord*) = nullptr;
  std::int32_t (*AG_BpInfo)(std::uint16_t, std::uint32_t*) = nullptr;
  void* (*AG_BreakFunc)(std::uint16_t, std::uint16_t, std::uint32_t*, BreakpointRecord*) = nullptr;
  std::int32_t (*AG_GoStep)(std::uint16_t, std::uint32_t, AddressRecord*) = nullptr;
  std::int32_t (*AG_Serial)(std::uint16_t, std::uint32_t, std::uint32_t, void*) = nullptr;
  std::int32_t (*AG_HistFunc)(std::int32_t) = nullptr;
  std::int32_t (*DllUv3Cap)(std::int32_t) = nullptr;
  std::int32_t (*EnumUv351)(void*, std::int32_t) = nullptr;
  // The virtual emulator's test hooks (null with another provider).
  int (*EmuConfigure)(const char*) = nullptr;
  int (*EmuInject)(const char*) = nullptr;

  // Loads the provider (the virtual emulator unless named) and the driver
  // from KZ_OUT_DIR; false with `error` set on failure.
  bool Load(std::string& error, const char* provider = "libusbd12.so");
};

// The result file of the child: one line per record.
class ChildLog {
 public:
  ChildLog();
  ~ChildLog();
  ChildLog(const ChildLog&) = delete;
  ChildLog& operator=(const ChildLog&) = delete;

  // A failed check; the parent fails the test with the text.
  void Fail(const std::string& text);
  void Check(bool ok, const std::string& text) {
    if (!ok) Fail(text);
  }
  // A value the parent reads (measurements, a reason to skip).
  void Note(const std::string& key, const std::string& value);
  // Runs one entry point call and records its duration under `entry`.
  template <typename F>
  auto Timed(const char* entry, F&& call) {
    const double t0 = NowMs();
    auto answer = call();
    Call(entry, NowMs() - t0);
    return answer;
  }
  void Call(const char* entry, double ms);
  [[noreturn]] void Finish();

  static double NowMs();
  // CPU time of the whole process in ms (every thread).
  static double ProcessCpuMs();

 private:
  void Line(const std::string& text);
  int fd_ = -1;
};

// The host's registered values, as a debugger host keeps them.
struct HostRecords {
  std::uint32_t pcCell = 0;
  BreakpointRecord* firstBreakpoint = nullptr;
  // Texts the driver handed over with callback code 4.
  static std::vector<std::string>& CommandTexts();
  static std::uint32_t KZ_CDECL Callback(std::uint32_t code, void* argument);
  // Registers window 1, the message, the callback, the list anchor and the PC
  // cell, then initialises (AG_Init 0x100).
  void RegisterAndInit(const HostExports& x);
};

// ---- parent side ------------------------------------------------------------

struct ChildPlan {
  std::string program;       // what the child runs
  std::string argument;      // handed to it
  std::string emu;           // KZ51_EMU at start-up
  int podIndex = 0;          // the ZOLTKEIL.DSK prepared for it
  bool withDatabase = true;  // false: no KZ.MDB, the start-up fails
  int timeoutSeconds = 120;
};

struct ChildCall {
  std::string entry;
  double ms = 0;
};

struct ChildOutcome {
  bool exited = false;  // ended by _exit, not by a signal or the time limit
  int exitStatus = -1;
  int signal = 0;
  bool timedOut = false;
  std::vector<std::string> failures;
  std::vector<ChildCall> calls;
  std::vector<std::pair<std::string, std::string>> notes;
  std::string stderrText;
  std::vector<std::uint8_t> settingsBefore, settingsAfter;  // ZOLTKEIL.DSK
  double wallMs = 0;

  std::string NoteValue(const std::string& key) const;
  // Everything worth printing when the child did not do as expected.
  std::string Describe() const;
};

ChildOutcome RunHostChild(const ChildPlan& plan);

// Runs the children `jobs` at a time (they mostly wait on time-outs); results
// in the order of the plans.
std::vector<ChildOutcome> RunHostChildren(const std::vector<ChildPlan>& plans, int jobs);

}  // namespace kz::e2e
