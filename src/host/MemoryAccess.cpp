#include "host/MemoryAccess.h"

#include <algorithm>
#include <cstring>

namespace kz {

namespace {

constexpr std::uint8_t kSfrBase = 0x80;
constexpr std::uint8_t kRegisterBanksEnd = 0x20;  // DATA 00h..1Fh: the four register banks
constexpr std::uint32_t kSmallSpace = 0x100;      // DATA, IDATA and PDATA
constexpr std::uint32_t kLargeSpace = 0x10000;    // XDATA and CODE
constexpr int kDataSlot = 512;
constexpr int kIdataSlot = 513;

}  // namespace

MemoryAccess::MemoryAccess(ShadowMemory& shadow, EmulatorState& state, CommandSet& commands,
                           MemoryTransfers& transfers, std::atomic<bool>& running,
                           std::atomic<bool>& abandon, const std::uintptr_t& window,
                           std::atomic<bool>& registersWritten)
    : shadow_(shadow),
      state_(state),
      cmd_(commands),
      transfers_(transfers),
      running_(running),
      abandon_(abandon),
      window_(window),
      registersWritten_(registersWritten) {}

MemoryAccess::Space MemoryAccess::SpaceOf(std::uint32_t address) {
  switch (static_cast<std::uint8_t>(address >> 24)) {
    case kSpaceXdata:
      return Space::kXdata;
    case kSpaceData:
      return Space::kData;
    case kSpaceIdata:
      return Space::kIdata;
    case kSpacePdata:
      return Space::kPdata;
    case kSpaceCode:
      return Space::kCode;
    default:
      return Space::kNone;
  }
}

std::uint16_t MemoryAccess::MemAcc(std::uint16_t code, std::uint8_t* buffer, AddressRecord* record,
                                   std::uint32_t length) {
  if (running_ || abandon_) return kRefused;
  if (window_ == 0) return kDone;
  const bool read = code == 1 || code == 4;
  const bool write = code == 2 || code == 3;
  if (!read && !write) return kUnlisted;
  const std::uint16_t failed = read ? kReadFailed : kWriteFailed;
  // Nothing to transfer from or into: refused without touching host memory.
  if (record == nullptr) return failed;
  std::uint32_t address = record->address;
  if (code == 3 || code == 4) address = (address & 0x00FFFFFFu) | (std::uint32_t{kSpaceCode} << 24);
  const Space space = SpaceOf(address);
  if (buffer == nullptr || length == 0 || space == Space::kNone) {
    record->result = failed;
    return failed;
  }

  const bool small = space == Space::kData || space == Space::kIdata || space == Space::kPdata;
  const std::uint32_t size = small ? kSmallSpace : kLargeSpace;
  if (write && (space == Space::kData || space == Space::kIdata) &&
      (address & 0xFF) < kRegisterBanksEnd)
    registersWritten_ = false;

  // Each chunk advances by its full length; its offset wraps within its space
  // and never carries into the bank byte.
  std::uint32_t position = 0;
  std::uint32_t left = length;
  while (left > 0) {
    const std::uint32_t chunk = std::min(left, kChunk);
    const std::uint32_t offset = address & (size - 1);
    const std::uint32_t n = std::min(chunk, size - offset);  // clipped at the end of the space
    const std::uint32_t chunkAddress = (address & 0xFFFF0000u) | offset;
    if (read)
      Read(space, chunkAddress, buffer + position, n);
    else
      Write(space, chunkAddress, buffer + position, n);
    position += chunk;
    left -= chunk;
    address = (address & 0xFFFF0000u) | ((offset + chunk) & (size - 1));
  }
  // Every reader and writer completes its chunk: the host sees no error code
  // for a failed link, the images answer.
  record->result = 0;
  return kDone;
}

bool MemoryAccess::Lookup(int slot, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t n) {
  if (!shadow_.Exists(slot)) return false;
  ShadowMemory::Page& page = shadow_.At(slot);
  for (std::uint32_t i = 0; i < n; ++i)
    if ((page.cells[offset + i] & ShadowMemory::kValid) == 0) return false;
  std::memcpy(buffer, page.data.get() + offset, n);
  return true;
}

void MemoryAccess::Fill(int slot, std::uint32_t offset, const std::uint8_t* image,
                        std::uint8_t* buffer, std::uint32_t n) {
  if (!shadow_.Exists(slot)) return;
  ShadowMemory::Page& page = shadow_.At(slot);
  for (std::uint32_t i = 0; i < n; ++i) {
    page.data[offset + i] = image[i];
    page.cells[offset + i] =
        static_cast<std::uint16_t>(page.cells[offset + i] | ShadowMemory::kValid);
    buffer[i] = image[i];
  }
}

void MemoryAccess::Store(int slot, std::uint32_t offset, std::uint8_t value) {
  if (!shadow_.Exists(slot)) return;
  ShadowMemory::Page& page = shadow_.At(slot);
  page.data[offset] = value;
  page.cells[offset] = static_cast<std::uint16_t>(page.cells[offset] | ShadowMemory::kValid);
}

void MemoryAccess::ClearValid(int slot, std::uint32_t first, std::uint32_t n) {
  if (!shadow_.Exists(slot)) return;
  ShadowMemory::Page& page = shadow_.At(slot);
  for (std::uint32_t i = 0; i < n; ++i)
    page.cells[first + i] =
        static_cast<std::uint16_t>(page.cells[first + i] & ~ShadowMemory::kValid);
}

void MemoryAccess::OverlayMonitorOwned(std::uint8_t first, std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) {
    const auto a = static_cast<std::uint8_t>(first + i);
    if (const std::uint8_t* user = transfers_.MonitorShadow(a)) {
      state_.dataImage[a] = *user;
      if (a < kSfrBase) state_.idataImage[a] = *user;
    }
  }
}

void MemoryAccess::ReadInternal(std::uint8_t first, std::uint32_t n) {
  for (std::uint32_t done = 0; done < n;) {
    const std::uint32_t piece = std::min<std::uint32_t>(n - done, kInternalPiece);
    cmd_.ReadIdataBlock(static_cast<std::uint8_t>(piece),
                        static_cast<std::uint16_t>((first + done) & 0xFF));
    done += piece;
  }
  // While the target is stopped the chip holds the monitor's values there.
  OverlayMonitorOwned(first, n);
}

void MemoryAccess::Read(Space space, std::uint32_t address, std::uint8_t* buffer, std::uint32_t n) {
  const int slot = ShadowMemory::PageIndex(address);
  switch (space) {
    case Space::kData: {
      const auto first = static_cast<std::uint8_t>(address);
      if (first < kSfrBase) {
        if (Lookup(slot, first, buffer, n)) return;
        const std::uint32_t internal = std::min<std::uint32_t>(n, kSfrBase - first);
        ReadInternal(first, internal);
        // The SFR bytes of a chunk that reaches past 7Fh are read as SFRs:
        // nothing else keeps the SFR half of the data image current.
        if (n > internal) transfers_.ReadSfrRange(kSfrBase, static_cast<int>(n - internal));
      } else {
        transfers_.ReadSfrRange(first, static_cast<int>(n));
      }
      Fill(slot, first, state_.dataImage.data() + first, buffer, n);
      return;
    }
    case Space::kIdata: {
      const auto first = static_cast<std::uint8_t>(address);
      ReadInternal(first, n);
      Fill(slot, first, state_.idataImage.data() + first, buffer, n);
      return;
    }
    case Space::kPdata: {
      const auto first = static_cast<std::uint8_t>(address);
      if (Lookup(slot, first, buffer, n)) return;
      transfers_.ReadXdataRange(first, static_cast<int>(n));
      if (state_.xdataImage.size() < kLargeSpace) return;
      Fill(slot, first, state_.xdataImage.data() + first, buffer, n);
      return;
    }
    case Space::kXdata: {
      const std::uint32_t first = address & 0xFFFF;
      transfers_.ReadXdataRange(static_cast<int>(first), static_cast<int>(n));
      if (state_.xdataImage.size() < kLargeSpace) return;
      Fill(slot, first, state_.xdataImage.data() + first, buffer, n);
      return;
    }
    case Space::kCode: {
      const std::uint32_t first = address & 0xFFFF;
      transfers_.ReadCodeRange(static_cast<int>(first), static_cast<int>(n));
      if (state_.codeImage.size() < kLargeSpace) return;
      Fill(slot, first, state_.codeImage.data() + first, buffer, n);
      return;
    }
    case Space::kNone:
      return;
  }
}

void MemoryAccess::Write(Space space, std::uint32_t address, const std::uint8_t* buffer,
                         std::uint32_t n) {
  const int slot = ShadowMemory::PageIndex(address);
  // A chunk lies in one page: without it the writer ends before its first byte.
  if (!shadow_.Exists(slot)) return;
  switch (space) {
    case Space::kData:
    case Space::kIdata: {
      const auto first = static_cast<std::uint8_t>(address);
      // DATA 80h and up are the SFRs, also in a chunk that starts below 80h;
      // IDATA there is the upper internal RAM.
      std::uint32_t internal = n;
      if (space == Space::kData)
        internal = first < kSfrBase ? std::min<std::uint32_t>(n, kSfrBase - first) : 0;
      for (std::uint32_t i = 0; i < internal; ++i) {
        const auto a = static_cast<std::uint8_t>(first + i);
        const std::uint8_t v = buffer[i];
        if (a < kSfrBase) {
          // Direct and indirect RAM below 80h are the same bytes.
          Store(kDataSlot, a, v);
          Store(kIdataSlot, a, v);
          state_.dataImage[a] = v;
          state_.idataImage[a] = v;
          // A byte the monitor owns reaches the chip with the next write
          // registers; the chip's byte is the monitor's now.
          if (std::uint8_t* user = transfers_.MonitorShadow(a)) {
            *user = v;
            continue;
          }
        } else {
          Store(slot, a, v);
          state_.idataImage[a] = v;
        }
        cmd_.WriteIdataBlock(1, a);
      }
      if (internal < n) WriteSfrs(slot, first + internal, buffer + internal, n - internal);
      return;
    }
    case Space::kPdata:
    case Space::kXdata: {
      const std::uint32_t first = space == Space::kPdata ? (address & 0xFF) : (address & 0xFFFF);
      if (state_.xdataImage.size() < kLargeSpace) return;
      for (std::uint32_t i = 0; i < n; ++i) {
        Store(slot, first + i, buffer[i]);
        state_.xdataImage[first + i] = buffer[i];
      }
      transfers_.WriteXdataRange(static_cast<int>(first), static_cast<int>(n));
      return;
    }
    case Space::kCode: {
      const std::uint32_t first = address & 0xFFFF;
      if (state_.codeImage.size() < kLargeSpace) return;
      for (std::uint32_t i = 0; i < n; ++i) {
        Store(slot, first + i, buffer[i]);
        state_.codeImage[first + i] = buffer[i];
      }
      transfers_.WriteCodeRange(static_cast<int>(first), static_cast<int>(n));
      return;
    }
    case Space::kNone:
      return;
  }
}

void MemoryAccess::WriteSfrs(int slot, std::uint32_t first, const std::uint8_t* buffer,
                             std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) {
    Store(slot, first + i, buffer[i]);
    state_.dataImage[first + i] = buffer[i];
  }
  for (std::uint32_t i = 0; i < n; ++i)
    transfers_.WriteSfrThroughShadows(static_cast<std::uint8_t>(first + i));
}

std::uint16_t MemoryAccess::MemAtt(std::uint16_t code, std::uint32_t attribute,
                                   AddressRecord* record) {
  if (running_ || abandon_ || record == nullptr) return 1;
  if (code == 1) {
    shadow_.SetAttributes(record->address, record->length,
                          static_cast<std::uint16_t>(attribute & 0xFFFF));
    record->result = 0;
  } else if (code == 2) {
    // The host's address word receives the cell's address. A 64-bit host's
    // pointer needs the result word as well.
    std::uint16_t* cell = AttributeCell(record->address);
    if constexpr (sizeof(void*) == sizeof(std::uint32_t)) {
      record->address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(cell));
    } else {
      const auto value = reinterpret_cast<std::uintptr_t>(cell);
      std::memcpy(record, &value, sizeof value);
    }
  }
  return 0;
}

std::uint16_t* MemoryAccess::AttributeCell(std::uint32_t address) {
  const int slot = ShadowMemory::PageIndex(address);
  if (!shadow_.Exists(slot)) return nullptr;
  return &shadow_.At(slot).cells[address & 0xFFFF];
}

void MemoryAccess::InvalidateAfterRun() {
  registersWritten_ = false;
  ClearValid(kDataSlot, 0, kSmallSpace);
  ClearValid(kIdataSlot, kSfrBase, kSmallSpace - kSfrBase);
  ClearValid(256, 0, kLargeSpace);  // XDATA bank 0, PDATA included
}

void MemoryAccess::InvalidateRegisterBytes() {
  ClearValid(kDataSlot, 0, kRegisterBanksEnd);
  ClearValid(kDataSlot, kSfrBase, kSmallSpace - kSfrBase);
}

}  // namespace kz
