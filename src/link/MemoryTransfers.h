#pragma once
// Emulator memory and register operations: range transfers in packet-sized
// pieces with a progress window for long ones, and the register routing
// through the shadows the monitor saved at the last stop.
#include <cstdint>
#include <string>

#include "config/TargetConfig.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"

namespace kz {

// Where a long transfer reports progress; the host layer draws it in the
// progress window. The title is the message text of `messageNumber`, a blank
// and `range` ("0FD00H - 0FFFFH").
class TransferProgress {
 public:
  virtual ~TransferProgress() = default;
  virtual void Open(int steps, std::uint16_t messageNumber, const std::string& range) = 0;
  virtual void Step() = 0;
  virtual void Close() = 0;
};

// Four upper-case hex digits and "H", with a leading "0" above 9FFFh.
std::string FormatAddress(std::uint32_t address);

class MemoryTransfers {
 public:
  static constexpr int kChunk = 56;
  static constexpr int kProgressThreshold = 16;

  MemoryTransfers(CommandSet& commands, EmulatorState& state, const TargetConfig& config,
                  TransferProgress& progress)
      : cmd_(commands), state_(state), config_(config), progress_(progress) {}

  // The register shadow that holds the user's value of `address` while the
  // monitor owns it (the target stopped), or nullptr when the chip holds it.
  std::uint8_t* MonitorShadow(std::uint8_t address);

  void ReadSfrThroughShadows(std::uint8_t address);
  // Read SFR through shadows for `count` SFR addresses from `first`, with one
  // command 75 per reply packet instead of one per address. The block reads
  // the addresses the single reads would, so any read side effect is the
  // same, and also the registers the monitor owns (ACC, B, PSW, SP, DPTR,
  // TCON, T2CON, IE, A2h: reading them changes nothing), which then take
  // their shadows.
  void ReadSfrRange(std::uint8_t first, int count);
  void WriteSfrThroughShadows(std::uint8_t address);
  void WriteCodePiece(std::uint8_t count);
  void ReadXdataPiece(std::uint8_t count);
  void WriteXdataPiece(std::uint8_t count);
  void ReadCodePiece(std::uint8_t count);
  void WriteBreakpointByte(std::uint16_t address, std::uint8_t value);
  void RefreshAfterStop();
  void ReadXdataRange(int start, int length);
  void WriteXdataRange(int start, int length);
  void ReadCodeRange(int start, int length);
  void WriteCodeRange(int start, int length);

 private:
  // Sends count bytes at the current transfer address in packets of at most
  // `packet` bytes, advancing the address.
  void Pieces(std::uint8_t count, int packet,
              void (CommandSet::*command)(std::uint8_t, std::uint16_t));

  CommandSet& cmd_;
  EmulatorState& state_;
  const TargetConfig& config_;
  TransferProgress& progress_;
};

}  // namespace kz
