#pragma once
// A driver debugging the virtual emulator's firmware through the entry
// points, with the firmware answering each command packet at once on the
// calling thread. The packets are counted by command code.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/FakeUi.h"
#include "fakes/MinimalDatabase.h"
#include "fakes/TempDir.h"
#include "firmware/Firmware.h"
#include "host/Breakpoints.h"
#include "host/Driver.h"
#include "host/ExecutionControl.h"
#include "host/MemoryAccess.h"
#include "platform/UsbPipes.h"

namespace kz::test {

// The USB pipes with the firmware behind them.
class FirmwarePipes : public UsbPipes {
 public:
  explicit FirmwarePipes(kzemu::FirmwareConfig cfg) : fw(std::move(cfg)) {}

  PipeHandle OpenReadPipe() override { return 7; }
  PipeHandle OpenWritePipe() override { return 8; }
  bool Write(PipeHandle, const std::uint8_t* data, std::uint32_t len) override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (unplugged || len != 64) return false;
    kzemu::Packet cmd{};
    std::memcpy(cmd.data(), data, 64);
    if (onCommand) onCommand(cmd);
    counts[cmd[0]].fetch_add(1);
    total.fetch_add(1);
    pending_ = fw.Serve(cmd, reply_);
    return true;
  }
  bool Read(PipeHandle, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) override {
    std::lock_guard<std::mutex> hold(mutex_);
    got = 0;
    if (!pending_ || len < 64) return false;
    std::memcpy(data, reply_.data(), 64);
    got = 64;
    pending_ = false;
    return true;
  }
  void Close(PipeHandle) override {}
  void SleepMs(std::uint32_t) override {}

  void ResetCounts() {
    for (auto& c : counts) c.store(0);
    total.store(0);
  }
  std::uint64_t Count(std::uint8_t code) const { return counts[code].load(); }

  kzemu::Firmware fw;
  std::atomic<bool> unplugged{false};
  // Sees every command packet before the firmware serves it, on the thread
  // that sent it (with the pipes' lock held): tests time events inside a
  // run or a stop with it. Set it while no other thread exchanges.
  std::function<void(const kzemu::Packet&)> onCommand;
  std::array<std::atomic<std::uint64_t>, 256> counts{};
  std::atomic<std::uint64_t> total{0};

 private:
  std::mutex mutex_;
  kzemu::Packet reply_{};
  bool pending_ = false;
};

// What the host callback received (code 4 texts).
inline std::vector<std::string>& CallbackTexts() {
  static std::vector<std::string> texts;
  return texts;
}
inline std::uint32_t KZ_CDECL RecordCallback(std::uint32_t code, void* argument) {
  if (code == 4) CallbackTexts().emplace_back(static_cast<const char*>(argument));
  return 0;
}

inline kzemu::FirmwareConfig Firmware(int pod, std::uint32_t budget = 2000,
                                      std::uint32_t faults = 0) {
  kzemu::FirmwareConfig c;
  c.pod = pod;
  c.budget = budget;
  c.faults = faults;
  c.logicConfigured = true;
  return c;
}

struct DebugRig {
  fake::TempDir dir;
  FirmwarePipes pipes;
  fake::FakeUi ui;
  fake::FakeSystem system;
  std::unique_ptr<Driver> d;
  BreakpointRecord* anchor = nullptr;
  std::uint32_t pcCell = 0;

  explicit DebugRig(kzemu::FirmwareConfig cfg) : pipes(cfg) {
    CallbackTexts().clear();
    dir.Write("KZ.MDB", fake::EmptyDatabase());
    system.commandLine = dir.DataDirectory() + "host";
    d = std::make_unique<Driver>(Ports{pipes, ui, system});
    d->Startup();
    d->config.PodIndex = static_cast<std::uint8_t>(cfg.pod - 1);
    d->state.podConfigured = true;
    d->AgInit(0x30A, 0x1234);
    d->AgInit(0x312, reinterpret_cast<std::uintptr_t>(&RecordCallback));
    d->AgInit(0x30E, reinterpret_cast<std::uintptr_t>(&anchor));
    d->AgInit(0x30F, reinterpret_cast<std::uintptr_t>(&pcCell));
    d->AgInit(0x100, 0);
    CallbackTexts().clear();
  }

  // Writes code bytes at an address through AG_MemAcc code 3.
  void Load(std::uint16_t at, const std::vector<std::uint8_t>& bytes) {
    AddressRecord rec{at, 0, 0};
    std::vector<std::uint8_t> b = bytes;
    ASSERT_EQ(d->AgMemAcc(3, b.data(), &rec, static_cast<std::uint32_t>(b.size())), 0);
  }
  std::vector<std::uint8_t> Read(std::uint32_t address, std::uint32_t n, std::uint8_t fill = 0xEE,
                                 std::uint16_t* answer = nullptr) {
    std::vector<std::uint8_t> b(n, fill);
    AddressRecord rec{address, 0x77, 0};
    const std::uint16_t a = d->AgMemAcc(1, b.data(), &rec, n);
    if (answer != nullptr) *answer = a;
    return b;
  }
  std::uint16_t Write(std::uint32_t address, std::vector<std::uint8_t> bytes) {
    AddressRecord rec{address, 0x77, 0};
    return d->AgMemAcc(2, bytes.data(), &rec, static_cast<std::uint32_t>(bytes.size()));
  }
  std::uint16_t Pc() {
    std::uint8_t v[4] = {};
    EXPECT_EQ(d->AgRegAcc(1, 0x500, v), 0);
    return static_cast<std::uint16_t>(v[0] | v[1] << 8);
  }
  std::uint8_t Acc() {
    std::uint8_t v = 0;
    EXPECT_EQ(d->AgRegAcc(1, 20, &v), 0);
    return v;
  }
  std::uint8_t R7() {
    std::uint8_t v = 0;
    EXPECT_EQ(d->AgRegAcc(1, 7, &v), 0);
    return v;
  }
  std::int32_t Go() { return d->AgGoStep(4, 0, nullptr); }
  std::int32_t Step(std::uint32_t n) { return d->AgGoStep(2, n, nullptr); }
  std::int32_t GoUntil(std::uint16_t address) {
    AddressRecord rec{0xFF000000u | address, 0, 0};
    return d->AgGoStep(3, 0, &rec);
  }
};

// Stops a free run from a second thread once the run is polling.
inline std::int32_t StopWhenRunning(DebugRig& r) {
  while (!r.d->state.executing) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return r.d->AgGoStep(1, 0, nullptr);
}

// From inside an exchange of a run (a command hook on the run's thread):
// calls `stop` on a second thread and returns once that thread's stop waits
// for the run lock, so the stop acts before the run's next poll.
template <typename Stop>
void StopFromInside(DebugRig& r, std::thread& stopper, Stop&& stop) {
  stopper = std::thread(std::forward<Stop>(stop));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!r.d->execution->StopWaiting() && std::chrono::steady_clock::now() < until)
    std::this_thread::yield();
}

// A host breakpoint record with a kind, enabled bit, count and text.
inline BreakpointRecord HostBreakpoint(std::uint16_t address, std::int32_t count = 1,
                                       std::uint32_t kind = 0, bool enabled = true,
                                       const char* text = nullptr) {
  BreakpointRecord r{};
  r.next = nullptr;
  r.flags = kind | (enabled ? kBpEnabled : 0);
  r.address = 0xFF000000u | address;
  r.remainingCount = count;
  r.initialCount = count;
  r.commandText = text;
  return r;
}

// Links records into a host list in the given order.
inline void Link(BreakpointRecord*& anchor, std::vector<BreakpointRecord*> records) {
  anchor = records.empty() ? nullptr : records[0];
  for (std::size_t i = 0; i < records.size(); ++i)
    records[i]->next = i + 1 < records.size() ? records[i + 1] : nullptr;
}

// A counting loop: 0000 MOV A,#0; 0002 INC A; 0003 INC R7... see kLoop.
//   0000: 74 00     MOV A,#00h
//   0002: 04        INC A          <- loop
//   0003: 0F        INC R7
//   0004: 80 FC     SJMP 0002h
inline const std::vector<std::uint8_t> kLoop = {0x74, 0x00, 0x04, 0x0F, 0x80, 0xFC};

}  // namespace kz::test
