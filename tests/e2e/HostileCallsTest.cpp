// Hostile host calls through the exports: null pointers where the host passes
// records, buffers or the PC cell, huge lengths, every space and bank byte,
// codes outside every table, cyclic and very long breakpoint lists, calls
// before AG_Init, after the exit notification and after a failed start-up,
// and memory and register access from two threads while a third runs the
// target. Each entry point answers as documented or refuses cleanly; none
// may crash, hang, or write outside the host's buffers (the sanitizer builds
// run these too). Each driver state is a child process of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/HostChild.h"

namespace kz::e2e {
namespace {

constexpr const char* kProgram = "hostile";
constexpr std::uint32_t kCode = 0xFF000000u, kData = 0xF0000000u, kIdata = 0xF3000000u,
                        kXdata = 0x01000000u, kPdata = 0xFE000000u;
constexpr std::uint8_t kProgramBytes[] = {0x74, 0x01, 0x04, 0x80, 0xFD};  // A=1, loop: INC A
constexpr int kWatchdogMs = 5000;

// Registers with the host's register view, captured from callback code 3.
RegisterViewDescriptor g_view{};
std::uint32_t KZ_CDECL CaptureCallback(std::uint32_t code, void* argument) {
  if (code == 3 && argument != nullptr) g_view = *static_cast<RegisterViewDescriptor*>(argument);
  return 0;
}

class Hostile {
 public:
  [[noreturn]] void Run(const std::string& state) {
    std::string error;
    if (!x_.Load(error)) {
      log_.Fail("load: " + error);
      log_.Finish();
    }
    if (state == "failed-startup") FailedStartup();
    if (state == "before-init") BeforeInit();
    if (state == "connected") Connected();
    if (state == "after-exit") AfterExit();
    if (state == "concurrent") Concurrent();
    log_.Finish();
  }

 private:
  void Expect(bool ok, const std::string& what) { log_.Check(ok, what); }
  template <typename T>
  void Answer(const std::string& call, T got, T want) {
    Expect(got == want, call + " answered " + std::to_string(static_cast<long long>(got)) +
                            ", expected " + std::to_string(static_cast<long long>(want)));
  }

  // Runs `call` on a thread; one that has not returned after the watchdog is
  // a failure, and the child ends there (the thread cannot be taken back).
  template <typename F>
  void Bounded(const std::string& what, F call) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([call, done]() mutable {
      call();
      *done = true;
    }).detach();
    const double t0 = ChildLog::NowMs();
    while (!*done && ChildLog::NowMs() - t0 < kWatchdogMs)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    log_.Call(what.c_str(), ChildLog::NowMs() - t0);
    if (!*done) {
      log_.Fail(what + " did not return within " + std::to_string(kWatchdogMs) + " ms");
      log_.Finish();
    }
  }

  void Init() {
    x_.AG_Init(0x30A, reinterpret_cast<void*>(std::uintptr_t{1}));
    x_.AG_Init(0x312, reinterpret_cast<void*>(&CaptureCallback));
    x_.AG_Init(0x30E, &firstBreakpoint_);
    x_.AG_Init(0x30F, &pcCell_);
    x_.AG_Init(0x100, nullptr);
  }

  void Connect() {
    Init();
    const std::int32_t a = x_.EnumUv351(nullptr, 2);
    Expect(a == 8051, "connection answered " + std::to_string(a));
    std::uint8_t b[4] = {};
    AddressRecord r{kData | 0x30, 0, 0};
    memory_ = x_.AG_MemAcc(1, b, &r, 4) == 0;
    BreakpointRecord bp{};
    bp.flags = kBpEnabled;
    breakpoints_ = x_.AG_BreakFunc(5, 0, nullptr, &bp) == &bp;
    if (memory_) {
      std::uint8_t code[sizeof kProgramBytes];
      std::memcpy(code, kProgramBytes, sizeof code);
      AddressRecord c{kCode, 0, 0};
      x_.AG_MemAcc(2, code, &c, sizeof code);
      std::uint32_t pc = kCode;
      x_.AG_RegAcc(2, 0x500, &pc);
      x_.AG_GoStep(2, 1, nullptr);
      x_.AG_RegAcc(1, 0x500, &pc);
      execution_ = (pc & 0xFFFF) == 2;
      pc = kCode;
      x_.AG_RegAcc(2, 0x500, &pc);
    }
    log_.Note("built", std::string(memory_ ? "memory " : "") +
                           (breakpoints_ ? "breakpoints " : "") + (execution_ ? "execution" : ""));
  }

  // ---- after a failed start-up (no KZ.MDB): everything refuses -------------
  void FailedStartup() {
    Answer("AG_Init(0x100)", x_.AG_Init(0x100, nullptr), 0);
    Answer("AG_Init(0x30F, bad)", x_.AG_Init(0x30F, reinterpret_cast<void*>(std::uintptr_t{16})),
           0);
    Answer("AG_Init(0x40D)", x_.AG_Init(0x40D, nullptr), 0);
    Answer("AG_Init(0x40C)", x_.AG_Init(0x40C, nullptr), 0);
    Answer<int>("AG_MemAcc", x_.AG_MemAcc(1, nullptr, nullptr, 0xFFFFFFFFu), 1);
    Answer<int>("AG_MemAtt", x_.AG_MemAtt(1, 0, nullptr), 1);
    Answer<int>("AG_RegAcc", x_.AG_RegAcc(2, 0x500, nullptr), 1);
    Answer<int>("AG_AllReg", x_.AG_AllReg(2, nullptr), 1);
    Expect(x_.AG_BreakFunc(1, 0, nullptr, nullptr) == nullptr, "AG_BreakFunc answered a record");
    Answer("AG_BpInfo", x_.AG_BpInfo(5, nullptr), 0);
    Answer("AG_GoStep(3)", x_.AG_GoStep(3, 0, nullptr), 0);
    Answer("AG_GoStep(1)", x_.AG_GoStep(1, 0, nullptr), 0);
    Answer("AG_Serial", x_.AG_Serial(1, 0, 0xFFFFFFFFu, nullptr), 0);
    Answer("AG_HistFunc", x_.AG_HistFunc(3), 0);
    Answer("DllUv3Cap(1)", x_.DllUv3Cap(1), 0);
    Answer("DllUv3Cap(2)", x_.DllUv3Cap(2), 8051);
    Answer("EnumUv351", x_.EnumUv351(nullptr, 2), 0);
  }

  // ---- before AG_Init: nothing registered ---------------------------------
  void BeforeInit() {
    std::uint8_t buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    AddressRecord r{kData | 0x30, 0x1234, 0};
    const auto mem = x_.AG_MemAcc(1, buf, &r, sizeof buf);
    std::uint32_t a = kCode | 0x10;
    const std::int32_t info = x_.AG_BpInfo(1, &a);
    const void* bf = x_.AG_BreakFunc(1, 0, &a, nullptr);
    const std::int32_t go = x_.AG_GoStep(2, 1, nullptr);
    std::uint8_t reg[4] = {};
    Answer<int>("AG_RegAcc before AG_Init", x_.AG_RegAcc(1, 0x500, reg), 0);
    Answer("AG_Init(0x40D) before a window", x_.AG_Init(0x40D, nullptr), 0);
    Answer("AG_HistFunc before AG_Init", x_.AG_HistFunc(3), 0);
    Connect();
    if (memory_) {
      // No window registered: answer 0 and nothing is done.
      Answer<int>("AG_MemAcc before AG_Init", mem, 0);
      Expect(buf[0] == 0xEE && r.result == 0x1234, "AG_MemAcc before AG_Init touched the buffer");
    }
    if (breakpoints_) {
      Expect(bf == nullptr, "AG_BreakFunc with a null record before AG_Init");
      Expect(info == 0 || info == static_cast<std::int32_t>(0x80000000u),
             "AG_BpInfo before AG_Init answered " + std::to_string(info));
    }
    if (execution_) Answer("AG_GoStep(2) before AG_Init", go, 0);
  }

  // ---- connected: codes outside every table, nulls, spaces, lengths -------
  void Connected() {
    Connect();
    UnlistedCodes();
    RegisterNulls();
    if (memory_) Memory();
    if (breakpoints_) Breakpoints();
    if (execution_) Execution();
    // Still a working driver.
    std::uint32_t pc = 0;
    Answer<int>("AG_RegAcc at the end", x_.AG_RegAcc(1, 0x500, &pc), 0);
    Answer("EnumUv351 at the end", x_.EnumUv351(nullptr, 2), 8051);
  }

  void UnlistedCodes() {
    const std::vector<int> listed = {0x309, 0x30A, 0x30B, 0x30E, 0x30F,
                                     0x311, 0x312, 0x40C, 0x40D, 0x410};
    for (int code = 0; code <= 0xFFFF; ++code) {
      if ((code & 0xFF00) == 0x100) continue;  // initialise
      if (std::find(listed.begin(), listed.end(), code) != listed.end()) continue;
      const std::int32_t a = x_.AG_Init(static_cast<std::uint16_t>(code),
                                        reinterpret_cast<void*>(std::uintptr_t{0xDEAD0000u}));
      if (a != 0) Answer("AG_Init(" + std::to_string(code) + ")", a, 0);
    }
    for (int code : {0, 3, 4, 0x101, 0x8000, 0xFFFF}) {
      std::uint8_t v[4] = {9, 9, 9, 9};
      Answer<int>("AG_RegAcc(" + std::to_string(code) + ")",
                  x_.AG_RegAcc(static_cast<std::uint16_t>(code), 0, v), 3);
      Answer<int>("AG_AllReg(" + std::to_string(code) + ")",
                  x_.AG_AllReg(static_cast<std::uint16_t>(code), nullptr), 3);
      Answer(
          "AG_GoStep(" + std::to_string(code) + ")",
          x_.AG_GoStep(static_cast<std::uint16_t>(code == 3 || code == 4 ? 5 : code), 0, nullptr),
          0);
    }
    for (int code : {0, 1, 2, 3, 0x7FFF, 0xFFFF}) {
      std::uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
      Answer("AG_Serial", x_.AG_Serial(static_cast<std::uint16_t>(code), 0xFFFFFFFFu, 8, b), 0);
      Expect(b[0] == 1 && b[7] == 8, "AG_Serial changed the buffer");
      Answer("AG_Serial(null)",
             x_.AG_Serial(static_cast<std::uint16_t>(code), 0, 0xFFFFFFFFu, nullptr), 0);
    }
    for (std::int32_t code : {INT_MIN, -1, 0, 3, 4, INT_MAX}) {
      Answer("AG_HistFunc", x_.AG_HistFunc(code), 0);
      if (code != 1 && code != 2) Answer("DllUv3Cap", x_.DllUv3Cap(code), 0);
      if (code != 2)
        Answer("EnumUv351", x_.EnumUv351(reinterpret_cast<void*>(std::uintptr_t{8}), code), 0);
    }
  }

  void RegisterNulls() {
    Answer<int>("AG_RegAcc(1, null)", x_.AG_RegAcc(1, 0x500, nullptr), 0);
    Answer<int>("AG_RegAcc(2, null)", x_.AG_RegAcc(2, 0, nullptr), 0);
    std::uint8_t before[4] = {}, after[4] = {};
    x_.AG_RegAcc(1, 0, before);
    for (std::uint32_t n : {8u, 19u, 21u, 23u, 25u, 0x4FFu, 0x501u, 0xFFFFFFFFu}) {
      std::uint8_t v[4] = {0xCC, 0xCC, 0xCC, 0xCC};
      Answer<int>("AG_RegAcc(1, " + std::to_string(n) + ")", x_.AG_RegAcc(1, n, v), 0);
      Expect(v[0] == 0xCC && v[3] == 0xCC, "unlisted register " + std::to_string(n) + " was read");
      Answer<int>("AG_RegAcc(2, " + std::to_string(n) + ")", x_.AG_RegAcc(2, n, v), 0);
    }
    x_.AG_RegAcc(1, 0, after);
    Expect(before[0] == after[0], "a write of an unlisted register changed R0");
    // The register view with what a careless host may pass.
    Expect(g_view.get != nullptr && g_view.set != nullptr, "the register view was handed over");
    if (g_view.get == nullptr || g_view.set == nullptr) return;
    g_view.get(nullptr, 0);
    g_view.get(nullptr, static_cast<std::int32_t>(0x80000000u));
    g_view.get(nullptr, 0x40000000);
    Answer("view set(null, null)", g_view.set(nullptr, nullptr), 0);
    Answer("view set(item, null)", g_view.set(&g_view.items[0], nullptr), 0);
    RegisterItem foreign{};
    foreign.number = 0x999;
    std::uint8_t v = 1;
    g_view.get(&foreign, 0);
    Expect(foreign.valueText[0] == '\0', "a foreign item got a text");
    Answer("view set(foreign)", g_view.set(&foreign, &v), 0);
  }

  void Memory() {
    // Every space byte and some bank bytes, into buffers of exactly the
    // requested size (the sanitizers see any write past them).
    std::vector<std::uint32_t> addresses;
    for (std::uint32_t space = 0; space <= 0xFF; ++space)
      for (std::uint32_t bank : {0u, 1u, 0x80u, 0xFFu})
        addresses.push_back(space << 24 | bank << 16);
    // Every bank byte of the five spaces.
    for (std::uint32_t space : {kCode, kData, kIdata, kXdata, kPdata})
      for (std::uint32_t bank = 0; bank <= 0xFF; ++bank) addresses.push_back(space | bank << 16);
    for (std::uint32_t base : addresses) {
      {
        const std::uint32_t a = base | 0x40;
        std::vector<std::uint8_t> b(8, 0x77);
        AddressRecord r{a, 0, 0};
        const auto read = x_.AG_MemAcc(1, b.data(), &r, 8);
        Expect(read == 0 || read == 2, "read " + Hex(a) + " answered " + std::to_string(read));
        // CODE, XDATA and PDATA banks other than 0 have no shadow page: the
        // read answers 0 and copies nothing.
        const std::uint32_t space = a & 0xFF000000u, bank = (a >> 16) & 0xFF;
        if ((space == kCode || space == kXdata || space == kPdata) && bank != 0) {
          Expect(read == 0, "read " + Hex(a) + " without a page answered " + std::to_string(read));
          Expect(std::count(b.begin(), b.end(), 0x77) == 8,
                 "read " + Hex(a) + " without a page copied");
        }
        const auto write = x_.AG_MemAcc(2, b.data(), &r, 8);
        Expect(write == 0 || write == 5, "write " + Hex(a) + " answered " + std::to_string(write));
        AddressRecord att{a, 0, 8};
        Answer<int>("AG_MemAtt(2) " + Hex(a), x_.AG_MemAtt(2, 0, &att), 0);
      }
    }
    for (int code : {0, 5, 6, 0x100, 0xFFFF}) {
      std::uint8_t b[4];
      AddressRecord r{kData | 0x30, 0, 0};
      Answer<int>("AG_MemAcc(" + std::to_string(code) + ")",
                  x_.AG_MemAcc(static_cast<std::uint16_t>(code), b, &r, 4), 3);
      Answer<int>("AG_MemAtt(" + std::to_string(code) + ")",
                  x_.AG_MemAtt(static_cast<std::uint16_t>(code), 0, &r), 0);
    }
    // Nulls: no crash, a clean answer.
    AddressRecord r{kData | 0x30, 0, 4};
    Bounded("AG_MemAcc(null buffer)", [this, r]() mutable { x_.AG_MemAcc(1, nullptr, &r, 16); });
    Bounded("AG_MemAcc(2, null buffer)", [this, r]() mutable { x_.AG_MemAcc(2, nullptr, &r, 16); });
    std::uint8_t small[16];
    Bounded("AG_MemAcc(null record)", [this, &small] { x_.AG_MemAcc(1, small, nullptr, 16); });
    Bounded("AG_MemAtt(null record)", [this] {
      x_.AG_MemAtt(1, 0, nullptr);
      x_.AG_MemAtt(2, 0, nullptr);
    });
    // Lengths that run past the end of a space.
    struct Long {
      std::uint16_t code;
      std::uint32_t address;
      std::uint32_t length;
    };
    for (const Long& l :
         {Long{1, kData | 0xF0, 300}, Long{2, kIdata | 0xF0, 300}, Long{1, kPdata | 0xF8, 600},
          Long{1, kCode | 0xFFF0, 0x40}, Long{2, kXdata | 0xFFF0, 0x40}, Long{4, 0xFFF0, 0x10000},
          Long{1, kXdata, 0x20000}}) {
      std::vector<std::uint8_t> b(l.length, 0x11);
      AddressRecord rec{l.address, 0, 0};
      Bounded("AG_MemAcc long " + Hex(l.address), [this, l, &b, &rec] {
        const auto a = x_.AG_MemAcc(l.code, b.data(), &rec, l.length);
        Expect(a == 0, "long access " + Hex(l.address) + " answered " + std::to_string(a));
      });
    }
    // Set-attributes with a cell count up to 2^32-1 stays inside its page.
    for (std::uint32_t a : {kCode | 0xFFF0, kData | 0xF0, kXdata | 0x0002FFF0u}) {
      AddressRecord att{a, 0, 0xFFFFFFFFu};
      Bounded("AG_MemAtt(1) huge length " + Hex(a), [this, &att] {
        const auto answer = x_.AG_MemAtt(1, 3, &att);
        Expect(answer == 0, "set-attributes answered " + std::to_string(answer));
      });
    }
  }

  void Breakpoints() {
    // Null address and record for every code.
    for (int code = 0; code <= 12; ++code) {
      BreakpointRecord bp{};
      bp.flags = kBpEnabled;
      bp.address = kCode | 0x10;
      Bounded("breakpoints with nulls, code " + std::to_string(code), [this, code, &bp] {
        x_.AG_BreakFunc(static_cast<std::uint16_t>(code), 0, nullptr, &bp);
        std::uint32_t a = kCode | 0x10;
        x_.AG_BreakFunc(static_cast<std::uint16_t>(code), 0, &a, nullptr);
        x_.AG_BpInfo(static_cast<std::uint16_t>(code), nullptr);
      });
    }
    // Every bank byte of a CODE address: without a page the answers are 0
    // and 0x80000000.
    for (std::uint32_t bank = 1; bank <= 0xFF; ++bank) {
      std::uint32_t a = kCode | bank << 16 | 0x20;
      BreakpointRecord bp{};
      bp.flags = kBpEnabled;
      bp.address = a;
      if (x_.AG_BreakFunc(1, 0, &a, &bp) != nullptr) log_.Fail("AG_BreakFunc in bank " + Hex(a));
      if (x_.AG_BpInfo(1, &a) != static_cast<std::int32_t>(0x80000000u))
        log_.Fail("AG_BpInfo in bank " + Hex(a));
    }
    // A cyclic list: every walk must still end.
    BreakpointRecord ring[2]{};
    ring[0].next = &ring[1];
    ring[1].next = &ring[0];
    for (auto& r : ring) {
      r.flags = kBpEnabled;
      r.address = kCode | 0x30;
    }
    firstBreakpoint_ = &ring[0];
    Bounded("AG_BpInfo(5) on a cyclic list", [this] { x_.AG_BpInfo(5, nullptr); });
    Bounded("AG_BpInfo(6) on a cyclic list", [this] { x_.AG_BpInfo(6, nullptr); });
    if (execution_) {
      Bounded("AG_GoStep(2) on a cyclic list", [this] { x_.AG_GoStep(2, 2, nullptr); });
    }
    // A very long list: walked to its end.
    std::vector<BreakpointRecord> many(100000);
    for (std::size_t i = 0; i < many.size(); ++i) {
      many[i].next = i + 1 < many.size() ? &many[i + 1] : nullptr;
      many[i].flags = kBpEnabled;
      many[i].address = kCode | static_cast<std::uint32_t>(i & 0xFFFF);
    }
    firstBreakpoint_ = many.data();
    std::int32_t killed = 0;
    Bounded("AG_BpInfo(6) on 100000 records",
            [this, &killed] { killed = x_.AG_BpInfo(6, nullptr); });
    Answer("AG_BpInfo(6) on 100000 records", killed, 100000);
    firstBreakpoint_ = nullptr;
  }

  void Execution() {
    // Null until record, a huge step count stopped from here, and a go with
    // more armed breakpoints than the list holds.
    Bounded("AG_GoStep(3, null)", [this] { x_.AG_GoStep(3, 0, nullptr); });
    StoppedRun("AG_GoStep(2, 2^32-1)", 2, 0xFFFFFFFFu);
    std::vector<BreakpointRecord> many(3000);
    for (std::size_t i = 0; i < many.size(); ++i) {
      many[i].next = i + 1 < many.size() ? &many[i + 1] : nullptr;
      many[i].flags = kBpEnabled;
      many[i].address = kCode | static_cast<std::uint32_t>(0x100 + i);  // never reached
    }
    firstBreakpoint_ = many.data();
    StoppedRun("AG_GoStep(4) with 3000 breakpoints", 4, 0);
    firstBreakpoint_ = nullptr;
  }

  void StoppedRun(const std::string& what, std::uint16_t code, std::uint32_t count) {
    std::atomic<bool> done{false};
    std::thread runner([&] {
      x_.AG_GoStep(code, count, nullptr);
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    x_.AG_GoStep(1, 0, nullptr);
    const double t0 = ChildLog::NowMs();
    while (!done && ChildLog::NowMs() - t0 < kWatchdogMs)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    log_.Call(what.c_str(), ChildLog::NowMs() - t0);
    if (!done) {
      log_.Fail(what + " did not end after the stop request");
      log_.Finish();
    }
    runner.join();
  }

  // ---- after the exit notification ----------------------------------------
  void AfterExit() {
    Connect();
    Answer("AG_Init(0x40C)", x_.AG_Init(0x40C, nullptr), 0);
    std::uint8_t reg = 0;
    Answer<int>("AG_RegAcc after exit", x_.AG_RegAcc(1, 20, &reg), 0);
    Answer<int>("AG_AllReg after exit", x_.AG_AllReg(1, nullptr), 0);
    Answer("AG_HistFunc after exit", x_.AG_HistFunc(3), 0);
    if (memory_) {
      // No shadow pages: nothing is copied, the answer is 0.
      std::uint8_t b[8];
      std::memset(b, 0x5C, sizeof b);
      for (std::uint32_t a : {kData | 0x30, kXdata | 0x100, kCode}) {
        AddressRecord r{a, 0, 0};
        Answer<int>("AG_MemAcc after exit " + Hex(a), x_.AG_MemAcc(1, b, &r, 8), 0);
        Expect(b[0] == 0x5C && b[7] == 0x5C, "AG_MemAcc after exit copied into the buffer");
      }
      AddressRecord att{kCode | 0x10, 0, 1};
      Answer<int>("AG_MemAtt(2) after exit", x_.AG_MemAtt(2, 0, &att), 0);
      Expect(att.address == 0, "AG_MemAtt(2) after exit found a cell");
    }
    if (breakpoints_) {
      BreakpointRecord bp{};
      bp.flags = kBpEnabled;
      std::uint32_t a = kCode | 0x10;
      Expect(x_.AG_BreakFunc(1, 0, &a, &bp) == nullptr, "AG_BreakFunc after exit found a cell");
      Answer("AG_BpInfo(1) after exit", x_.AG_BpInfo(1, &a),
             static_cast<std::int32_t>(0x80000000u));
    }
    if (execution_) {
      // The link is closed: a step must come back, not poll a dead link.
      Bounded("AG_GoStep(2) after exit", [this] { x_.AG_GoStep(2, 1, nullptr); });
    }
    Answer("EnumUv351 after exit", x_.EnumUv351(nullptr, 2), 8051);
  }

  // ---- two threads at memory and registers while a third runs -------------
  void Concurrent() {
    Connect();
    if (!execution_) {
      log_.Note("skip", "execution control is not built yet");
      return;
    }
    std::atomic<bool> stop{false};
    std::atomic<int> badMemory{0}, badRegisters{0};
    std::thread memory([&] {
      std::uint8_t b[32];
      while (!stop) {
        AddressRecord r{kData | 0x30, 0, 0};
        const auto a = x_.AG_MemAcc(1, b, &r, sizeof b);
        AddressRecord w{kXdata | 0x80, 0, 0};
        const auto c = x_.AG_MemAcc(2, b, &w, 8);
        if ((a != 0 && a != 1) || (c != 0 && c != 1)) ++badMemory;
      }
    });
    std::thread registers([&] {
      while (!stop) {
        std::uint8_t v[4] = {};
        const auto a = x_.AG_RegAcc(1, 0x500, v);
        const auto b = x_.AG_AllReg(1, nullptr);
        if ((a != 0 && a != 1) || (b != 0 && b != 1)) ++badRegisters;
      }
    });
    for (int round = 0; round < 3; ++round) {
      StoppedRun("AG_GoStep(4) beside memory and register access", 4, 0);
    }
    stop = true;
    memory.join();
    registers.join();
    Answer("memory answers other than 0 or 1", badMemory.load(), 0);
    Answer("register answers other than 0 or 1", badRegisters.load(), 0);
  }

  static std::string Hex(std::uint32_t a) {
    char b[16];
    std::snprintf(b, sizeof b, "%08X", a);
    return b;
  }

  HostExports x_;
  ChildLog log_;
  std::uint32_t pcCell_ = 0;
  BreakpointRecord* firstBreakpoint_ = nullptr;
  bool memory_ = false, breakpoints_ = false, execution_ = false;
};

const bool kChildDispatch = [] {
  const char* program = ChildProgram();
  if (program == nullptr || std::strcmp(program, kProgram) != 0) return false;
  Hostile().Run(ChildArgument());
}();

// ---- parent side ------------------------------------------------------------

struct State {
  const char* name;
  bool withDatabase;
};

class HostileCalls : public ::testing::TestWithParam<State> {};

TEST_P(HostileCalls, AnswerOrRefuseCleanly) {
  const State& s = GetParam();
  ChildPlan plan{kProgram, s.name, "pod=1", 0, s.withDatabase, 120};
  const ChildOutcome o = RunHostChild(plan);
  const std::string skip = o.NoteValue("skip");
  ASSERT_TRUE(o.exited && o.exitStatus == 0) << o.Describe();
  for (const auto& f : o.failures) ADD_FAILURE() << f;
  std::cout << "[ hostile  ] " << s.name << ": built: " << o.NoteValue("built") << ", " << o.wallMs
            << " ms\n";
  if (!s.withDatabase) {
    // Exactly the start-up box, and the settings file untouched.
    const auto first = o.stderrText.find("KZ.MDB>");
    EXPECT_NE(first, std::string::npos) << o.stderrText;
    EXPECT_EQ(o.stderrText.find("kz51", o.stderrText.find('\n', first)), std::string::npos)
        << o.stderrText;
    EXPECT_EQ(o.settingsAfter, o.settingsBefore);
  }
  if (!skip.empty()) GTEST_SKIP() << skip;
}

INSTANTIATE_TEST_SUITE_P(States, HostileCalls,
                         ::testing::Values(State{"failed-startup", false},
                                           State{"before-init", true}, State{"connected", true},
                                           State{"after-exit", true}, State{"concurrent", true}),
                         [](const ::testing::TestParamInfo<State>& info) {
                           std::string n = info.param.name;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

}  // namespace
}  // namespace kz::e2e
