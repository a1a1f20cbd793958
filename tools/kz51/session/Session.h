#pragma once
// The debugging session: the one host of the driver library. It loads the
// driver, registers itself (window, message number, callback, breakpoint list
// anchor, current-PC cell), owns the host records, and offers connect, load,
// breakpoints, run control, registers and memory by space as plain values.
// Front ends (the command line, the DAP server) format the results; none of
// them calls the driver's exports itself.
//
// Threads: every member is called from one control thread, except Stop(),
// which may be called from any thread while a run is under way (the prompt's
// Ctrl-C, a DAP "pause"). A run is either blocking (Go, Step, ...) or started
// in the background with Start() and collected with Wait().
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "session/DriverLibrary.h"
#include "session/ProviderLibrary.h"
#include "symbols/IntelHex.h"
#include "symbols/Symbols.h"

namespace kz51 {

// A value or the sentence saying why there is none.
template <class T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  static Result Fail(std::string error) {
    Result r;
    r.error_ = std::move(error);
    return r;
  }
  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const T& operator*() const { return *value_; }
  T& operator*() { return *value_; }
  const T* operator->() const { return &*value_; }
  T* operator->() { return &*value_; }
  const std::string& error() const { return error_; }

 private:
  Result() = default;
  std::optional<T> value_;
  std::string error_;
};

struct Done {};  // the value of a result that carries nothing

enum class MemorySpace { Code, Data, Idata, Sfr, Xdata, Pdata };

// "code", "data", ...; and back (false for an unknown name).
const char* MemorySpaceName(MemorySpace space);
bool ParseMemorySpace(const std::string& name, MemorySpace& space);
// The highest offset of a space (0x7F for data, 0xFF for idata and pdata,
// 0x80..0xFF for sfr, 0xFFFF for code and xdata) and its lowest.
std::uint32_t MemorySpaceLow(MemorySpace space);
std::uint32_t MemorySpaceHigh(MemorySpace space);

enum class StopReason { Breakpoint, Step, Stopped, Until };
const char* StopReasonName(StopReason reason);

struct StopEvent {
  std::uint32_t pc = 0;  // 16-bit code address
  StopReason reason = StopReason::Stopped;
  int breakpoint = 0;                 // number of the breakpoint stopped at, or 0
  std::vector<std::string> commands;  // breakpoint command texts run on the way
};

struct ConnectInfo {
  int answer = 0;     // EnumUv351's answer: 8051 when connected
  std::string model;  // emulator model name from the saved settings
  int pod = 0;        // pod number (1-based slot)
  std::string podName;
};

// What DllUv3Cap(1) left behind. The driver keeps the choices clicked in
// its dialogs even when the dialog is cancelled, and saves them either way.
struct OptionsOutcome {
  bool accepted = false;  // OK; false for Cancel
  // What the saved settings hold anew: "emulator", "pod", "CPU", "crystal",
  // "pod settings".
  std::vector<std::string> changed;
  std::string model;  // emulator model name as saved
  int pod = 0;        // pod number as saved (1-based slot), 0 when none
  std::string podName;
  std::int32_t crystalHz = 0;  // as saved
};

struct LoadInfo {
  std::string file;
  std::size_t bytes = 0;
  std::uint32_t low = 0, high = 0;
  std::vector<std::string> symbolFiles;  // .map/.cdb/.rst/.lst read beside it
};

struct Breakpoint {
  int number = 0;
  std::uint32_t address = 0;
  std::string location;  // as resolved: "done", "main.c:27", "0x0062"
  bool enabled = true;
  int count = 1;           // acts on this hit (1: every hit)
  int remaining = 1;       // hits still to pass, as the driver keeps it
  std::string command;     // kz51 command text run when it acts, or empty
  bool temporary = false;  // deleted when the target stops at it
};

// The 8051 registers as the driver's register view shows them.
struct Registers {
  std::uint8_t r[8] = {};
  std::uint8_t a = 0, b = 0, sp = 0, psw = 0;
  std::uint16_t dptr = 0;
  std::uint16_t pc = 0;
};

// Register names `set` accepts: r0..r7, a, b, sp, dptr, pc, psw and the PSW
// flags p, f1, ov, rs, f0, ac, cy.
const std::vector<std::string>& RegisterNames();

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The pipe provider the driver is to use (the virtual emulator unless
  // chosen otherwise); takes effect at Open.
  void SetProvider(kzhost::Provider provider) { provider_ = provider; }
  kzhost::Provider provider() const { return provider_; }
  // Loads the chosen provider where needed and the driver library, resolves
  // the exports, registers this session as the host and initialises the
  // driver (AG_Init 0x100).
  Result<Done> Open(const std::string& driverPath);
  bool IsOpen() const { return open_; }
  // Exit notification; done by the destructor too.
  void Close();

  Result<ConnectInfo> Connect();     // EnumUv351(_, 2)
  Result<OptionsOutcome> Options();  // DllUv3Cap(1) and what it saved

  // Intel HEX into CODE, then the symbol files beside it.
  Result<LoadInfo> Load(const std::string& path);
  const Symbols& symbols() const { return symbols_; }
  Symbols& symbols() { return symbols_; }

  // Breakpoints: the host's linked list of breakpoint records.
  // A temporary breakpoint is deleted when a run stops at it.
  Result<Breakpoint> AddBreakpoint(std::uint32_t address, const std::string& location, int count,
                                   const std::string& command, bool temporary = false);
  Result<Done> DeleteBreakpoint(int number);
  Result<int> DeleteAllBreakpoints();  // answers how many were deleted
  Result<Done> EnableBreakpoint(int number, bool enable);
  std::vector<Breakpoint> Breakpoints() const;

  // Run control, blocking until the target stops. A breakpoint's command text
  // handed back by the driver is run through `SetCommandRunner`'s function
  // with the target stopped at that breakpoint, and the run then continues.
  Result<StopEvent> Go();
  Result<StopEvent> GoUntil(std::uint32_t address);
  Result<StopEvent> StepInstructions(std::uint32_t count);
  // One C line, into calls (instructions when no line is known at the PC).
  Result<StopEvent> StepLine();
  // One C line (or one instruction), over calls.
  Result<StopEvent> Next();
  // Run until the current function returns to its caller (the nearest
  // return address on the stack after a call of it; front ends with the C
  // model use GoUntilFrame with the frame's own return).
  Result<StopEvent> Finish();
  // Run until the PC reaches `address` with SP equal to `sp`: the return
  // into a given frame, passing over the same address reached by deeper
  // calls of a recursion.
  Result<StopEvent> GoUntilFrame(std::uint32_t address, std::uint8_t sp);
  // One instruction, over calls (a call runs to its return).
  Result<StopEvent> NextInstruction();
  // Run until `address` (reason Until) or until the current function returns
  // to its caller (reason Step). `Until` stops at `address` only in the
  // current function's frame or an outer one, `Advance` in any frame.
  Result<StopEvent> Advance(std::uint32_t address);
  Result<StopEvent> Until(std::uint32_t address);
  // Where the current function returns to, as a frame walk found it: the
  // caller's address and its SP there. The next Finish, Until or Advance
  // uses it (once); without it they look for the return address themselves.
  struct ReturnPoint {
    std::uint32_t address = 0;
    std::uint8_t sp = 0;
  };
  void SetReturnPoint(std::optional<ReturnPoint> point) { returnPoint_ = point; }
  // `next`, but a jump back (the end of a loop) goes on until a line after
  // the current one, or the function's return.
  Result<StopEvent> UntilNext();
  // Stepping by lines (StepLine, Next, UntilNext) and NextInstruction never
  // stop in an interrupt handler taken on the way: the handler runs to its
  // RETI (unless a breakpoint in it acts).

  // Background run: Start() returns at once, Wait() collects the stop.
  // UntilFrame's argument: the address in bits 0..15, SP in bits 16..23.
  enum class RunKind {
    Go,
    GoUntil,
    Step,
    StepLine,
    Next,
    Finish,
    NextInstruction,
    Advance,
    Until,
    UntilNext,
    UntilFrame
  };
  Result<Done> Start(RunKind kind, std::uint32_t argument = 0);
  // The same run in the foreground: returns at its stop.
  Result<StopEvent> Run(RunKind kind, std::uint32_t argument = 0);
  Result<StopEvent> Wait();
  // Waits at most `milliseconds`; empty when the run is still going.
  std::optional<Result<StopEvent>> WaitFor(int milliseconds);

  // Stops a run from any thread (AG_GoStep code 1). Fails when nothing runs.
  Result<Done> Stop();
  bool Running() const { return running_.load(); }

  // Reset notification: target state reset, PC to 0.
  Result<Done> Reset();

  Result<Registers> ReadRegisters();
  Result<Done> SetRegister(const std::string& name, std::uint32_t value);
  Result<std::uint32_t> Pc();

  Result<std::vector<std::uint8_t>> Read(MemorySpace space, std::uint32_t address,
                                         std::uint32_t length);
  Result<Done> Write(MemorySpace space, std::uint32_t address,
                     const std::vector<std::uint8_t>& bytes);

  // Decides whether a run that meets breakpoint `number` stops there (true)
  // or goes on as if it were not there (false): conditions and counts the
  // front end keeps. Called on the thread that runs the target (the worker
  // of a background run), with the target stopped and readable.
  void SetBreakpointFilter(std::function<bool(int number)> filter) {
    breakpointFilter_ = std::move(filter);
  }

  // Where a command text handed back by the driver (a breakpoint's command)
  // goes. Called on the control thread with the target stopped.
  void SetCommandRunner(std::function<void(const std::string&)> runner) {
    commandRunner_ = std::move(runner);
  }

  // Counters for caches of what the target holds: `Changes` moves with
  // every run, reset, load, connect and write through this session, `Runs`
  // only with runs, resets, loads and connects.
  std::uint64_t Changes() const { return changes_.load(); }
  std::uint64_t Runs() const { return runs_.load(); }

  // The driver's host callback, reached through the process's one session.
  void OnHostCallback(std::uint32_t code, void* argument);

 private:
  struct BreakpointSlot;
  Result<Done> RequireStopped() const;
  // Stepping helpers (Stepping.cpp).
  std::vector<std::uint32_t> NextPcs(std::uint32_t pc);
  Result<StopEvent> StepOverInterrupts(bool* detoured);
  Result<StopEvent> RunLines(RunKind kind);
  Result<StopEvent> RunToReturnOr(RunKind kind, std::uint32_t address);
  std::optional<std::uint32_t> ReturnAddress();
  std::uint8_t ReadDirect(std::uint8_t address);
  std::optional<std::uint32_t> ReadStackWord(std::uint8_t sp);
  BreakpointSlot* ArmHidden(std::uint32_t address);
  void Unlink(BreakpointSlot* slot);
  void DropTemporary(const Result<StopEvent>& stop);
  Result<StopEvent> RunBlocking(RunKind kind, std::uint32_t argument);
  Result<StopEvent> RunGo(int code, std::uint32_t until);
  Result<StopEvent> StepOnce();
  void DriverRun(std::uint16_t code, std::uint32_t count, kz::AddressRecord* until);
  Result<StopEvent> GoUntilOr(RunKind kind, std::uint32_t argument);
  StopEvent MakeStop(StopReason reason);
  int BreakpointAt(std::uint32_t address) const;
  bool StopsAt(int breakpoint);  // the filter's answer; true without one
  Result<StopEvent> UntilFrame(std::uint32_t address, std::uint8_t sp);
  bool StopRequested() const { return stopRequested_.load(); }
  Result<Done> CheckAccess(std::uint16_t answer, const char* what) const;
  std::uint8_t ReadCodeByte(std::uint32_t address);
  Result<Done> RefreshView();
  Result<Done> MemoryAccess(std::uint16_t code, MemorySpace space, std::uint32_t address,
                            std::uint8_t* buffer, std::uint32_t length);

  // The USB provider's count of failures, and the sentence of the last one
  // (0 and "" with the virtual emulator).
  unsigned ProviderFailures(std::string* sentence) const;
  // The result of an operation, with the provider's sentence when the link
  // failed while it ran (its failure count has moved past `before`).
  template <class T>
  Result<T> WithLinkFailure(Result<T> result, unsigned before, const char* during) const;

  kzhost::Provider provider_ = kzhost::Provider::Virtual;
  kzhost::UsbProviderExports usb_;
  kzhost::DriverExports drv_;
  bool open_ = false;
  Symbols symbols_;

  // Host records the driver reads and writes in place.
  kz::BreakpointRecord* breakpointHead_ = nullptr;
  std::uint32_t pcCell_ = 0;
  std::list<std::unique_ptr<BreakpointSlot>> breakpoints_;
  int nextBreakpoint_ = 1;
  // The register view: the driver's descriptor with our own copy of items.
  kz::RegisterGetFn viewGet_ = nullptr;
  kz::RegisterSetFn viewSet_ = nullptr;
  std::vector<kz::RegisterItem> viewItems_;

  std::optional<ReturnPoint> returnPoint_;
  std::function<void(const std::string&)> commandRunner_;
  std::function<bool(int)> breakpointFilter_;
  std::vector<std::string> handedBack_;  // command texts handed back during a run
  std::atomic<bool> inRun_{false};       // AG_GoStep codes 2..4 under way
  std::atomic<bool> running_{false};     // a run, blocking or background, is under way
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> stopWhileInCallback_{false};
  std::atomic<std::uint64_t> changes_{0};
  std::atomic<std::uint64_t> runs_{0};
  void Ran() {
    ++runs_;
    ++changes_;
  }
  std::mutex stopMutex_;  // orders Stop() against a driver run's start and end

  std::thread worker_;
  std::mutex workerMutex_;
  std::condition_variable workerDone_;
  std::optional<Result<StopEvent>> workerResult_;
};

}  // namespace kz51
