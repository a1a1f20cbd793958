#pragma once
// The shadow memory: a driver-side copy of target bytes with one 16-bit
// attribute cell per byte, in pages allocated on demand.
#include <array>
#include <cstdint>
#include <memory>

namespace kz {

class ShadowMemory {
 public:
  static constexpr int kSlots = 520;
  static constexpr int kPageBytes = 65540;
  static constexpr std::uint16_t kValid = 0x8000;

  struct Page {
    std::unique_ptr<std::uint8_t[]> data;
    std::unique_ptr<std::uint16_t[]> cells;
  };

  // Page index of a target address: XDATA/PDATA 256 + bank, DATA 512,
  // IDATA 513, any other space its bank.
  static int PageIndex(std::uint32_t address);

  // Merges the attribute (0 means 7) into `length` cells from the address's
  // offset, allocating the page first. The cell keeps its valid bit, bit 13
  // and its access attributes.
  void SetAttributes(std::uint32_t address, std::uint32_t length, std::uint16_t attribute);
  void SetDefaultAttributes();
  void FreeAll();
  bool Exists(int slot) const { return slot >= 0 && slot < kSlots && pages_[slot].data != nullptr; }
  int PageCount() const;
  Page& At(int slot) { return pages_[slot]; }

 private:
  std::array<Page, kSlots> pages_;
};

}  // namespace kz
