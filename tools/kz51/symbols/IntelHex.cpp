#include "symbols/IntelHex.h"

#include <cstdio>
#include <sstream>

namespace kz51 {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
  return buf;
}

}  // namespace

std::size_t HexImage::ByteCount() const {
  std::size_t n = 0;
  for (const auto& s : segments) n += s.bytes.size();
  return n;
}

std::uint32_t HexImage::Low() const {
  std::uint32_t low = 0;
  bool first = true;
  for (const auto& s : segments) {
    if (s.bytes.empty()) continue;
    if (first || s.address < low) low = s.address;
    first = false;
  }
  return low;
}

std::uint32_t HexImage::High() const {
  std::uint32_t high = 0;
  for (const auto& s : segments) {
    if (s.bytes.empty()) continue;
    const std::uint32_t last = s.address + static_cast<std::uint32_t>(s.bytes.size()) - 1;
    if (last > high) high = last;
  }
  return high;
}

bool ParseIntelHex(const std::string& text, const std::string& name, HexImage& image,
                   std::string& error) {
  image = HexImage{};
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  std::uint32_t base = 0;  // from extended segment / linear address records
  bool sawEnd = false;
  auto fail = [&](const std::string& what) {
    std::ostringstream msg;  // not operator+: GCC 12 -Wrestrict misfires on it at -O3
    msg << name << ':' << lineNo << ": " << what;
    error = msg.str();
    return false;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    if (line.empty()) continue;
    if (sawEnd) return fail("data after the end-of-file record");
    if (line[0] != ':') return fail("a record must start with ':'");
    if (line.size() < 11 || (line.size() - 1) % 2 != 0)
      return fail("record too short or with an odd number of hex digits");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
      const int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
      if (hi < 0 || lo < 0) return fail("'" + line.substr(i, 2) + "' is not a hex byte");
      bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    const std::size_t count = bytes[0];
    if (bytes.size() != count + 5)
      return fail("record length " + std::to_string(count) + " does not match its " +
                  std::to_string(bytes.size() - 5) + " data bytes");
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    const unsigned expected = (0x100u - (sum & 0xFFu)) & 0xFFu;
    if (bytes.back() != expected)
      return fail("bad checksum " + Hex2(bytes.back()) + "h (the record's bytes give " +
                  Hex2(expected) + "h)");
    const std::uint32_t offset = (std::uint32_t{bytes[1]} << 8) | bytes[2];
    const std::uint8_t type = bytes[3];
    const std::uint8_t* data = bytes.data() + 4;
    switch (type) {
      case 0x00: {
        const std::uint32_t address = base + offset;
        if (count == 0) break;
        if (!image.segments.empty()) {
          auto& last = image.segments.back();
          if (last.address + last.bytes.size() == address) {
            last.bytes.insert(last.bytes.end(), data, data + count);
            break;
          }
        }
        image.segments.push_back({address, std::vector<std::uint8_t>(data, data + count)});
        break;
      }
      case 0x01:
        if (count != 0) return fail("end-of-file record with data");
        sawEnd = true;
        break;
      case 0x02:
        if (count != 2) return fail("extended segment address record needs 2 bytes");
        base = ((std::uint32_t{data[0]} << 8) | data[1]) << 4;
        break;
      case 0x04:
        if (count != 2) return fail("extended linear address record needs 2 bytes");
        base = ((std::uint32_t{data[0]} << 8) | data[1]) << 16;
        break;
      case 0x03:
      case 0x05:
        if (count != 4) return fail("start address record needs 4 bytes");
        image.start = (std::uint32_t{data[0]} << 24) | (std::uint32_t{data[1]} << 16) |
                      (std::uint32_t{data[2]} << 8) | data[3];
        break;
      default:
        return fail("unknown record type " + Hex2(type) + "h");
    }
  }
  if (!sawEnd) {
    error = name + ": no end-of-file record (the file is cut short)";
    return false;
  }
  return true;
}

}  // namespace kz51
