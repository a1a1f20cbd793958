#pragma once
// Target memory access: AG_MemAcc and AG_MemAtt. Decodes the host's target
// addresses, cuts requests into chunks, answers reads from the shadow memory
// where its valid bits allow and routes every other read and every write to
// the emulator through the images of the emulator link.
#include <atomic>
#include <cstdint>

#include "host/AG_DLL_DEF.h"
#include "host/ShadowMemory.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"
#include "link/MemoryTransfers.h"

namespace kz {

class MemoryAccess {
 public:
  static constexpr std::uint32_t kChunk = 256;
  static constexpr int kInternalPiece = 64;  // one reply packet of command 74

  // Answers of AG_MemAcc.
  static constexpr std::uint16_t kDone = 0, kRefused = 1, kReadFailed = 2, kUnlisted = 3,
                                 kWriteFailed = 5;

  // `running`, `abandon` and `window` are the driver's flags and the host
  // window as registered; `registersWritten` is the register record's flag.
  MemoryAccess(ShadowMemory& shadow, EmulatorState& state, CommandSet& commands,
               MemoryTransfers& transfers, std::atomic<bool>& running, std::atomic<bool>& abandon,
               const std::uintptr_t& window, std::atomic<bool>& registersWritten);
  MemoryAccess(const MemoryAccess&) = delete;
  MemoryAccess& operator=(const MemoryAccess&) = delete;

  // ---- entry points (refusals are answered here) ----
  std::uint16_t MemAcc(std::uint16_t code, std::uint8_t* buffer, AddressRecord* record,
                       std::uint32_t length);
  std::uint16_t MemAtt(std::uint16_t code, std::uint32_t attribute, AddressRecord* record);

  // ---- operations for breakpoints and execution control ----
  // The attribute cell of an address (offset = its low 16 bits), or nullptr
  // when its page does not exist.
  std::uint16_t* AttributeCell(std::uint32_t address);
  // After every run or step: the target changed RAM, SFRs and xdata.
  void InvalidateAfterRun();
  // After a register write through the register record: the bank bytes and
  // SFRs the shadow holds may no longer be the target's.
  void InvalidateRegisterBytes();

 private:
  enum class Space { kXdata, kData, kIdata, kPdata, kCode, kNone };
  static Space SpaceOf(std::uint32_t address);

  void Read(Space space, std::uint32_t address, std::uint8_t* buffer, std::uint32_t n);
  void Write(Space space, std::uint32_t address, const std::uint8_t* buffer, std::uint32_t n);

  // True when every byte is in the shadow and valid; the bytes are then
  // copied to the buffer.
  bool Lookup(int slot, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t n);
  // Copies n image bytes into the shadow (valid) and the buffer; a missing
  // page copies nothing.
  void Fill(int slot, std::uint32_t offset, const std::uint8_t* image, std::uint8_t* buffer,
            std::uint32_t n);
  // Stores one byte in a shadow page, marked valid.
  void Store(int slot, std::uint32_t offset, std::uint8_t value);
  // Command 74 over internal RAM in reply-sized pieces; the bytes the
  // monitor owns are then taken from their register shadows.
  void ReadInternal(std::uint8_t first, std::uint32_t n);
  // The user's value of the bytes the monitor owns, put into the images.
  void OverlayMonitorOwned(std::uint8_t first, std::uint32_t n);
  void ClearValid(int slot, std::uint32_t first, std::uint32_t n);
  // DATA 80h..FFh: every byte into the shadow and the data image first, then
  // write SFR through shadows for each address in order.
  void WriteSfrs(int slot, std::uint32_t first, const std::uint8_t* buffer, std::uint32_t n);

  ShadowMemory& shadow_;
  EmulatorState& state_;
  CommandSet& cmd_;
  MemoryTransfers& transfers_;
  std::atomic<bool>& running_;
  std::atomic<bool>& abandon_;
  const std::uintptr_t& window_;
  std::atomic<bool>& registersWritten_;
};

}  // namespace kz
