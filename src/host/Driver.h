#pragma once
// The driver: one object holding the whole driver state, composed of the
// subsystems. Library start-up makes the one process-wide instance with the
// real ports; tests make their own with fake ports.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/ClockCacheRecord.h"
#include "config/CpuDetails.h"
#include "config/DeviceDatabase.h"
#include "config/PodTable.h"
#include "config/TargetConfig.h"
#include "connect/ProgBar.h"
#include "host/AG_DLL_DEF.h"
#include "host/Registers.h"
#include "host/ShadowMemory.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"
#include "link/Transport.h"
#include "platform/System.h"
#include "platform/Ui.h"
#include "platform/UsbPipes.h"

namespace kz {

class ClockGenerator;
class MemoryTransfers;
class TargetPrep;
class Fmdu;
class Connection;
class ProjectOptions;
class TransferProgress;
class MemoryAccess;
class Breakpoints;
class ExecutionControl;

struct Ports {
  UsbPipes& usb;
  Ui& ui;
  System& system;
};

// What AG_Init registered.
struct HostRegistration {
  std::uintptr_t window = 0;
  std::uint32_t messageNumber = 0;
  HostCallback callback = nullptr;
  BreakpointRecord** breakpointAnchor = nullptr;
  std::uint32_t* pcCell = nullptr;
  std::uintptr_t kept309 = 0;
  std::uintptr_t kept30B = 0;
};

class Driver {
 public:
  static constexpr std::int32_t kArchitecture = 8051;

  explicit Driver(Ports ports);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Library start-up, in its fixed order. False when the device database
  // could not be loaded: then only its message box happened and every entry
  // point refuses.
  bool Startup();
  bool Started() const { return started_; }

  // ---- entry points ----
  std::int32_t AgInit(std::uint16_t code, std::uintptr_t value);
  std::uint16_t AgMemAcc(std::uint16_t code, std::uint8_t* buffer, AddressRecord* record,
                         std::uint32_t length);
  std::uint16_t AgMemAtt(std::uint16_t code, std::uint32_t attribute, AddressRecord* record);
  std::uint16_t AgRegAcc(std::uint16_t code, std::uint32_t number, void* value);
  std::uint16_t AgAllReg(std::uint16_t code, void* ignored);
  void* AgBreakFunc(std::uint16_t code, std::uint16_t ignored, std::uint32_t* address,
                    BreakpointRecord* record);
  std::int32_t AgBpInfo(std::uint16_t code, std::uint32_t* address);
  std::int32_t AgGoStep(std::uint16_t code, std::uint32_t count, AddressRecord* until);
  std::int32_t AgSerial(std::uint16_t code, std::uint32_t channel, std::uint32_t count,
                        void* buffer);
  std::int32_t AgHistFunc(std::int32_t code);
  std::int32_t DllUv3Cap(std::int32_t code);
  std::int32_t EnumUv351(void* first, std::int32_t code);

  // ---- state (public for the subsystems' tests) ----
  TargetConfig config{};
  std::string dataDirectory;
  DeviceDatabase db;
  CpuDetails details;
  PodTable pods;
  ClockCacheRecord clockCache{};  // working copy of the clock settings cache
  Transport link;
  EmulatorState state;
  CommandSet commands;
  TProgForm progress;
  ShadowMemory shadow;
  HostRegistration host;

  std::atomic<bool> abandon{false};
  std::atomic<bool> running{false};
  std::atomic<bool> stopRequest{false};
  std::array<bool, 7> features{};  // answers to the feature queries; never set
  std::uint16_t pc16 = 0;          // the 16-bit PC copy of execution control

  std::unique_ptr<MemoryTransfers> transfers;
  std::unique_ptr<ClockGenerator> clock;
  std::unique_ptr<TargetPrep> prep;
  std::unique_ptr<Fmdu> library;
  std::unique_ptr<Connection> connection;
  std::unique_ptr<ProjectOptions> projectDialog;
  std::unique_ptr<RegisterAccess> registers;
  std::unique_ptr<MemoryAccess> memory;
  std::unique_ptr<Breakpoints> breakpoints;
  std::unique_ptr<ExecutionControl> execution;

  // The plain functions the register view descriptor hands to the host; they
  // lead back to RegisterViewGet and RegisterViewSet of this driver.
  void SetRegisterViewFunctions(RegisterGetFn get, RegisterSetFn set);
  void RegisterViewGet(RegisterItem* item, std::int32_t selector);
  std::int32_t RegisterViewSet(RegisterItem* item, void* value);

  // How long AG_GoStep(1) waits for the end of the run it stopped.
  static constexpr std::uint32_t kStopWaitMs = 5000;
  // Replaces kStopWaitMs (tests use other limits).
  void SetStopWaitLimitMs(std::uint32_t ms) { stopWaitMs_ = ms; }

  // Run by every entry point but AG_Serial after its work.
  void CommonEnd();
  void TargetStateReset();
  void LoadSettingsAndClock();
  void Save();

 private:
  Ports ports_;
  bool started_ = false;
  // The two abandon conditions; cleared at start-up, the first also by each
  // link open and connection. Nothing in the driver raises them.
  std::array<std::atomic<bool>, 2> abandonConditions_{};
  // Keeps the host's memory, register, attribute and breakpoint requests
  // apart from the start and end of a run: a request either completes before
  // the running flag is set or sees it set. Taken before the run lock.
  std::recursive_mutex accessLock_;
  // Draws long memory transfers in the progress window.
  std::unique_ptr<TransferProgress> transferProgress_;
  // Runs (codes 2 to 4) numbered as they start and end, and the thread of the
  // one under way: a stop waits for the end of the run it stopped. The mutex
  // is taken last (after the access lock) and nothing is taken while held.
  std::mutex runEndMutex_;
  std::condition_variable runEnded_;
  std::uint64_t runsStarted_ = 0;  // guarded by runEndMutex_
  std::uint64_t runsEnded_ = 0;    // guarded by runEndMutex_
  std::thread::id runThread_;      // guarded by runEndMutex_
  std::uint32_t stopWaitMs_ = kStopWaitMs;
  RegisterGetFn viewGet_ = nullptr;
  RegisterSetFn viewSet_ = nullptr;
};

}  // namespace kz
