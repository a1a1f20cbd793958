#include "host/Driver.h"

#include <chrono>

#include "config/PrjOpt.h"
#include "config/Settings.h"
#include "connect/CY22393.h"
#include "connect/Connection.h"
#include "connect/FMDU.h"
#include "connect/FailureText.h"
#include "connect/umessage.h"
#include "host/Breakpoints.h"
#include "host/ExecutionControl.h"
#include "host/MemoryAccess.h"
#include "link/MemoryTransfers.h"
#include "link/TargetPrep.h"

namespace kz {

namespace {

// Draws long memory transfers in the progress window.
class ProgressWindowSink : public TransferProgress {
 public:
  explicit ProgressWindowSink(TProgForm& form) : form_(form) {}
  void Open(int steps, std::uint16_t messageNumber, const std::string& range) override {
    form_.Start(static_cast<std::uint16_t>(steps), GetMessage(messageNumber) + " " + range);
    form_.Show();
  }
  void Step() override { form_.Step(); }
  void Close() override {
    form_.Reset();
    form_.Hide();
  }

 private:
  TProgForm& form_;
};

// The command text handed to the host at initialisation and reset.
constexpr char kUnassembleHere[] = "U $\r";

}  // namespace

Driver::Driver(Ports ports)
    : pods(kPodSlots),
      link(ports.usb),
      commands(link, state, config),
      progress(ports.ui),
      ports_(ports) {}

Driver::~Driver() = default;

void Driver::LoadSettingsAndClock() {
  LoadSettings(config, dataDirectory);
  if (clock) clock->LoadFromRecord();
}

void Driver::Save() {
  SaveSettings(config, dataDirectory, ports_.system);
}

bool Driver::Startup() {
  // 1. The link; its outcome only sets the link-failed flag.
  link.Open();
  // 2. The data directory, from the host's command line.
  dataDirectory = FindDataDirectory(ports_.system.CommandLine(), ports_.system.PathSeparator());
  // 3. The device database; without it nothing else is made.
  if (!db.LoadDeviceDatabase(dataDirectory)) {
    ports_.ui.MessageBox(MessageKind::Information,
                         GetMessage(1680) + "  <" + dataDirectory + "KZ.MDB>");
    return false;
  }
  // 4. and 5. A clean driver state.
  abandon = false;
  running = false;
  stopRequest = false;
  features.fill(false);
  host = HostRegistration{};
  shadow.FreeAll();
  for (auto& c : abandonConditions_) c = false;
  // The subsystems above the link.
  transferProgress_ = std::make_unique<ProgressWindowSink>(progress);
  transfers = std::make_unique<MemoryTransfers>(commands, state, config, *transferProgress_);
  registers =
      std::make_unique<RegisterAccess>(state, *transfers, running, abandon, pc16, host.pcCell);
  registers->SetViewFunctions(viewGet_, viewSet_);
  memory = std::make_unique<MemoryAccess>(shadow, state, commands, *transfers, running, abandon,
                                          host.window, registers->RegistersWritten());
  breakpoints =
      std::make_unique<Breakpoints>(*memory, *transfers, host.breakpointAnchor, host.callback);
  prep = std::make_unique<TargetPrep>(commands, state, config, clockCache, details, *transfers);
  execution = std::make_unique<ExecutionControl>(
      commands, state, *transfers, *prep, *breakpoints, *registers, config, pods,
      ExecutionFlags{running, stopRequest}, pc16,
      [this] {
        std::lock_guard<std::recursive_mutex> hold(accessLock_);
        memory->InvalidateAfterRun();
      },
      [this] { CommonEnd(); });
  clock = std::make_unique<ClockGenerator>(config, clockCache, commands, state, progress,
                                           [this] { prep->PrepareTarget(); });
  projectDialog = std::make_unique<ProjectOptions>(ProjectDialogContext{
      ports_.ui, config, db, details, pods, dataDirectory, &GetMessage,
      [this] { clock->UpdateClockSettings(); },
      [this] {
        return link.LinkFailed() ? ConnectionFailureText(
                                       link.ErrorKindValue(),
                                       connection ? connection->PodDescription() : std::string())
                                 : std::string();
      }});
  library = std::make_unique<Fmdu>(commands, state, config, pods, ports_.ui, progress, *clock,
                                   *prep, dataDirectory);
  connection = std::make_unique<Connection>(commands, state, config, db, details, pods, progress,
                                            *clock, *library, *prep, *projectDialog, dataDirectory);
  // 6. The settings.
  LoadSettingsAndClock();
  // 7. The named event hosts may look for.
  ports_.system.CreateNamedEvent("WaitMS");
  // 8. and 9. The locks and the two main forms are members of this object.
  // 10. The xdata image, the code image and the memory map.
  state.AllocateImages();
  started_ = true;
  return true;
}

void Driver::CommonEnd() {
  const bool a = abandonConditions_[0].load() || abandonConditions_[1].load();
  abandon = a;
  if (a) {
    link.Close();
    shadow.FreeAll();
    ports_.system.PostHostMessage(host.window, host.messageNumber, 5, 0);
  }
}

void Driver::TargetStateReset() {
  prep->ResetTarget();
  auto& d = state.dataImage;
  d[0x81] = 0x07;
  d[0x80] = d[0x90] = d[0xA0] = d[0xB0] = 0xFF;
  d[0xD0] = d[0x82] = d[0x83] = 0;
  for (int a = 0x88; a <= 0x8D; ++a) d[a] = 0;
  d[0x98] = d[0x99] = d[0xA8] = d[0xB8] = d[0xE0] = d[0xF0] = 0;
  state.pcShadow = 0;
  pc16 = 0;
  registers->ResetPc();
  auto& s = state.shadows;
  s.ACC = s.PSW = s.DPH = s.DPL = s.TCON = s.T2CON = s.B = s.IE = 0;
}

std::int32_t Driver::AgInit(std::uint16_t code, std::uintptr_t value) {
  if (!started_) return 0;
  std::unique_lock<std::recursive_mutex> hold(accessLock_);
  const std::uint16_t group = code & 0xFF00;
  const std::uint8_t item = code & 0xFF;
  if (group == kInitGroup) {
    abandon = false;
    features.fill(false);
    shadow.SetDefaultAttributes();
    TargetStateReset();
    if (const HostCallback callback = host.callback; callback != nullptr) {
      // The host is called with no driver lock held: its callback may wait
      // for another of its threads that calls an entry point. The host
      // copies what it needs during the call.
      RegisterViewDescriptor view = registers->Descriptor();
      hold.unlock();
      callback(3, &view);
      callback(4, const_cast<char*>(kUnassembleHere));
      hold.lock();
    }
  } else if (group == kFeatureGroup) {
    std::int32_t answer = (item >= 1 && item <= 7) ? (features[item - 1] ? 1 : 0) : 0;
    CommonEnd();
    return answer;
  } else if (group == kRegistrationGroup) {
    switch (code) {
      case 0x309:
        host.kept309 = value;
        break;
      case 0x30A:
        host.window = value;
        ports_.ui.SetHostWindow(value);  // the dialogs are modal to it
        break;
      case 0x30B:
        host.kept30B = value;
        break;
      case 0x30E:
        host.breakpointAnchor = reinterpret_cast<BreakpointRecord**>(value);
        break;
      case 0x30F:
        host.pcCell = reinterpret_cast<std::uint32_t*>(value);
        break;
      case 0x311:
        host.messageNumber = static_cast<std::uint32_t>(value);
        break;
      case 0x312:
        host.callback = reinterpret_cast<HostCallback>(value);
        break;
      default:
        break;
    }
  } else if (group == kNotificationGroup) {
    if (code == 0x40C) {
      abandon = true;
      link.Close();
      shadow.FreeAll();
    } else if (code == 0x40D) {
      if (!abandon && host.window != 0) {
        TargetStateReset();
        if (const HostCallback callback = host.callback; callback != nullptr) {
          hold.unlock();
          callback(4, const_cast<char*>(kUnassembleHere));
          hold.lock();
        }
      }
    } else if (code == 0x410) {
      // A run in progress disarms its list at its end and empties it then.
      if (!running) breakpoints->ListEmpty();
    }
  }
  CommonEnd();
  return 0;
}

std::uint16_t Driver::AgMemAcc(std::uint16_t code, std::uint8_t* buffer, AddressRecord* record,
                               std::uint32_t length) {
  if (!started_) return MemoryAccess::kRefused;
  std::lock_guard<std::recursive_mutex> hold(accessLock_);
  const std::uint16_t answer = memory->MemAcc(code, buffer, record, length);
  if (answer != MemoryAccess::kRefused) CommonEnd();
  return answer;
}
std::uint16_t Driver::AgMemAtt(std::uint16_t code, std::uint32_t attribute, AddressRecord* record) {
  if (!started_) return 1;
  std::lock_guard<std::recursive_mutex> hold(accessLock_);
  const std::uint16_t answer = memory->MemAtt(code, attribute, record);
  if (answer == 0) CommonEnd();
  return answer;
}
std::uint16_t Driver::AgRegAcc(std::uint16_t code, std::uint32_t number, void* value) {
  if (!started_) return 1;
  std::lock_guard<std::recursive_mutex> hold(accessLock_);
  const std::uint16_t answer = registers->RegAcc(code, number, value);
  if (answer == 0 && code == 2) memory->InvalidateRegisterBytes();
  if (answer == 0) CommonEnd();
  return answer;
}
std::uint16_t Driver::AgAllReg(std::uint16_t code, void*) {
  if (!started_) return 1;
  std::lock_guard<std::recursive_mutex> hold(accessLock_);
  const std::uint16_t answer = registers->AllReg(code);
  if (answer == 0 && code == 2) memory->InvalidateRegisterBytes();
  if (answer == 0) CommonEnd();
  return answer;
}

void Driver::SetRegisterViewFunctions(RegisterGetFn get, RegisterSetFn set) {
  viewGet_ = get;
  viewSet_ = set;
  if (registers) registers->SetViewFunctions(get, set);
}

void Driver::RegisterViewGet(RegisterItem* item, std::int32_t selector) {
  if (!started_) return;
  std::lock_guard<std::recursive_mutex> hold(accessLock_);
  registers->ViewGet(item, selector);
}

std::int32_t Driver::RegisterViewSet(RegisterItem* item, void* value) {
  // A set refused for a run or the abandon flag ends without the common end.
  if (!started_ || abandon || running) return 0;
  std::lock_guard<std::recursive_mutex> hold(accessLock_);
  const std::int32_t answer = registers->ViewSet(item, value);
  if (answer != 0) memory->InvalidateRegisterBytes();
  CommonEnd();
  return answer;
}
void* Driver::AgBreakFunc(std::uint16_t code, std::uint16_t, std::uint32_t* address,
                          BreakpointRecord* record) {
  if (!started_ || abandon) return nullptr;
  std::lock_guard<std::recursive_mutex> hold(accessLock_);
  bool ended = false;
  void* answer = breakpoints->BreakFunc(code, address, record, ended);
  if (ended) CommonEnd();
  return answer;
}

std::int32_t Driver::AgBpInfo(std::uint16_t code, std::uint32_t* address) {
  if (!started_ || abandon) return 0;
  std::lock_guard<std::recursive_mutex> hold(accessLock_);
  bool ended = false;
  const std::int32_t answer = breakpoints->BpInfo(code, address, ended);
  if (ended) CommonEnd();
  return answer;
}

std::int32_t Driver::AgGoStep(std::uint16_t code, std::uint32_t count, AddressRecord* until) {
  if (!started_ || abandon) return 0;
  if (code == 1) {
    stopRequest = true;
    // The go or step this stop ends. A stop from a host callback of that run,
    // on the run's own thread, cannot wait for it.
    std::uint64_t stopped = 0;
    {
      std::lock_guard<std::mutex> hold(runEndMutex_);
      if (runsEnded_ != runsStarted_ && runThread_ != std::this_thread::get_id())
        stopped = runsStarted_;
    }
    const std::int32_t answer = execution->Stop();
    CommonEnd();
    // The PC cell and the running flag are the run's to settle, on its own
    // thread: the answer waits until they are, with no driver lock held (the
    // run's end takes them). The wait is bounded: a host whose callback on
    // the run's thread waits for this thread would otherwise never return.
    if (stopped != 0) {
      std::unique_lock<std::mutex> wait(runEndMutex_);
      runEnded_.wait_for(wait, std::chrono::milliseconds(stopWaitMs_),
                         [&] { return runsEnded_ >= stopped; });
    }
    return answer;
  }
  const bool runs = code >= 2 && code <= 4 && !(code == 3 && until == nullptr);
  std::uint64_t run = 0;
  if (runs) {
    {
      std::lock_guard<std::recursive_mutex> hold(accessLock_);
      // One run at a time: a second go while one runs does nothing.
      if (running) return 0;
      running = true;
      std::lock_guard<std::mutex> numbered(runEndMutex_);
      run = ++runsStarted_;
      runThread_ = std::this_thread::get_id();
    }
    execution->Run(code, count, until);
  }
  {
    std::lock_guard<std::recursive_mutex> hold(accessLock_);
    if (runs) running = false;
    CommonEnd();
    if (!abandon) {
      registers->Refresh();
      if (host.pcCell != nullptr) *host.pcCell = registers->Record().pc;
    }
  }
  if (runs) {
    {
      std::lock_guard<std::mutex> numbered(runEndMutex_);
      runsEnded_ = run;
      runThread_ = std::thread::id();
    }
    runEnded_.notify_all();
  }
  return 0;
}

std::int32_t Driver::AgSerial(std::uint16_t, std::uint32_t, std::uint32_t, void*) {
  return 0;
}

std::int32_t Driver::AgHistFunc(std::int32_t code) {
  if (!started_ || abandon) return 0;
  if (code == 3 && running) return 0;
  CommonEnd();
  return 0;
}

std::int32_t Driver::DllUv3Cap(std::int32_t code) {
  if (code == 2) return kArchitecture;
  if (code != 1 || !started_) return 0;
  LoadSettingsAndClock();
  const bool ok = projectDialog->RunProjectDialog();
  Save();
  return ok ? 1 : 0;
}

std::int32_t Driver::EnumUv351(void*, std::int32_t code) {
  if (code != 2 || !started_) return 0;
  abandonConditions_[0] = false;
  connection->Run();
  Save();
  if (link.LinkFailed()) {
    ports_.ui.MessageBox(MessageKind::Error, "请检查仿真器、仿真头及其设置!");
    return 0;
  }
  return kArchitecture;
}

}  // namespace kz
