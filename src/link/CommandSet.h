#pragma once
// The emulator command set: one method per command, each filling the shared
// command packet under the link lock, exchanging it and decoding the reply
// into the emulator state. Every command but 2 and 3 returns at once (without
// the lock) while the link-failed flag is set; commands with a result then
// return 0. A reply is decoded only when its exchange went through: an exchange
// that fails inside a command leaves the driver's state as it was (and 32..36
// then return 0), except command 3, which stores reply byte 0 in any case.
// Image accesses are bounded: bytes beyond an image are sent as 0 and received
// bytes beyond it are dropped; write blocks carry at most 56 bytes.
#include <array>
#include <cstdint>

#include "config/TargetConfig.h"
#include "link/EmulatorState.h"
#include "link/Transport.h"

namespace kz {

// Values the scan commands (33..36) return after an exchange.
inline constexpr std::uint8_t kScanDone = 0x81;

class CommandSet {
 public:
  CommandSet(Transport& link, EmulatorState& state, const TargetConfig& config)
      : link_(link), state_(state), config_(config) {}

  void Identify();                           // 1: anything but "V1" fails the link (kind 1)
  void WriteParamByte(std::uint16_t index);  // 2: value from state.paramMirror[index]
  void ReadParamByte(std::uint16_t index);   // 3: into state.paramMirror[index]
  void ReadEmulatorIdentity();               // 4: state.emulatorIdentity
  void ReadPodIdentity();                    // 5: state.podIdentity
  void WriteConfiguration();                 // 9: state.W
  void ReadStatus(bool full);                // 10: status words (and W0..W3 when full)
  // 14: the 23-byte register image goes to cmd[16..38] as given; the clock
  // generator code builds it (and sets W3 bits for sub-function 2).
  void ProgramClock(std::uint8_t subFunction, const std::array<std::uint8_t, 23>& registers);
  void Control(std::uint8_t subFunction, std::uint8_t value);  // 15: state.control = rep[0]
  void ScanIdle();                                             // 16
  // 17: cmd[16..63] = 48 bytes from src (always 48), cmd[2] = count.
  void LoadPagePiece(std::uint8_t pageOffset, std::uint8_t count, const std::uint8_t* src48);
  void StorePage(std::uint16_t address);  // 18
  bool QueryLogicConfigured();            // 32: rep[0] != 0
  std::uint8_t ResetScanChain();          // 33
  std::uint8_t InstructionScan(std::uint8_t lengthBits, std::uint8_t instruction);  // 34
  // 35: ceil(bits/8) bytes from src to cmd[16..]; bits 1..384. Reply bytes
  // 0..3 hold the first 32 bits shifted out (read them from the reply packet).
  std::uint8_t DataScan(std::uint16_t bits, const std::uint8_t* src);
  // 36: kind 0 first, 1 middle, 2 last; bytes to cmd[8..], at most 448 bits.
  std::uint8_t DataScanPiece(std::uint8_t kind, std::uint16_t bits, const std::uint8_t* src);
  void WriteConfigHeader();                                         // 37: state.configHeader
  void ReadConfigHeader();                                          // 38: state.configHeader
  void WriteCodeBlock(std::uint8_t count, std::uint16_t address);   // 65 (count 1..56)
  void WriteXdataBlock(std::uint8_t count, std::uint16_t address);  // 66
  void WriteIdataBlock(std::uint8_t count, std::uint16_t address);  // 68
  void WriteDataBlock(std::uint8_t count, std::uint16_t address);   // 69
  void WriteBreakpointBytes(std::uint8_t count, std::uint16_t address, std::uint8_t value);  // 70
  void ReadXdataBlock(std::uint8_t count, std::uint16_t address);  // 72 (count 1..64)
  void ReadIdataBlock(std::uint8_t count, std::uint16_t address);  // 74
  void ReadDataBlock(std::uint8_t count, std::uint16_t address);   // 75
  void FillMemoryMap(std::uint16_t start, std::uint16_t count, std::uint8_t value);  // 76
  void Step();                                                                       // 77
  void Run();                                                                        // 78
  // 79: per-pod layout into the shadows and pcShadow (pods 8 and 9: SP into
  // the SP shadow, R0..R3/R5 into shadows.R). Pods outside 1..9: nothing sent,
  // the packet untouched.
  void ReadRegisters();
  void WriteRegisters();  // 80: per-pod layout from the shadows and pcShadow
  void SetClockClass(std::uint8_t clockClass, std::uint8_t factor);  // 81
  void OptionAccess();                                               // 83
  void WriteOptionByte(std::uint8_t index, std::uint8_t value);      // 84

  Transport& Link() { return link_; }

 private:
  Transport& link_;
  EmulatorState& state_;
  const TargetConfig& config_;
};

}  // namespace kz
