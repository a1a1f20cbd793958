// The fault matrix: every fault of the virtual emulator crossed with every host
// operation, through the driver's exports, each cell in a child process of its
// own (the driver and the emulator are one per process).
//
// A cell: start-up and a healthy first connection on pod 1 (the settings file
// as it then is is the reference); then the fault is set (for the connect
// column on a fresh emulator, so the monitor and logic downloads happen under
// it; for the others on the connected emulator, keeping what it holds) and
// the operation runs. Checked for every cell:
//  - no crash: the child ends normally;
//  - every entry point call returns within the bound below;
//  - the answers are the entry points' documented ones (a failed link is not
//    an error the host sees, except EnumUv351's 0 with its failure box);
//  - a failed link carries error kind 1: the project dialog then shows
//    "Can not connect USB";
//  - ZOLTKEIL.DSK is byte-identical to the reference;
//  - no thread spins a core while the link is failed;
//  - with the fault removed, a new EnumUv351 connects again in the process.
//
// Time bounds, from the transport's retry patterns (1 ms reads and sleeps):
//  - an exchange that gets no reply: 100 passes of 10 reads and a sleep,
//    kExchangeMs = 1100 ms; after it the link is failed and every later
//    command returns at once;
//  - a link open that never identifies: 100 failed pipe openings with a 1 ms
//    sleep, or 100 identification attempts of 3 passes of 3 reads and a sleep,
//    kOpenMs = 1300 ms (both counted);
//  - a connection may meet two time-outs (after a lost logic download the
//    check clears the failure and asks again): EnumUv351 <= kOpenMs +
//    2 kExchangeMs; every other entry point <= kExchangeMs;
//  - slow replies add their delay per exchange, at most the operation's
//    exchange count times the delay;
//  - on top: a factor 1.5 for a loaded machine and a fixed allowance for the
//    healthy work (larger under the sanitizers).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Sanitizers.h"
#include "e2e/HostChild.h"
#include "link/Transport.h"

namespace kz::e2e {
namespace {

// ---- the bounds -------------------------------------------------------------

constexpr double kReadMs = 1, kSleepMs = 1;
constexpr double kExchangeMs =
    Transport::kLongPasses * (Transport::kLongReads * kReadMs + kSleepMs);
constexpr double kOpenMs =
    Transport::kOpenBudget * kSleepMs + Transport::kIdentifyAttempts * Transport::kShortPasses *
                                            (Transport::kShortReads * kReadMs + kSleepMs);
static_assert(kExchangeMs == 1100 && kOpenMs == 1300);
constexpr double kLoadFactor = 1.5;
#if KZ_UNDER_SANITIZER
constexpr double kWorkMs = 6000;
#else
constexpr double kWorkMs = 1500;
#endif
// Exchanges of the longest healthy connection (pod 1, first connection: 176)
// and of the longest other operation (2 KB code write, a stop), with room.
constexpr double kConnectExchanges = 400, kOperationExchanges = 120;
// The go of the go column is stopped after this long.
constexpr double kStopAfterMs = 1500;

// ---- rows: the faults -------------------------------------------------------

struct Row {
  const char* name;
  std::string fault;  // KZ51_EMU fault keys
  bool connects;      // a first connection succeeds under it
  // Every exchange after the fault fails: the link fails on the first one.
  bool failsAtOnce;
  double slowMs;  // reply delay
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"Silent", "fault=silent", false, true, 0},
      {"Garbage", "fault=garbage,seed=7", false, false, 0},
      {"WrongId", "fault=wrongid", false, false, 0},
      {"NeverStop", "fault=neverstop", true, false, 0},
      // Below the identification's short pattern (about 12 ms): connects.
      {"Slow5", "fault=slow,delay=5", true, false, 5},
      // Below the exchange time-out but above the identification's: the link
      // open gives up, exchanges on an open link still succeed.
      {"Slow200", "fault=slow,delay=200", false, false, 200},
      // Above the exchange time-out.
      {"Slow1500", "fault=slow,delay=1500", false, true, 1500},
      // Unplugged after N packets, N spread over the first connection on pod 1
      // (176 packets): the identification, the identities and headers, the
      // monitor download, the logic download, the clock and the memory map;
      // for the other columns N counts from the operation's start.
      {"Disconnect0", "fault=disconnect,after=0", false, true, 0},
      {"Disconnect3", "fault=disconnect,after=3", false, false, 0},
      {"Disconnect12", "fault=disconnect,after=12", false, false, 0},
      {"Disconnect40", "fault=disconnect,after=40", false, false, 0},
      {"Disconnect90", "fault=disconnect,after=90", false, false, 0},
      {"Disconnect150", "fault=disconnect,after=150", false, false, 0},
  };
  return rows;
}

// ---- columns: the host operations -------------------------------------------

enum class Needs { kNothing, kMemory, kBreakpoints, kExecution };

struct Column {
  const char* name;
  Needs needs;
};

const std::vector<Column>& Columns() {
  static const std::vector<Column> columns = {
      {"Connect", Needs::kNothing},          {"Registers", Needs::kNothing},
      {"ExitNotification", Needs::kNothing}, {"MemoryRead", Needs::kMemory},
      {"MemoryWrite", Needs::kMemory},       {"CodeDownload", Needs::kMemory},
      {"Breakpoints", Needs::kBreakpoints},  {"Step", Needs::kExecution},
      {"GoUntil", Needs::kExecution},        {"GoAndStop", Needs::kExecution},
  };
  return columns;
}

const Row* FindRow(const std::string& name) {
  for (const Row& r : Rows())
    if (name == r.name) return &r;
  return nullptr;
}

// ---- child side -------------------------------------------------------------

constexpr const char* kProgram = "fault-matrix";
constexpr std::uint32_t kCode = 0xFF000000u, kData = 0xF0000000u, kIdata = 0xF3000000u,
                        kXdata = 0x01000000u, kPdata = 0xFE000000u;

// MOV A,#1 / loop: INC A / SJMP loop: runs forever, passing 0002h and 0003h.
constexpr std::uint8_t kProgramBytes[] = {0x74, 0x01, 0x04, 0x80, 0xFD};

class Cell {
 public:
  Cell(const Row& row, const std::string& column) : row_(row), column_(column) {}

  [[noreturn]] void Run() {
    std::string error;
    if (!x_.Load(error)) {
      log_.Fail("load: " + error);
      log_.Finish();
    }
    host_.RegisterAndInit(x_);
    const std::int32_t first = log_.Timed("EnumUv351", [&] { return x_.EnumUv351(nullptr, 2); });
    if (first != 8051) {
      log_.Fail("the healthy first connection answered " + std::to_string(first));
      log_.Finish();
    }
    reference_ = ReadSettings();
    Probe();
    if (!skip_.empty()) {
      log_.Note("skip", skip_);
      log_.Finish();
    }
    if (memoryBuilt_) LoadProgram();

    if (column_ == "Connect") {
      Expect(x_.EmuConfigure(("pod=1," + row_.fault).c_str()) == 0, "configure " + row_.fault);
      const std::int32_t a = log_.Timed("EnumUv351", [&] { return x_.EnumUv351(nullptr, 2); });
      Expect(a == (row_.connects ? 8051 : 0), "EnumUv351 answered " + std::to_string(a));
    } else {
      Expect(x_.EmuInject(row_.fault.c_str()) == 0, "inject " + row_.fault);
      Operation();
    }

    IdleCpuCheck("after the operation");
    if (column_ != "ExitNotification") DialogProbe();
    Expect(ReadSettings() == reference_, "ZOLTKEIL.DSK changed");

    // Healed: the same process connects again.
    Expect(x_.EmuInject("fault=none") == 0, "heal");
    const std::int32_t again = log_.Timed("EnumUv351", [&] { return x_.EnumUv351(nullptr, 2); });
    Expect(again == 8051, "reconnection answered " + std::to_string(again));
    std::uint32_t pc = 0;
    Expect(x_.AG_RegAcc(1, 0x500, &pc) == 0 && (pc & 0xFF000000u) == kCode,
           "register read after reconnection");
    log_.Finish();
  }

 private:
  void Expect(bool ok, const std::string& what) { log_.Check(ok, column_ + ": " + what); }

  std::vector<std::uint8_t> ReadSettings() {
    std::vector<std::uint8_t> b;
    if (std::FILE* f = std::fopen("ZOLTKEIL.DSK", "rb")) {
      std::uint8_t buf[4096];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
      std::fclose(f);
    }
    return b;
  }

  // Which of the debugging entry points exist yet: before they are built
  // they refuse (memory access answers 1 while the target is stopped).
  void Probe() {
    std::uint8_t b[4] = {};
    AddressRecord r{kData | 0x30, 0, 0};
    memoryBuilt_ = x_.AG_MemAcc(1, b, &r, 4) == 0;
    BreakpointRecord bp{};
    bp.flags = kBpEnabled;
    bp.address = kCode | 2;
    breakpointsBuilt_ = x_.AG_BreakFunc(5, 0, nullptr, &bp) == &bp;
    for (const Column& c : Columns()) {
      if (column_ != c.name) continue;
      if (c.needs == Needs::kMemory && !memoryBuilt_) skip_ = "memory access is not built yet";
      if (c.needs == Needs::kBreakpoints && !breakpointsBuilt_)
        skip_ = "breakpoints are not built yet";
      if (c.needs == Needs::kExecution) {
        if (!memoryBuilt_) {
          skip_ = "memory access is not built yet";
        } else {
          LoadProgram();
          std::uint32_t pc = 0;
          x_.AG_GoStep(2, 1, nullptr);
          x_.AG_RegAcc(1, 0x500, &pc);
          if ((pc & 0xFFFF) != 2) skip_ = "execution control is not built yet";
        }
      }
    }
  }

  void LoadProgram() {
    std::uint8_t code[sizeof kProgramBytes];
    std::memcpy(code, kProgramBytes, sizeof code);
    AddressRecord r{kCode, 0, 0};
    x_.AG_MemAcc(2, code, &r, sizeof code);
    std::uint32_t pc = kCode;
    x_.AG_RegAcc(2, 0x500, &pc);
  }

  void Operation() {
    if (column_ == "Registers") {
      std::uint32_t pc = 0;
      std::uint8_t acc = 0x5A;
      Expect(log_.Timed("AG_RegAcc", [&] { return x_.AG_RegAcc(1, 0x500, &pc); }) == 0, "read PC");
      Expect((pc & 0xFF000000u) == kCode, "PC in its CODE-address form");
      Expect(log_.Timed("AG_RegAcc", [&] { return x_.AG_RegAcc(2, 20, &acc); }) == 0, "write ACC");
      Expect(log_.Timed("AG_AllReg", [&] { return x_.AG_AllReg(1, nullptr); }) == 0, "refresh");
      acc = 0;
      Expect(log_.Timed("AG_RegAcc", [&] { return x_.AG_RegAcc(1, 20, &acc); }) == 0, "read ACC");
      Expect(acc == 0x5A, "ACC reads back what was written");
      Expect(log_.Timed("AG_AllReg", [&] { return x_.AG_AllReg(2, nullptr); }) == 0, "apply");
    } else if (column_ == "ExitNotification") {
      Expect(log_.Timed("AG_Init", [&] { return x_.AG_Init(0x40C, nullptr); }) == 0, "exit");
      std::uint8_t acc = 0;
      // The abandon flag lasts only for the notification's own call.
      Expect(log_.Timed("AG_RegAcc", [&] { return x_.AG_RegAcc(1, 20, &acc); }) == 0,
             "register read after the exit notification");
    } else if (column_ == "MemoryRead") {
      for (std::uint32_t a : {kData | 0x30, kData | 0x80, kIdata | 0x80, kXdata | 0x100,
                              kPdata | 0x10, kCode | 0x0000}) {
        std::uint8_t b[64];
        AddressRecord r{a, 0xFFFF, 0};
        const auto answer = log_.Timed("AG_MemAcc", [&] { return x_.AG_MemAcc(1, b, &r, 16); });
        Expect(answer == 0 && r.result == 0, "read " + Hex(a) + " answered " +
                                                 std::to_string(answer) + "/" +
                                                 std::to_string(r.result));
      }
    } else if (column_ == "MemoryWrite") {
      for (std::uint32_t a : {kData | 0x30, kData | 0xA8, kIdata | 0x90, kXdata | 0x200,
                              kPdata | 0x20, kCode | 0x0400}) {
        std::uint8_t b[4] = {1, 2, 3, 4};
        AddressRecord r{a, 0xFFFF, 0};
        const auto answer = log_.Timed("AG_MemAcc", [&] { return x_.AG_MemAcc(2, b, &r, 4); });
        Expect(answer == 0 && r.result == 0,
               "write " + Hex(a) + " answered " + std::to_string(answer));
      }
    } else if (column_ == "CodeDownload") {
      std::vector<std::uint8_t> image(2048);
      for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);
      AddressRecord r{0x0800, 0xFFFF, 0};
      const auto answer =
          log_.Timed("AG_MemAcc", [&] { return x_.AG_MemAcc(3, image.data(), &r, 2048); });
      Expect(answer == 0, "code download answered " + std::to_string(answer));
    } else if (column_ == "Breakpoints") {
      BreakpointRecord bp{};
      bp.flags = kBpEnabled;
      bp.address = kCode | 2;
      host_.firstBreakpoint = &bp;
      std::uint32_t a = bp.address;
      Expect(log_.Timed("AG_BreakFunc", [&] { return x_.AG_BreakFunc(1, 0, &a, &bp); }) == &bp,
             "set");
      Expect(log_.Timed("AG_BpInfo", [&] { return x_.AG_BpInfo(1, &a); }) == 0x08, "marker set");
      Expect(log_.Timed("AG_BreakFunc", [&] { return x_.AG_BreakFunc(2, 0, &a, &bp); }) == &bp,
             "clear");
      Expect(log_.Timed("AG_BpInfo", [&] { return x_.AG_BpInfo(1, &a); }) == 0, "marker clear");
      host_.firstBreakpoint = nullptr;
    } else if (column_ == "Step") {
      RunGuarded(
          "AG_GoStep(2)", [&] { return x_.AG_GoStep(2, 3, nullptr); }, 0);
    } else if (column_ == "GoUntil") {
      AddressRecord until{kCode | 3, 0, 0};
      RunGuarded(
          "AG_GoStep(3)", [&] { return x_.AG_GoStep(3, 0, &until); }, 0);
    } else if (column_ == "GoAndStop") {
      GoAndStop();
    }
  }

  // Runs a step or go on a thread of its own, as the host does. One that does
  // not come back within its bound is stopped from here, and that is a
  // failure.
  template <typename F>
  void RunGuarded(const char* entry, F call, double stopAfterMs) {
    std::atomic<bool> done{false};
    std::int32_t answer = -1;
    double ms = 0;
    std::thread runner([&] {
      const double t0 = ChildLog::NowMs();
      answer = call();
      ms = ChildLog::NowMs() - t0;
      done = true;
    });
    const double bound = EntryBoundMs(false) + stopAfterMs;
    const double t0 = ChildLog::NowMs();
    bool spunChecked = false;
    while (!done && ChildLog::NowMs() - t0 < bound) {
      // Once an exchange has had time to fail, a failed link must not keep
      // the run's thread busy.
      if (row_.failsAtOnce && !spunChecked && ChildLog::NowMs() - t0 > kExchangeMs * kLoadFactor) {
        spunChecked = true;
        IdleCpuCheck(std::string("while ") + entry + " runs on a failed link");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    bool stopped = false;
    if (!done) {
      log_.Fail(std::string(entry) + " did not return within " + std::to_string(bound) +
                " ms; stopped from another thread");
      x_.AG_GoStep(1, 0, nullptr);
      stopped = true;
    }
    runner.join();
    log_.Call(entry, ms);
    Expect(answer == 0, std::string(entry) + " answered " + std::to_string(answer) +
                            (stopped ? " after the rescue stop" : ""));
  }

  void GoAndStop() {
    std::atomic<bool> done{false};
    std::int32_t answer = -1;
    double goMs = 0;
    std::thread runner([&] {
      const double t0 = ChildLog::NowMs();
      answer = x_.AG_GoStep(4, 0, nullptr);
      goMs = ChildLog::NowMs() - t0;
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kStopAfterMs * 0.8)));
    if (row_.failsAtOnce) IdleCpuCheck("while AG_GoStep(4) runs on a failed link");
    const std::int32_t stop =
        log_.Timed("AG_GoStep(1)", [&] { return x_.AG_GoStep(1, 0, nullptr); });
    const double t0 = ChildLog::NowMs();
    while (!done && ChildLog::NowMs() - t0 < EntryBoundMs(false)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!done) {
      log_.Fail("AG_GoStep(4) did not return after the stop request");
      x_.AG_GoStep(1, 0, nullptr);
    }
    runner.join();
    log_.Call("AG_GoStep(4)+stop", goMs - kStopAfterMs * 0.8);
    Expect(answer == 0, "go answered " + std::to_string(answer));
    // The stop answers 1 while a go runs; a go that already ended on a failed
    // link leaves nothing to stop.
    Expect(stop == 1 || stop == 0, "stop answered " + std::to_string(stop));
    std::uint32_t pc = 0;
    Expect(x_.AG_RegAcc(1, 0x500, &pc) == 0, "registers after the stop");
    Expect(host_.pcCell == pc, "the PC cell holds the stop PC");
  }

  double EntryBoundMs(bool connect) const {
    const double exchanges = connect ? kConnectExchanges : kOperationExchanges;
    const double retry = connect ? kOpenMs + 2 * kExchangeMs : kExchangeMs;
    return kLoadFactor * (retry + exchanges * row_.slowMs) + kWorkMs;
  }

  // A failed link must leave the process idle: a thread spinning on it would
  // take a whole core.
  void IdleCpuCheck(const std::string& when) {
    constexpr double kWindowMs = 300;
    const double c0 = ChildLog::ProcessCpuMs(), t0 = ChildLog::NowMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kWindowMs)));
    const double cpu = ChildLog::ProcessCpuMs() - c0, wall = ChildLog::NowMs() - t0;
    log_.Note("cpu", std::to_string(cpu / wall));
    Expect(cpu < 0.5 * wall, "busy " + when + ": " + std::to_string(cpu) + " ms of CPU in " +
                                 std::to_string(wall) + " ms");
  }

  // The project dialog shows the failure text of the current error kind
  // while the link is failed: it must be kind 1's.
  void DialogProbe() {
    log_.Timed("DllUv3Cap", [&] { return x_.DllUv3Cap(1); });
  }

  static std::string Hex(std::uint32_t a) {
    char b[16];
    std::snprintf(b, sizeof b, "%08X", a);
    return b;
  }

  const Row& row_;
  std::string column_;
  HostExports x_;
  HostRecords host_;
  ChildLog log_;
  std::vector<std::uint8_t> reference_;
  bool memoryBuilt_ = false, breakpointsBuilt_ = false;
  std::string skip_;
};

const bool kChildDispatch = [] {
  const char* program = ChildProgram();
  if (program == nullptr || std::strcmp(program, kProgram) != 0) return false;
  const std::string arg = ChildArgument();
  const auto colon = arg.find(':');
  const Row* row = FindRow(arg.substr(0, colon));
  if (row == nullptr || colon == std::string::npos) _exit(9);
  Cell(*row, arg.substr(colon + 1)).Run();
}();

// ---- parent side ------------------------------------------------------------

struct CellParam {
  std::size_t row, column;
};

std::string CellName(const CellParam& p) {
  return std::string(Rows()[p.row].name) + "_" + Columns()[p.column].name;
}

// The cells the run selected, run together on first use.
const ChildOutcome& Outcome(const CellParam& p) {
  static std::map<std::string, ChildOutcome> results;
  static std::once_flag once;
  std::call_once(once, [] {
    std::vector<std::string> names;
    std::vector<ChildPlan> plans;
    const auto* unit = ::testing::UnitTest::GetInstance();
    for (int s = 0; s < unit->total_test_suite_count(); ++s) {
      const auto* suite = unit->GetTestSuite(s);
      if (std::string(suite->name()).find("FaultMatrix") == std::string::npos) continue;
      for (int t = 0; t < suite->total_test_count(); ++t) {
        const auto* info = suite->GetTestInfo(t);
        if (!info->should_run()) continue;
        std::string name = info->name();  // Cell/<row>_<column>
        name = name.substr(name.find('/') + 1);
        const auto us = name.find('_');
        names.push_back(name);
        plans.push_back(ChildPlan{kProgram, name.substr(0, us) + ":" + name.substr(us + 1), "pod=1",
                                  0, true, 90});
      }
    }
    const double t0 = ChildLog::NowMs();
    auto outcomes = RunHostChildren(plans, 6);
    std::cout << "[ matrix   ] " << plans.size() << " cells in " << (ChildLog::NowMs() - t0) / 1000
              << " s\n";
    double longest = 0;
    std::string where;
    for (std::size_t i = 0; i < names.size(); ++i) {
      for (const auto& c : outcomes[i].calls) {
        if (c.ms > longest) {
          longest = c.ms;
          where = c.entry + " in " + names[i];
        }
      }
      results[names[i]] = std::move(outcomes[i]);
    }
    std::cout << "[ matrix   ] longest entry point call: " << longest << " ms, " << where << "\n";
  });
  return results[CellName(p)];
}

class FaultMatrix : public ::testing::TestWithParam<CellParam> {};

TEST_P(FaultMatrix, Cell) {
  const CellParam& p = GetParam();
  const Row& row = Rows()[p.row];
  const std::string column = Columns()[p.column].name;
  const ChildOutcome& o = Outcome(p);
  const std::string skip = o.NoteValue("skip");
  if (!skip.empty()) GTEST_SKIP() << skip;
  ASSERT_TRUE(o.exited && o.exitStatus == 0) << o.Describe();
  for (const auto& f : o.failures) ADD_FAILURE() << f;

  // Every call within its bound.
  double slowest = 0;
  for (const auto& c : o.calls) {
    const bool connect = c.entry == "EnumUv351";
    const double exchanges = connect ? kConnectExchanges : kOperationExchanges;
    const double retry = connect ? kOpenMs + 2 * kExchangeMs : kExchangeMs;
    const double bound = kLoadFactor * (retry + exchanges * row.slowMs) + kWorkMs;
    EXPECT_LE(c.ms, bound) << c.entry;
    slowest = std::max(slowest, c.ms);
  }
  // A failed connection or operation is reported as kind 1, never as
  // another kind's text; a target that ignores the stop request is kind 7.
  const bool ignoredStop = std::string(row.name) == "NeverStop" && column == "GoAndStop";
  for (const char* other :
       {"Can not found FPGA board", "POD not match", "No MCU on POD", "Can not reset MCU on POD",
        "Undefine error", "Driver: USBD12.DLL not installed"}) {
    if (ignoredStop && std::strcmp(other, "Can not reset MCU on POD") == 0) continue;
    EXPECT_EQ(o.stderrText.find(other), std::string::npos) << o.stderrText;
  }
  if (ignoredStop) {
    EXPECT_NE(o.stderrText.find("dialog \"Can not reset MCU on POD\""), std::string::npos)
        << o.stderrText;
  }
  if (column == "Connect" && !row.connects) {
    EXPECT_NE(o.stderrText.find("请检查仿真器、仿真头及其设置!"), std::string::npos)
        << o.stderrText;
  }
  if (row.failsAtOnce && column != "Connect" && column != "ExitNotification" &&
      column != "Breakpoints") {
    EXPECT_NE(o.stderrText.find("Can not connect USB"), std::string::npos)
        << "the operation under " << row.name << " should have failed the link\n"
        << o.stderrText;
  }
  EXPECT_EQ(o.settingsAfter.size(), o.settingsBefore.size());
  RecordProperty("slowest_ms", std::to_string(slowest));
  if (std::getenv("KZ_E2E_VERBOSE") != nullptr) std::cout << o.Describe();
  std::cout << "[ cell     ] " << CellName(p) << ": slowest call " << slowest << " ms, child "
            << o.wallMs << " ms\n";
}

std::vector<CellParam> AllCells() {
  std::vector<CellParam> cells;
  for (std::size_t r = 0; r < Rows().size(); ++r)
    for (std::size_t c = 0; c < Columns().size(); ++c) cells.push_back({r, c});
  return cells;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(AllCells()),
                         [](const ::testing::TestParamInfo<CellParam>& info) {
                           return CellName(info.param);
                         });

}  // namespace
}  // namespace kz::e2e
