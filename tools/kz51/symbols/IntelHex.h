#pragma once
// Intel HEX reader: every record's checksum and type are verified; a bad file
// is reported with its name and line number.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kz51 {

struct HexSegment {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
};

struct HexImage {
  // Contiguous runs of data, in file order, merged where a record continues
  // the previous one.
  std::vector<HexSegment> segments;
  std::optional<std::uint32_t> start;  // from a start address record
  std::size_t ByteCount() const;
  // The lowest and highest address holding data (0, 0 when empty).
  std::uint32_t Low() const;
  std::uint32_t High() const;
};

// Parses `text`; `name` is used in messages ("prog.ihx:12: bad checksum ...").
// Returns false with `error` set on the first fault.
bool ParseIntelHex(const std::string& text, const std::string& name, HexImage& image,
                   std::string& error);

}  // namespace kz51
