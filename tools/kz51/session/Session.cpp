#include "session/Session.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "config/PodTable.h"
#include "config/TargetConfig.h"
#include "session/HostProgram.h"

namespace kz51 {

namespace {

// The driver's callback carries no context; one driver, so one session, is
// loaded per process, and the callback leads back to it through this.
std::atomic<Session*> theSession{nullptr};

std::uint32_t KZ_CDECL HostCallback(std::uint32_t code, void* argument) {
  if (Session* s = theSession.load()) s->OnHostCallback(code, argument);
  return 0;
}

constexpr std::uint32_t kCodeBase = 0xFF000000u;
constexpr std::int32_t kViewRefresh = static_cast<std::int32_t>(0x80000000u);

std::string Hex4(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04Xh", v & 0xFFFFu);
  return buf;
}

struct ViewName {
  const char* name;
  std::uint16_t item;
  std::uint32_t max;
};
// The register view's items by the names `set` and `regs` use.
constexpr ViewName kViewNames[] = {
    {"r0", 0, 0xFF},      {"r1", 1, 0xFF},      {"r2", 2, 0xFF},    {"r3", 3, 0xFF},
    {"r4", 4, 0xFF},      {"r5", 5, 0xFF},      {"r6", 6, 0xFF},    {"r7", 7, 0xFF},
    {"a", 0x10, 0xFF},    {"b", 0x11, 0xFF},    {"sp", 0x12, 0xFF}, {"dptr", 0x13, 0xFFFF},
    {"pc", 0x14, 0xFFFF}, {"psw", 0x100, 0xFF}, {"p", 0x101, 1},    {"f1", 0x102, 1},
    {"ov", 0x103, 1},     {"rs", 0x104, 3},     {"f0", 0x105, 1},   {"ac", 0x106, 1},
    {"cy", 0x107, 1},
};

}  // namespace

// ---- names ----------------------------------------------------------------

const char* MemorySpaceName(MemorySpace space) {
  switch (space) {
    case MemorySpace::Code:
      return "code";
    case MemorySpace::Data:
      return "data";
    case MemorySpace::Idata:
      return "idata";
    case MemorySpace::Sfr:
      return "sfr";
    case MemorySpace::Xdata:
      return "xdata";
    case MemorySpace::Pdata:
      return "pdata";
  }
  return "?";
}

bool ParseMemorySpace(const std::string& name, MemorySpace& space) {
  for (MemorySpace s : {MemorySpace::Code, MemorySpace::Data, MemorySpace::Idata, MemorySpace::Sfr,
                        MemorySpace::Xdata, MemorySpace::Pdata}) {
    if (name == MemorySpaceName(s)) {
      space = s;
      return true;
    }
  }
  return false;
}

std::uint32_t MemorySpaceLow(MemorySpace space) {
  return space == MemorySpace::Sfr ? 0x80 : 0;
}

std::uint32_t MemorySpaceHigh(MemorySpace space) {
  switch (space) {
    case MemorySpace::Data:
      return 0x7F;
    case MemorySpace::Idata:
    case MemorySpace::Sfr:
    case MemorySpace::Pdata:
      return 0xFF;
    default:
      return 0xFFFF;
  }
}

const char* StopReasonName(StopReason reason) {
  switch (reason) {
    case StopReason::Breakpoint:
      return "breakpoint";
    case StopReason::Step:
      return "step";
    case StopReason::Stopped:
      return "stopped";
    case StopReason::Until:
      return "until";
  }
  return "?";
}

const std::vector<std::string>& RegisterNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const auto& v : kViewNames) n.emplace_back(v.name);
    return n;
  }();
  return names;
}

// ---- lifetime -------------------------------------------------------------

struct Session::BreakpointSlot {
  kz::BreakpointRecord record{};
  Breakpoint info;  // number 0: armed by a run for itself, never shown
  std::string commandText;
};

Session::Session() = default;

Session::~Session() {
  Close();
}

Result<Done> Session::Open(const std::string& driverPath) {
  if (open_) return Result<Done>::Fail("the driver is already loaded");
  std::string error;
  if (!kzhost::PrepareProvider(provider_, usb_, error)) return Result<Done>::Fail(error);
  if (!kzhost::LoadDriver(driverPath, drv_, error)) return Result<Done>::Fail(error);
  Session* expected = nullptr;
  if (!theSession.compare_exchange_strong(expected, this))
    return Result<Done>::Fail("another session already drives the driver in this process");
  open_ = true;
  // Registration: a window (any non-zero value: memory access refuses to
  // work without one), the message number, the callback, the breakpoint list
  // anchor and the current-PC cell.
  drv_.AG_Init(0x30A, reinterpret_cast<void*>(static_cast<std::uintptr_t>(1)));
  drv_.AG_Init(0x311, reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x8000)));
  drv_.AG_Init(0x312, reinterpret_cast<void*>(&HostCallback));
  drv_.AG_Init(0x30E, &breakpointHead_);
  drv_.AG_Init(0x30F, &pcCell_);
  drv_.AG_Init(0x100, nullptr);
  return Done{};
}

void Session::Close() {
  if (!open_) return;
  if (running_.load()) {
    Stop();
    Wait();
  }
  if (worker_.joinable()) worker_.join();
  drv_.AG_Init(0x40C, nullptr);
  open_ = false;
  theSession.store(nullptr);
}

void Session::OnHostCallback(std::uint32_t code, void* argument) {
  if (code == 3 && argument != nullptr) {
    const auto* view = static_cast<const kz::RegisterViewDescriptor*>(argument);
    viewGet_ = view->get;
    viewSet_ = view->set;
    viewItems_.assign(view->items, view->items + view->itemCount);
  } else if (code == 4 && argument != nullptr && inRun_.load()) {
    // A breakpoint's command text. It needs the target stopped to run, so
    // the run is stopped here, on its own thread, and continued afterwards.
    handedBack_.emplace_back(static_cast<const char*>(argument));
    if (commandRunner_ && !stopWhileInCallback_.exchange(true)) drv_.AG_GoStep(1, 0, nullptr);
  }
  // Outside a run the driver hands over "U $" (show the code at the PC) at
  // initialisation and reset; the front ends show the PC themselves.
}

// ---- checks ---------------------------------------------------------------

Result<Done> Session::RequireStopped() const {
  if (!open_) return Result<Done>::Fail("no driver is loaded");
  if (running_.load())
    return Result<Done>::Fail("the target is running; stop it first (stop) or wait for it");
  return Done{};
}

Result<Done> Session::CheckAccess(std::uint16_t answer, const char* what) const {
  switch (answer) {
    case 0:
      return Done{};
    case 1:
      return Result<Done>::Fail(std::string("the driver refused to ") + what +
                                " (it reports the target running)");
    case 2:
      return Result<Done>::Fail(std::string("the driver could not ") + what + " (read failed)");
    case 5:
      return Result<Done>::Fail(std::string("the driver could not ") + what + " (write failed)");
    default:
      return Result<Done>::Fail(std::string("the driver does not know how to ") + what);
  }
}

// ---- connect, options, load ---------------------------------------------

unsigned Session::ProviderFailures(std::string* sentence) const {
  if (usb_.failure == nullptr) return 0;
  char text[1024] = "";
  const unsigned count = usb_.failure(text, sizeof text);
  if (sentence != nullptr) *sentence = text;
  return count;
}

template <class T>
Result<T> Session::WithLinkFailure(Result<T> result, unsigned before, const char* during) const {
  std::string why;
  if (ProviderFailures(&why) == before) return result;
  return Result<T>::Fail(std::string("the link to the emulator failed ") + during + ": " + why);
}

Result<ConnectInfo> Session::Connect() {
  if (auto r = RequireStopped(); !r) return Result<ConnectInfo>::Fail(r.error());
  Ran();
  ConnectInfo info;
  const unsigned failures = ProviderFailures(nullptr);
  info.answer = drv_.EnumUv351(nullptr, 2);
  std::string why;
  if (info.answer != 8051 && ProviderFailures(&why) != failures)
    return Result<ConnectInfo>::Fail("no emulator answered: " + why);
  if (info.answer != 8051)
    return Result<ConnectInfo>::Fail(
        "no emulator answered (check the USB cable, the emulator, the pod and the settings)");
  // Initialise again, now that the emulator is there: target reset and the
  // register view from the connected target.
  drv_.AG_Init(0x100, nullptr);
  // What was found is in the settings the driver saved.
  std::ifstream in(HostProgramDirectory() + "ZOLTKEIL.DSK", std::ios::binary);
  std::uint8_t rec[264] = {};
  if (in.read(reinterpret_cast<char*>(rec), sizeof rec)) {
    auto i32 = [&](int at) {
      return static_cast<std::int32_t>(rec[at] | (rec[at + 1] << 8) | (rec[at + 2] << 16) |
                                       (static_cast<std::uint32_t>(rec[at + 3]) << 24));
    };
    const std::int32_t model = i32(256), pod = i32(260);
    if (model >= 0 && model < kz::kEmulatorModelCount)
      info.model = kz::kEmulatorModels[static_cast<std::size_t>(model)].ModelName;
    if (pod >= 0 && pod < kz::kPodSlotCount) {
      info.pod = pod + 1;
      info.podName = kz::kPodSlots[static_cast<std::size_t>(pod)].PodName;
    }
  }
  return info;
}

namespace {

// The saved settings; a missing or short file reads as zeros.
kz::TargetConfig ReadSavedSettings() {
  kz::TargetConfig record{};
  std::ifstream in(kz51::HostProgramDirectory() + "ZOLTKEIL.DSK", std::ios::binary);
  in.read(reinterpret_cast<char*>(record.Bytes()), sizeof record);
  return record;
}

}  // namespace

Result<OptionsOutcome> Session::Options() {
  if (auto r = RequireStopped(); !r) return Result<OptionsOutcome>::Fail(r.error());
  const kz::TargetConfig before = ReadSavedSettings();
  OptionsOutcome o;
  o.accepted = drv_.DllUv3Cap(1) == 1;
  const kz::TargetConfig after = ReadSavedSettings();
  auto differs = [&](std::size_t at, std::size_t length) {
    return std::memcmp(before.Bytes() + at, after.Bytes() + at, length) != 0;
  };
  if (differs(offsetof(kz::TargetConfig, EmulatorIndex), 4)) o.changed.emplace_back("emulator");
  if (differs(offsetof(kz::TargetConfig, PodIndex), 4)) o.changed.emplace_back("pod");
  if (differs(offsetof(kz::TargetConfig, CpuSelection), 4)) o.changed.emplace_back("CPU");
  if (differs(offsetof(kz::TargetConfig, CrystalHz), 4)) o.changed.emplace_back("crystal");
  // The option bytes and the switches of the pod's option dialog.
  if (differs(offsetof(kz::TargetConfig, CpuOptionBytes), sizeof before.CpuOptionBytes) ||
      differs(offsetof(kz::TargetConfig, SixClockMode), 7))
    o.changed.emplace_back("pod settings");
  const std::int32_t model = after.EmulatorIndex, pod = after.PodIndex;
  if (model >= 0 && model < kz::kEmulatorModelCount)
    o.model = kz::kEmulatorModels[static_cast<std::size_t>(model)].ModelName;
  if (pod >= 0 && pod < kz::kPodSlotCount) {
    o.pod = pod + 1;
    o.podName = kz::kPodSlots[static_cast<std::size_t>(pod)].PodName;
  }
  o.crystalHz = after.CrystalHz;
  return o;
}

Result<LoadInfo> Session::Load(const std::string& path) {
  if (auto r = RequireStopped(); !r) return Result<LoadInfo>::Fail(r.error());
  std::ifstream in(path, std::ios::binary);
  if (!in) return Result<LoadInfo>::Fail("cannot open " + path);
  std::stringstream ss;
  ss << in.rdbuf();
  HexImage image;
  std::string error;
  if (!ParseIntelHex(ss.str(), path, image, error)) return Result<LoadInfo>::Fail(error);
  if (image.ByteCount() == 0) return Result<LoadInfo>::Fail(path + ": holds no data");
  if (image.High() > 0xFFFF) {
    char high[16];
    std::snprintf(high, sizeof high, "%Xh", image.High());
    return Result<LoadInfo>::Fail(path + ": data up to " + high +
                                  " lies beyond the 64 KB code space");
  }
  Ran();
  for (auto& seg : image.segments) {
    kz::AddressRecord rec{kCodeBase | seg.address, 0, 0};
    const auto answer =
        drv_.AG_MemAcc(3, seg.bytes.data(), &rec, static_cast<std::uint32_t>(seg.bytes.size()));
    if (auto r = CheckAccess(answer, ("write code at " + Hex4(seg.address)).c_str()); !r)
      return Result<LoadInfo>::Fail(r.error());
  }
  LoadInfo info;
  info.file = path;
  info.bytes = image.ByteCount();
  info.low = image.Low();
  info.high = image.High();
  info.symbolFiles = symbols_.LoadBeside(path);
  return info;
}

// ---- breakpoints ------------------------------------------------------------

Result<Breakpoint> Session::AddBreakpoint(std::uint32_t address, const std::string& location,
                                          int count, const std::string& command, bool temporary) {
  if (auto r = RequireStopped(); !r) return Result<Breakpoint>::Fail(r.error());
  if (address > 0xFFFF)
    return Result<Breakpoint>::Fail("address " + Hex4(address) + " is outside the code space");
  if (count < 1) return Result<Breakpoint>::Fail("a breakpoint count must be 1 or more");
  for (const auto& s : breakpoints_)
    if (s->info.address == address)
      return Result<Breakpoint>::Fail("breakpoint " + std::to_string(s->info.number) +
                                      " is already at " + Hex4(address));
  auto slot = std::make_unique<BreakpointSlot>();
  slot->commandText = command;
  kz::BreakpointRecord& rec = slot->record;
  rec.next = nullptr;
  rec.flags = kz::kBpEnabled;  // kind 0: execution breakpoint
  rec.address = kCodeBase | address;
  rec.remainingCount = count;
  rec.initialCount = count;
  rec.commandText = command.empty() ? nullptr : slot->commandText.c_str();
  std::uint32_t addr32 = rec.address;
  if (drv_.AG_BreakFunc(1, 0, &addr32, &rec) == nullptr)
    return Result<Breakpoint>::Fail("the driver did not accept a breakpoint at " + Hex4(address));
  // Appended at the end of the host's list, which the driver walks.
  kz::BreakpointRecord** link = &breakpointHead_;
  while (*link != nullptr) link = &(*link)->next;
  *link = &rec;
  slot->info = {nextBreakpoint_++, address, location, true, count, count, command, temporary};
  breakpoints_.push_back(std::move(slot));
  return breakpoints_.back()->info;
}

Session::BreakpointSlot* Session::ArmHidden(std::uint32_t address) {
  auto slot = std::make_unique<BreakpointSlot>();
  kz::BreakpointRecord& rec = slot->record;
  rec.flags = kz::kBpEnabled;
  rec.address = kCodeBase | (address & 0xFFFFu);
  rec.remainingCount = 1;
  rec.initialCount = 1;
  std::uint32_t addr32 = rec.address;
  if (drv_.AG_BreakFunc(1, 0, &addr32, &rec) == nullptr) return nullptr;
  kz::BreakpointRecord** link = &breakpointHead_;
  while (*link != nullptr) link = &(*link)->next;
  *link = &rec;
  slot->info.address = address & 0xFFFFu;
  slot->info.number = 0;
  breakpoints_.push_back(std::move(slot));
  return breakpoints_.back().get();
}

void Session::Unlink(BreakpointSlot* slot) {
  kz::BreakpointRecord* rec = &slot->record;
  for (kz::BreakpointRecord** link = &breakpointHead_; *link != nullptr; link = &(*link)->next) {
    if (*link == rec) {
      *link = rec->next;
      break;
    }
  }
  std::uint32_t addr32 = rec->address;
  drv_.AG_BreakFunc(2, 0, &addr32, rec);
  breakpoints_.remove_if([slot](const auto& s) { return s.get() == slot; });
}

void Session::DropTemporary(const Result<StopEvent>& stop) {
  if (!stop || stop->reason != StopReason::Breakpoint || stop->breakpoint == 0) return;
  for (const auto& s : breakpoints_) {
    if (s->info.number == stop->breakpoint && s->info.temporary) {
      Unlink(s.get());
      return;
    }
  }
}

Result<Done> Session::DeleteBreakpoint(int number) {
  if (auto r = RequireStopped(); !r) return r;
  for (const auto& s : breakpoints_) {
    if (s->info.number != number || number == 0) continue;
    Unlink(s.get());
    return Done{};
  }
  return Result<Done>::Fail("no breakpoint " + std::to_string(number));
}

Result<int> Session::DeleteAllBreakpoints() {
  if (auto r = RequireStopped(); !r) return Result<int>::Fail(r.error());
  int n = 0;
  while (!breakpoints_.empty()) {
    DeleteBreakpoint(breakpoints_.front()->info.number);
    ++n;
  }
  return n;
}

Result<Done> Session::EnableBreakpoint(int number, bool enable) {
  if (auto r = RequireStopped(); !r) return r;
  for (auto& s : breakpoints_) {
    if (s->info.number != number) continue;
    kz::BreakpointRecord& rec = s->record;
    rec.flags = enable ? (rec.flags | kz::kBpEnabled) : (rec.flags & ~kz::kBpEnabled);
    std::uint32_t addr32 = rec.address;
    // Code 1 sets the break marker or, for a disabled record, the disabled one.
    drv_.AG_BreakFunc(1, 0, &addr32, &rec);
    s->info.enabled = enable;
    return Done{};
  }
  return Result<Done>::Fail("no breakpoint " + std::to_string(number));
}

std::vector<Breakpoint> Session::Breakpoints() const {
  std::vector<Breakpoint> out;
  for (const auto& s : breakpoints_) {
    if (s->info.number == 0) continue;
    Breakpoint b = s->info;
    b.remaining = s->record.remainingCount;
    out.push_back(std::move(b));
  }
  return out;
}

int Session::BreakpointAt(std::uint32_t address) const {
  for (const auto& s : breakpoints_)
    if (s->info.number != 0 && s->info.enabled && s->info.address == address) return s->info.number;
  return 0;
}

// ---- run control ------------------------------------------------------------

StopEvent Session::MakeStop(StopReason reason) {
  StopEvent e;
  e.pc = pcCell_ & 0xFFFFu;
  e.reason = reason;
  e.breakpoint = BreakpointAt(e.pc);
  return e;
}

Result<StopEvent> Session::RunGo(int code, std::uint32_t until) {
  std::vector<std::string> ran;
  for (;;) {
    handedBack_.clear();
    stopWhileInCallback_ = false;
    kz::AddressRecord rec{kCodeBase | (until & 0xFFFFu), 0, 0};
    DriverRun(static_cast<std::uint16_t>(code), 0, code == 3 ? &rec : nullptr);
    if (StopRequested()) break;
    if (stopWhileInCallback_.load()) {
      // Stopped to run breakpoint commands: run them, then carry on.
      // The target is stopped while they run, so they may read and write it.
      running_ = false;
      Ran();  // a new stop: what the model read before is stale
      for (const auto& text : handedBack_) {
        ran.push_back(text);
        if (commandRunner_) commandRunner_(text);
      }
      running_ = true;
      if (StopRequested()) break;
      continue;
    }
    // A breakpoint whose condition does not hold: the run goes on.
    const std::uint32_t at = pcCell_ & 0xFFFFu;
    const int bp = BreakpointAt(at);
    if (bp != 0 && !(code == 3 && at == (until & 0xFFFFu)) && !StopsAt(bp) && !StopRequested())
      continue;
    break;
  }
  StopReason reason = StopReason::Stopped;
  const std::uint32_t pc = pcCell_ & 0xFFFFu;
  if (StopRequested()) {
    reason = StopReason::Stopped;
  } else if (code == 3 && pc == (until & 0xFFFFu)) {
    reason = StopReason::Until;
  } else if (BreakpointAt(pc) != 0) {
    reason = StopReason::Breakpoint;
  }
  StopEvent e = MakeStop(reason);
  e.commands = std::move(ran);
  return e;
}

void Session::DriverRun(std::uint16_t code, std::uint32_t count, kz::AddressRecord* until) {
  {
    // A stop that came before the run started ends it here; one that comes
    // while it runs goes to the driver (Stop() takes the same lock).
    std::lock_guard<std::mutex> lock(stopMutex_);
    if (StopRequested()) return;
    inRun_ = true;
  }
  drv_.AG_GoStep(code, count, until);
  std::lock_guard<std::mutex> lock(stopMutex_);
  inRun_ = false;
}

Result<StopEvent> Session::StepOnce() {
  DriverRun(2, 1, nullptr);
  return MakeStop(StopRequested() ? StopReason::Stopped : StopReason::Step);
}

std::uint8_t Session::ReadCodeByte(std::uint32_t address) {
  std::uint8_t b = 0;
  kz::AddressRecord rec{kCodeBase | (address & 0xFFFFu), 0, 0};
  drv_.AG_MemAcc(1, &b, &rec, 1);
  return b;
}

Result<StopEvent> Session::RunBlocking(RunKind kind, std::uint32_t argument) {
  switch (kind) {
    case RunKind::Go:
      return RunGo(4, 0);
    case RunKind::GoUntil:
      return RunGo(3, argument);
    case RunKind::Step: {
      DriverRun(2, argument, nullptr);
      return MakeStop(StopRequested() ? StopReason::Stopped : StopReason::Step);
    }
    case RunKind::StepLine:
    case RunKind::Next:
    case RunKind::UntilNext:
      return RunLines(kind);
    case RunKind::NextInstruction: {
      const std::uint32_t pc = pcCell_ & 0xFFFFu;
      const std::uint8_t op = ReadCodeByte(pc);
      if (op == 0x12 || (op & 0x1F) == 0x11) {
        auto e = RunGo(3, (pc + (op == 0x12 ? 3u : 2u)) & 0xFFFFu);
        if (e && e->reason == StopReason::Until) e->reason = StopReason::Step;
        return e;
      }
      // Back where an interrupt came: the instruction is still to run.
      for (int i = 0; i < 100; ++i) {
        bool detoured = false;
        auto e = StepOverInterrupts(&detoured);
        if (!e || e->reason != StopReason::Step || !detoured || (pcCell_ & 0xFFFFu) != pc) return e;
      }
      return MakeStop(StopReason::Step);
    }
    case RunKind::Finish:
    case RunKind::Advance:
    case RunKind::Until:
      return RunToReturnOr(kind, argument);
    case RunKind::UntilFrame:
      return UntilFrame(argument & 0xFFFFu, static_cast<std::uint8_t>(argument >> 16));
  }
  return Result<StopEvent>::Fail("unknown run");
}

Result<StopEvent> Session::Go() {
  return GoUntilOr(RunKind::Go, 0);
}
Result<StopEvent> Session::GoUntil(std::uint32_t address) {
  return GoUntilOr(RunKind::GoUntil, address);
}
Result<StopEvent> Session::StepInstructions(std::uint32_t count) {
  return GoUntilOr(RunKind::Step, count);
}
Result<StopEvent> Session::StepLine() {
  return GoUntilOr(RunKind::StepLine, 0);
}
Result<StopEvent> Session::Next() {
  return GoUntilOr(RunKind::Next, 0);
}
Result<StopEvent> Session::Finish() {
  return GoUntilOr(RunKind::Finish, 0);
}
Result<StopEvent> Session::GoUntilFrame(std::uint32_t address, std::uint8_t sp) {
  return GoUntilOr(RunKind::UntilFrame, (address & 0xFFFFu) | (std::uint32_t{sp} << 16));
}

Result<StopEvent> Session::UntilFrame(std::uint32_t address, std::uint8_t sp) {
  for (;;) {
    auto e = RunGo(3, address);
    if (!e || e->reason != StopReason::Until) return e;
    kz::AddressRecord spRec{0xF0000081u, 0, 0};
    std::uint8_t now = 0;
    if (drv_.AG_MemAcc(1, &now, &spRec, 1) != 0) return Result<StopEvent>::Fail("cannot read SP");
    if (now == sp) {
      e->reason = StopReason::Step;
      return e;
    }
    // A deeper call of the same function returned to the same address: on
    // past it, then on to the next arrival.
    auto past = StepOnce();
    if (!past || past->reason == StopReason::Stopped || StopRequested()) return past;
  }
}

bool Session::StopsAt(int breakpoint) {
  if (!breakpointFilter_) return true;
  running_ = false;
  Ran();
  const bool stop = breakpointFilter_(breakpoint);
  running_ = true;
  return stop;
}

Result<StopEvent> Session::NextInstruction() {
  return GoUntilOr(RunKind::NextInstruction, 0);
}
Result<StopEvent> Session::Advance(std::uint32_t address) {
  return GoUntilOr(RunKind::Advance, address);
}
Result<StopEvent> Session::Until(std::uint32_t address) {
  return GoUntilOr(RunKind::Until, address);
}
Result<StopEvent> Session::UntilNext() {
  return GoUntilOr(RunKind::UntilNext, 0);
}

Result<StopEvent> Session::Run(RunKind kind, std::uint32_t argument) {
  return GoUntilOr(kind, argument);
}

Result<StopEvent> Session::GoUntilOr(RunKind kind, std::uint32_t argument) {
  if (auto r = RequireStopped(); !r) return Result<StopEvent>::Fail(r.error());
  if (worker_.joinable()) worker_.join();
  stopRequested_ = false;
  Ran();
  running_ = true;
  const unsigned failures = ProviderFailures(nullptr);
  auto e = WithLinkFailure(RunBlocking(kind, argument), failures, "during the run");
  running_ = false;
  DropTemporary(e);
  return e;
}

Result<Done> Session::Start(RunKind kind, std::uint32_t argument) {
  if (auto r = RequireStopped(); !r) return r;
  if (worker_.joinable()) worker_.join();
  {
    std::lock_guard<std::mutex> lock(workerMutex_);
    workerResult_.reset();
  }
  stopRequested_ = false;
  Ran();
  running_ = true;
  const unsigned failures = ProviderFailures(nullptr);
  worker_ = std::thread([this, kind, argument, failures] {
    auto e = WithLinkFailure(RunBlocking(kind, argument), failures, "during the run");
    std::lock_guard<std::mutex> lock(workerMutex_);
    workerResult_ = std::move(e);
    running_ = false;
    workerDone_.notify_all();
  });
  return Done{};
}

std::optional<Result<StopEvent>> Session::WaitFor(int milliseconds) {
  std::unique_lock<std::mutex> lock(workerMutex_);
  if (!worker_.joinable()) return Result<StopEvent>::Fail("no run was started in the background");
  auto ready = [this] { return workerResult_.has_value(); };
  if (milliseconds < 0) {
    workerDone_.wait(lock, ready);
  } else if (!workerDone_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
    return std::nullopt;
  }
  auto result = std::move(*workerResult_);
  workerResult_.reset();
  lock.unlock();
  worker_.join();
  DropTemporary(result);
  return result;
}

Result<StopEvent> Session::Wait() {
  return *WaitFor(-1);
}

Result<Done> Session::Stop() {
  if (!open_) return Result<Done>::Fail("no driver is loaded");
  if (!running_.load()) return Result<Done>::Fail("the target is not running");
  std::lock_guard<std::mutex> lock(stopMutex_);
  stopRequested_ = true;
  // Between two driver calls of a run (C-line stepping) the run's own loop
  // sees the request; the driver only hears of stops while it runs.
  if (inRun_.load()) drv_.AG_GoStep(1, 0, nullptr);
  return Done{};
}

Result<Done> Session::Reset() {
  if (auto r = RequireStopped(); !r) return r;
  Ran();
  drv_.AG_Init(0x40D, nullptr);
  std::uint32_t pc = 0;
  if (drv_.AG_RegAcc(1, 0x500, &pc) == 0) pcCell_ = pc;
  return Done{};
}

// ---- registers --------------------------------------------------------------

Result<Done> Session::RefreshView() {
  if (auto r = RequireStopped(); !r) return r;
  if (viewGet_ == nullptr || viewItems_.empty())
    return Result<Done>::Fail("the driver handed over no register view");
  viewGet_(&viewItems_[0], kViewRefresh);
  for (auto& item : viewItems_) viewGet_(&item, 0);
  return Done{};
}

Result<Registers> Session::ReadRegisters() {
  if (auto r = RefreshView(); !r) return Result<Registers>::Fail(r.error());
  Registers regs;
  for (const auto& item : viewItems_) {
    const std::uint32_t v = item.lastValue;
    const std::uint16_t n = item.number;
    if (n < 8) regs.r[n] = static_cast<std::uint8_t>(v);
    if (n == 0x10) regs.a = static_cast<std::uint8_t>(v);
    if (n == 0x11) regs.b = static_cast<std::uint8_t>(v);
    if (n == 0x12) regs.sp = static_cast<std::uint8_t>(v);
    if (n == 0x13) regs.dptr = static_cast<std::uint16_t>(v);
    if (n == 0x14) regs.pc = static_cast<std::uint16_t>(v);
    if (n == 0x100) regs.psw = static_cast<std::uint8_t>(v);
  }
  pcCell_ = kCodeBase | regs.pc;
  return regs;
}

Result<std::uint32_t> Session::Pc() {
  auto r = ReadRegisters();
  if (!r) return Result<std::uint32_t>::Fail(r.error());
  return std::uint32_t{r->pc};
}

Result<Done> Session::SetRegister(const std::string& name, std::uint32_t value) {
  const ViewName* which = nullptr;
  for (const auto& v : kViewNames)
    if (name == v.name) which = &v;
  if (which == nullptr)
    return Result<Done>::Fail("unknown register '" + name +
                              "' (r0..r7, a, b, sp, dptr, pc, psw, p, f1, ov, rs, f0, ac, cy)");
  if (value > which->max)
    return Result<Done>::Fail("value " + std::to_string(value) + " does not fit " + name + " (0.." +
                              std::to_string(which->max) + ")");
  if (auto r = RefreshView(); !r) return r;
  ++changes_;
  for (auto& item : viewItems_) {
    if (item.number != which->item) continue;
    std::uint8_t b = static_cast<std::uint8_t>(value);
    std::uint16_t w = static_cast<std::uint16_t>(value);
    std::uint32_t d = value;
    void* arg = which->item == 0x13   ? static_cast<void*>(&w)
                : which->item == 0x14 ? static_cast<void*>(&d)
                                      : static_cast<void*>(&b);
    if (viewSet_(&item, arg) != 1) return Result<Done>::Fail("the driver did not change " + name);
    if (which->item == 0x14) pcCell_ = kCodeBase | value;
    return Done{};
  }
  return Result<Done>::Fail("the driver's register view has no " + name);
}

// ---- memory -----------------------------------------------------------------

Result<Done> Session::MemoryAccess(std::uint16_t code, MemorySpace space, std::uint32_t address,
                                   std::uint8_t* buffer, std::uint32_t length) {
  if (auto r = RequireStopped(); !r) return r;
  const std::uint32_t low = MemorySpaceLow(space), high = MemorySpaceHigh(space);
  char range[64];
  std::snprintf(range, sizeof range, "%s space is %02Xh..%04Xh", MemorySpaceName(space), low, high);
  if (length == 0) return Result<Done>::Fail("the length must be at least 1");
  if (address < low || address > high || length - 1 > high - address)
    return Result<Done>::Fail("address out of range: " + std::string(range));
  std::uint32_t top = 0;
  switch (space) {
    case MemorySpace::Code:
      top = 0xFF;
      break;
    case MemorySpace::Data:
    case MemorySpace::Sfr:
      top = 0xF0;
      break;
    case MemorySpace::Idata:
      top = 0xF3;
      break;
    case MemorySpace::Xdata:
      top = 0x01;
      break;
    case MemorySpace::Pdata:
      top = 0xFE;
      break;
  }
  kz::AddressRecord rec{(top << 24) | address, 0, 0};
  const std::string what =
      std::string(code == 1 ? "read " : "write ") + MemorySpaceName(space) + " at " + Hex4(address);
  return CheckAccess(drv_.AG_MemAcc(code, buffer, &rec, length), what.c_str());
}

Result<std::vector<std::uint8_t>> Session::Read(MemorySpace space, std::uint32_t address,
                                                std::uint32_t length) {
  if (length > 0x10000) length = 0x10001;  // reported as out of range below
  std::vector<std::uint8_t> bytes(length);
  auto r = MemoryAccess(1, space, address, bytes.data(), length);
  if (!r) return Result<std::vector<std::uint8_t>>::Fail(r.error());
  return bytes;
}

Result<Done> Session::Write(MemorySpace space, std::uint32_t address,
                            const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> copy = bytes;
  ++changes_;
  return MemoryAccess(2, space, address, copy.data(), static_cast<std::uint32_t>(copy.size()));
}

}  // namespace kz51
