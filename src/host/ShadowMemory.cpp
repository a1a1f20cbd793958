#include "host/ShadowMemory.h"

#include <new>

#include "host/AG_DLL_DEF.h"

namespace kz {

int ShadowMemory::PageIndex(std::uint32_t address) {
  const std::uint8_t space = static_cast<std::uint8_t>(address >> 24);
  const int bank = static_cast<int>((address >> 16) & 0xFF);
  switch (space) {
    case kSpaceXdata:
    case kSpacePdata:
      return 256 + bank;
    case kSpaceData:
      return 512;
    case kSpaceIdata:
      return 513;
    default:
      return bank;
  }
}

void ShadowMemory::SetAttributes(std::uint32_t address, std::uint32_t length,
                                 std::uint16_t attribute) {
  const int slot = PageIndex(address);
  Page& page = pages_[slot];
  if (page.data == nullptr) {
    page.data.reset(new (std::nothrow) std::uint8_t[kPageBytes]());
    page.cells.reset(new (std::nothrow) std::uint16_t[kPageBytes]());
    if (page.data == nullptr || page.cells == nullptr) {
      page.data.reset();
      page.cells.reset();
      return;
    }
  }
  const std::uint16_t value = attribute == 0 ? 7 : attribute;
  std::uint32_t offset = address & 0xFFFF;
  // Cells past the page end are not there to merge into.
  for (std::uint32_t i = 0; i < length && offset + i < static_cast<std::uint32_t>(kPageBytes);
       ++i) {
    std::uint16_t& cell = page.cells[offset + i];
    cell = static_cast<std::uint16_t>((cell & 0xA007) | value);
  }
}

void ShadowMemory::SetDefaultAttributes() {
  SetAttributes(0xF0000000u, 0x100, 6);    // DATA 00..FF
  SetAttributes(0xF3000080u, 0x80, 6);     // IDATA 80..FF
  SetAttributes(0x01000000u, 0x10000, 6);  // XDATA bank 0
  SetAttributes(0xFF000000u, 0x10000, 3);  // CODE bank 0
}

void ShadowMemory::FreeAll() {
  for (auto& p : pages_) {
    p.data.reset();
    p.cells.reset();
  }
}

int ShadowMemory::PageCount() const {
  int n = 0;
  for (const auto& p : pages_) n += p.data != nullptr ? 1 : 0;
  return n;
}

}  // namespace kz
