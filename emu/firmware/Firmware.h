#pragma once
// The emulator's firmware as the driver sees it: one 64-byte command packet in,
// one 64-byte reply packet out (or none). It owns the emulated target CPU, the
// pod's logic device with its scan chain and configuration state, the two
// headers kept in the hardware (parameter memory and configuration header),
// the monitor pages, the memory map and breakpoint bytes, the configuration
// and status words, and the monitor's register save area.
//
// Execution is driven by the driver's status polls, not by a clock: a run
// advances a fixed number of instructions per status read, so the same packet
// sequence always gives the same result.
//
// Not thread-safe: one thread serves all packets (the pipe provider's server
// thread, or a test).
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cpu/Cpu8051.h"
#include "cpu/ExecutionCounts.h"
#include "firmware/FirmwareConfig.h"

namespace kzemu {

using Packet = std::array<std::uint8_t, 64>;

// Pod code of a pod slot of the built-in pod table (family 0, slots 1..10);
// 0 for other slots.
std::uint8_t PodCodeOfSlot(int pod);

class Firmware {
 public:
  static constexpr std::size_t kParamSize = 1024;
  static constexpr std::size_t kMonitorSize = 0x1800;  // 2000h..37FFh
  static constexpr std::uint16_t kMonitorBase = 0x2000;
  static constexpr std::uint32_t kStandardId = 0x93C06120;
  static constexpr std::uint32_t kAlternateId = 0x43002411;

  explicit Firmware(FirmwareConfig cfg = {});
  ~Firmware();
  Firmware(const Firmware&) = delete;
  Firmware& operator=(const Firmware&) = delete;

  // Serves one command packet. Returns false when the emulator does not
  // answer (faults); `reply` is then left unspecified.
  bool Serve(const Packet& cmd, Packet& reply);

  // Reply delay the packaging applies before sending (0 unless kFaultSlow).
  std::uint32_t ReplyDelayMs() const;
  // True once the disconnect fault fired: the device is gone.
  bool Unplugged() const { return unplugged_; }
  // Replaces the faults of a running emulator and keeps everything it holds:
  // the device is plugged in again and a disconnect counts its packets from
  // now.
  void SetFaults(std::uint32_t faults, std::uint32_t disconnectAfter, std::uint32_t delayMs,
                 std::uint32_t seed);

  const FirmwareConfig& Config() const { return cfg_; }
  Cpu8051& Cpu() { return cpu_; }

  // ---- counts for coverage and profiles (see ExecutionCounts) ----
  // Starts counting afresh with the host's region table (65536 entries, or
  // empty), replacing earlier counts.
  void StartCounts(const std::vector<std::uint32_t>& regions);
  void StopCounts();
  const ExecutionCounts* Counts() const { return counts_.get(); }
  // A running target stops by itself once it has used `cycles` more machine
  // cycles, as if the driver had asked it to stop (0: no limit): at the
  // first instruction boundary at the limit, or past it even at a
  // breakpoint. Arming a limit clears the note that one was reached.
  void SetCycleLimit(std::uint64_t cycles);
  bool CycleLimitReached() const { return limitReached_; }

  // ---- state, for tests and the packaging ----
  int Pod() const { return cfg_.pod; }
  bool Executing() const { return executing_; }
  // Configuration image bytes received by the last complete download.
  const std::vector<std::uint8_t>& LogicImage() const { return logicImage_; }
  std::uint32_t LogicDownloads() const { return logicDownloads_; }
  const std::array<std::uint8_t, kParamSize>& ParamMemory() const { return param_; }
  const std::array<std::uint8_t, kMonitorSize>& MonitorMemory() const { return monitor_; }
  std::uint32_t PagesStored() const { return pagesStored_; }
  std::uint32_t PagesRejected() const { return pagesRejected_; }
  const std::array<std::uint8_t, 32>& ConfigHeader() const { return configHeader_; }
  std::uint8_t MemoryMap(std::uint16_t a) const { return map_[a]; }
  std::uint8_t BreakpointByte(std::uint16_t a) const { return bp_[a]; }
  std::uint16_t Status0() const;
  std::uint16_t Status1() const;
  const std::array<std::uint8_t, 23>& ClockRegisters(int subFunction) const {
    return clock_[static_cast<std::size_t>(subFunction & 3)];
  }
  std::uint8_t ClockClass() const { return clockClass_; }
  std::uint8_t ClockFactor() const { return clockFactor_; }
  std::uint8_t OptionByte(int i) const { return option_[static_cast<std::size_t>(i & 1)]; }
  std::uint32_t OptionAccesses() const { return optionAccesses_; }
  // CPU type code reported in status word 1 bits 0..2.
  std::uint8_t CpuTypeCode() const;
  // The user's value of a register the monitor owns while stopped.
  std::uint8_t UserRegister(std::uint8_t address) const { return user_.v[address]; }
  // Direct addresses the monitor of this pod saves and clobbers while stopped.
  static const std::vector<std::uint8_t>& ShadowedAddresses(int pod);

 private:
  // What the monitor saved for the user program when it took the CPU: the
  // program counter and, by direct address, the pod's shadowed registers.
  struct UserRegs {
    std::uint16_t pc = 0;
    std::array<std::uint8_t, 256> v{};
  };
  enum class StopReason { kNone, kStep, kBreakpoint, kRequest };
  // One token of the scan interface, matched against the download scripts.
  struct ScanOp {
    enum Kind : std::uint8_t { kReset, kInstr, kData, kIdle, kPieces } kind;
    std::uint8_t len = 0, value = 0;      // instruction scan
    std::uint16_t bits = 0;               // data scan
    const std::uint8_t* bytes = nullptr;  // data scan contents to match, or null
  };

  void Answer(const Packet& cmd, Packet& rep);
  void Garbage(const Packet& cmd, Packet& rep);
  std::uint32_t IdentityWord(bool pod) const;
  bool Alternate() const;
  std::uint32_t DeviceId() const;

  // Scan chain.
  void ScanReset();
  void ScanInstruction(std::uint8_t len, std::uint8_t value);
  void ScanData(const Packet& cmd, Packet& rep);
  void ScanPiece(const Packet& cmd);
  void ScanIdle();
  void Track(const ScanOp& op, const Packet* cmd);
  bool Matches(const ScanOp& want, const ScanOp& got, const Packet* cmd) const;
  const std::vector<ScanOp>& Script() const;

  // Memory blocks.
  void WriteDirectBlock(std::uint8_t a, std::uint8_t v, bool indirect);
  std::uint8_t ReadDirectBlock(std::uint8_t a, bool indirect);

  // Registers and execution.
  void ReadRegisters(Packet& rep) const;
  void WriteRegisters(const Packet& cmd);
  void EnterMonitor(StopReason why);
  void LeaveMonitor();
  void ResetChip();
  void RunBudget();
  void WriteConfiguration(const Packet& cmd);

  FirmwareConfig cfg_;
  Cpu8051 cpu_;
  std::FILE* serialFile_ = nullptr;
  bool ownsSerialFile_ = false;

  bool unplugged_ = false;
  std::uint32_t served_ = 0;
  std::uint32_t rng_;

  std::array<std::uint16_t, 4> w_{};
  std::uint8_t control_ = 0;
  std::array<std::array<std::uint8_t, 23>, 4> clock_{};
  std::uint8_t clockClass_ = 0, clockFactor_ = 0;
  std::array<std::uint8_t, 2> option_{};
  std::uint32_t optionAccesses_ = 0;

  std::array<std::uint8_t, kParamSize> param_{};
  std::array<std::uint8_t, kMonitorSize> monitor_{};
  std::array<std::uint8_t, 128> page_{};
  std::size_t pageFill_ = 0;  // bytes of page_ loaded since the last store
  std::uint32_t pagesStored_ = 0, pagesRejected_ = 0;
  std::array<std::uint8_t, 32> configHeader_{};

  // Logic device.
  bool logicConfigured_ = false;
  std::uint32_t logicDownloads_ = 0;
  std::uint8_t irLen_ = 0, ir_ = 0;
  std::size_t scriptPos_ = 0;
  int lastPieceKind_ = -1;  // inside the pieces step: kind of the last piece
  std::vector<std::uint8_t> pendingImage_, logicImage_;

  std::vector<std::uint8_t> map_, bp_;

  // Execution.
  bool executing_ = false;
  UserRegs user_;
  std::uint64_t cycleLimit_ = UINT64_MAX;  // CPU cycle total at which a run stops
  bool limitReached_ = false;
  std::unique_ptr<ExecutionCounts> counts_;
};

}  // namespace kzemu
