#include "link/MemoryTransfers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace kz {

namespace {

constexpr std::uint8_t kSfrBase = 0x80;
constexpr int kReadPacket = 64;  // read pieces carry up to 64 bytes
constexpr int kAddressSpace = 0x10000;

// The shadow of a register the monitor may save: R0..R5 and the SFRs.
std::uint8_t* ShadowCell(RegisterShadows& s, std::uint8_t a) {
  if (a <= 0x05) return &s.R[a];
  switch (a) {
    case 0x81:
      return &s.SP;
    case 0x82:
      return &s.DPL;
    case 0x83:
      return &s.DPH;
    case 0x88:
      return &s.TCON;
    case 0xA2:
      return &s.SfrA2;
    case 0xA8:
      return &s.IE;
    case 0xC8:
      return &s.T2CON;
    case 0xD0:
      return &s.PSW;
    case 0xE0:
      return &s.ACC;
    case 0xF0:
      return &s.B;
    default:
      return nullptr;
  }
}

// The addresses each pod's monitor owns while the target is stopped; an empty
// list means the pod is not routed at all.
struct ShadowedAddresses {
  std::uint8_t count;
  std::uint8_t address[12];
};
constexpr ShadowedAddresses kShadowed[10] = {
    {0, {}},
    {6, {0x00, 0x82, 0x83, 0xA2, 0xD0, 0xE0}},                                       // pod 1
    {7, {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0}},                                 // pod 2
    {10, {0x00, 0x82, 0x83, 0x88, 0xA2, 0xA8, 0xC8, 0xD0, 0xE0, 0xF0}},              // pod 3
    {7, {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0}},                                 // pod 4
    {7, {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0}},                                 // pod 5
    {7, {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0}},                                 // pod 6
    {7, {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0}},                                 // pod 7
    {9, {0x00, 0x01, 0x02, 0x03, 0x81, 0x82, 0x83, 0xD0, 0xE0}},                     // pod 8
    {12, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x81, 0x82, 0x83, 0x88, 0xD0, 0xE0}},  // pod 9
};

// The register shadow that stands for address a while the monitor has the
// chip, or nullptr when a is read from the emulator. `podHasRow` tells whether
// the pod is routed at all (pods without a row do nothing).
std::uint8_t* ShadowFor(RegisterShadows& s, int pod, std::uint8_t a, bool& podHasRow) {
  podHasRow = pod >= 1 && pod <= 9;
  if (!podHasRow) return nullptr;
  const ShadowedAddresses& row = kShadowed[pod];
  for (int i = 0; i < row.count; ++i)
    if (row.address[i] == a) return ShadowCell(s, a);
  return nullptr;
}

enum class RangeKind { ReadXdata, WriteXdata, ReadCode, WriteCode };

std::uint16_t MessageFor(RangeKind kind) {
  switch (kind) {
    case RangeKind::WriteCode:
      return 851;
    case RangeKind::ReadCode:
      return 852;
    case RangeKind::WriteXdata:
      return 853;
    case RangeKind::ReadXdata:
      return 854;
  }
  return 0;
}

}  // namespace

std::string FormatAddress(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%04X", address > 0x9FFF ? "0" : "", address);
  return std::string(text) + "H";
}

std::uint8_t* MemoryTransfers::MonitorShadow(std::uint8_t address) {
  bool routed = false;
  return ShadowFor(state_.shadows, config_.PodNumber(), address, routed);
}

void MemoryTransfers::ReadSfrThroughShadows(std::uint8_t address) {
  if (cmd_.Link().LinkFailed() || state_.executing.load()) return;
  std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
  bool routed = false;
  const std::uint8_t* shadow = ShadowFor(state_.shadows, config_.PodNumber(), address, routed);
  if (!routed) return;
  if (shadow != nullptr) {
    state_.dataImage[address] = *shadow;
  } else if (address >= kSfrBase) {
    cmd_.ReadDataBlock(1, address);
  } else {
    cmd_.ReadIdataBlock(1, address);
  }
}

void MemoryTransfers::ReadSfrRange(std::uint8_t first, int count) {
  if (cmd_.Link().LinkFailed() || state_.executing.load()) return;
  if (first < kSfrBase || count <= 0 || first + count > 0x100) return;
  std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
  bool routed = false;
  ShadowFor(state_.shadows, config_.PodNumber(), first, routed);
  if (!routed) return;
  for (int done = 0; done < count;) {
    const int p = std::min(count - done, kReadPacket);
    cmd_.ReadDataBlock(static_cast<std::uint8_t>(p), static_cast<std::uint16_t>(first + done));
    done += p;
  }
  for (int i = 0; i < count; ++i) {
    const auto a = static_cast<std::uint8_t>(first + i);
    if (const std::uint8_t* shadow = MonitorShadow(a)) state_.dataImage[a] = *shadow;
  }
}

void MemoryTransfers::WriteSfrThroughShadows(std::uint8_t address) {
  if (cmd_.Link().LinkFailed() || state_.executing.load()) return;
  std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
  bool routed = false;
  std::uint8_t* shadow = ShadowFor(state_.shadows, config_.PodNumber(), address, routed);
  if (!routed) return;
  if (shadow != nullptr) {
    // Reaches the chip with the next write registers.
    *shadow = state_.dataImage[address];
  } else if (address >= kSfrBase) {
    cmd_.WriteDataBlock(1, address);
  } else {
    cmd_.WriteIdataBlock(1, address);
  }
}

void MemoryTransfers::Pieces(std::uint8_t count, int packet,
                             void (CommandSet::*command)(std::uint8_t, std::uint16_t)) {
  if (cmd_.Link().LinkFailed() || state_.executing.load()) return;
  std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
  for (int n = count; n > 0;) {
    const int p = std::min(n, packet);
    (cmd_.*command)(static_cast<std::uint8_t>(p), state_.transferAddress);
    state_.transferAddress = static_cast<std::uint16_t>(state_.transferAddress + p);
    n -= p;
  }
}

void MemoryTransfers::WriteCodePiece(std::uint8_t count) {
  Pieces(count, kChunk, &CommandSet::WriteCodeBlock);
}

void MemoryTransfers::ReadXdataPiece(std::uint8_t count) {
  Pieces(count, kReadPacket, &CommandSet::ReadXdataBlock);
}

void MemoryTransfers::WriteXdataPiece(std::uint8_t count) {
  Pieces(count, kChunk, &CommandSet::WriteXdataBlock);
}

// Program memory is never read back: the code image stays as the driver wrote it.
void MemoryTransfers::ReadCodePiece(std::uint8_t /*count*/) {}

void MemoryTransfers::WriteBreakpointByte(std::uint16_t address, std::uint8_t value) {
  if (cmd_.Link().LinkFailed()) return;
  std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
  state_.transferAddress = address;
  cmd_.WriteBreakpointBytes(1, address, value);
  state_.transferAddress = static_cast<std::uint16_t>(address + 1);
}

void MemoryTransfers::RefreshAfterStop() {
  if (cmd_.Link().LinkFailed()) return;
  std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
  cmd_.ReadRegisters();
  cmd_.ReadIdataBlock(8, static_cast<std::uint16_t>(state_.shadows.PSW & 0x18));

  // The monitor occupies these bytes while it runs; the user program's values
  // are the ones it saved. The idata copy of 00h..7Fh follows the data image.
  const int pod = config_.PodNumber();
  const int saved = pod == 8 ? 4 : pod == 9 ? 6 : 1;
  for (int i = 0; i < saved; ++i) {
    state_.dataImage[i] = state_.shadows.R[i];
    state_.idataImage[i] = state_.shadows.R[i];
  }

  if (pod == 1 || pod == 8 || pod == 9) {
    cmd_.ReadDataBlock(1, 0xF0);
    state_.shadows.B = state_.dataImage[0xF0];
  }
}

namespace {

// One range transfer; the pieces are passed in so the four ranges share the
// cutting, the progress window and the lock.
template <typename Piece>
void RunRange(CommandSet& cmd, EmulatorState& state, TransferProgress& progress, RangeKind kind,
              int start, int length, Piece&& piece) {
  if (length <= 0 || start < 0 || start >= kAddressSpace) return;
  // Cut at FFFFh; a range never wraps to address 0.
  int n = std::min(length, kAddressSpace - start);
  std::lock_guard<std::recursive_mutex> hold(cmd.Link().Lock());

  const int steps = n / MemoryTransfers::kChunk + 1;
  const bool shown = steps > MemoryTransfers::kProgressThreshold;
  if (shown) {
    progress.Open(steps, MessageFor(kind),
                  FormatAddress(static_cast<std::uint32_t>(start)) + " - " +
                      FormatAddress(static_cast<std::uint32_t>(start + n - 1)));
  }
  state.transferAddress = static_cast<std::uint16_t>(start);
  while (n > 0) {
    const int p = std::min(n, MemoryTransfers::kChunk);
    n -= p;
    if (kind == RangeKind::WriteCode) {
      piece(static_cast<std::uint8_t>(p));
      if (shown) progress.Step();
    } else {
      if (shown) progress.Step();
      piece(static_cast<std::uint8_t>(p));
    }
  }
  if (shown) progress.Close();
}

}  // namespace

void MemoryTransfers::ReadXdataRange(int start, int length) {
  if (cmd_.Link().LinkFailed()) return;
  RunRange(cmd_, state_, progress_, RangeKind::ReadXdata, start, length,
           [this](std::uint8_t p) { ReadXdataPiece(p); });
}

void MemoryTransfers::WriteXdataRange(int start, int length) {
  if (cmd_.Link().LinkFailed() || state_.executing.load()) return;
  RunRange(cmd_, state_, progress_, RangeKind::WriteXdata, start, length,
           [this](std::uint8_t p) { WriteXdataPiece(p); });
}

void MemoryTransfers::ReadCodeRange(int start, int length) {
  if (cmd_.Link().LinkFailed()) return;
  RunRange(cmd_, state_, progress_, RangeKind::ReadCode, start, length,
           [this](std::uint8_t p) { ReadCodePiece(p); });
}

void MemoryTransfers::WriteCodeRange(int start, int length) {
  if (cmd_.Link().LinkFailed() || state_.executing.load()) return;
  RunRange(cmd_, state_, progress_, RangeKind::WriteCode, start, length,
           [this](std::uint8_t p) { WriteCodePiece(p); });
}

}  // namespace kz
