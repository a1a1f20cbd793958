#include "connect/FmdIndex.h"

#include <algorithm>
#include <cstring>

#include "config/ByteOrder.h"
#include "connect/FmdScramble.h"

namespace kz {

bool ParseFmdIndex(const std::uint8_t* data, std::size_t size, std::vector<FmdIndexRecord>& out) {
  out.clear();
  if (data == nullptr || size < kFmdIndexOffset) return false;
  if (std::memcmp(data, kFmdSignature.data(), kFmdSignature.size()) != 0) return false;
  const auto count = LoadLe<std::int32_t>(data + kFmdCountOffset);
  const std::size_t wanted = count < 1 ? 1 : static_cast<std::size_t>(count);
  const std::size_t present = (size - kFmdIndexOffset) / kFmdIndexRecordSize;
  const std::size_t n = std::min(wanted, present);
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* p = data + kFmdIndexOffset + i * kFmdIndexRecordSize;
    FmdIndexRecord record;
    record.nameLength = p[0];
    record.name.assign(reinterpret_cast<const char*>(p + 1),
                       std::min<std::size_t>(p[0], kFmdMaxNameLength));
    record.dataOffset = LoadLe<std::int32_t>(p + 23);
    record.dataLength = LoadLe<std::int32_t>(p + 27);
    record.scrambleMode = LoadLe<std::int32_t>(p + 31);
    out.push_back(std::move(record));
  }
  return true;
}

const FmdIndexRecord* FindFmdRecord(const std::vector<FmdIndexRecord>& index,
                                    const std::string& name) {
  for (const auto& record : index)
    if (record.nameLength == name.size() && record.name == name) return &record;
  return nullptr;
}

bool FmdRecordInFile(const FmdIndexRecord& record, std::size_t fileSize) {
  if (record.dataOffset < 0 || record.dataLength < 0) return false;
  const auto offset = static_cast<std::uint64_t>(record.dataOffset);
  const auto length = static_cast<std::uint64_t>(record.dataLength);
  return offset <= fileSize && length <= fileSize - offset;
}

bool ExtractFmdRecord(const std::uint8_t* data, std::size_t size, const FmdIndexRecord& record,
                      std::vector<std::uint8_t>& out) {
  out.clear();
  if (!FmdRecordInFile(record, size)) return false;
  const auto length = static_cast<std::size_t>(record.dataLength);
  out.resize(length);
  const std::uint8_t* p = data + record.dataOffset;
  for (std::size_t i = 0; i < length; ++i) out[i] = Descramble(record.scrambleMode, p[i]);
  return true;
}

std::array<std::uint8_t, kFmdIndexRecordSize> EncodeFmdIndexRecord(const FmdIndexRecord& record) {
  std::array<std::uint8_t, kFmdIndexRecordSize> bytes{};
  const std::size_t n = std::min(record.name.size(), kFmdMaxNameLength);
  bytes[0] = static_cast<std::uint8_t>(n);
  std::memcpy(bytes.data() + 1, record.name.data(), n);
  StoreLe<std::int32_t>(bytes.data() + 23, record.dataOffset);
  StoreLe<std::int32_t>(bytes.data() + 27, record.dataLength);
  StoreLe<std::int32_t>(bytes.data() + 31, record.scrambleMode);
  return bytes;
}

}  // namespace kz
