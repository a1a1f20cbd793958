// libFuzzer target: the configuration library index and record extraction.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "connect/FmdIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<kz::FmdIndexRecord> index;
  if (!kz::ParseFmdIndex(data, size, index)) return 0;
  // Never more records than the data holds.
  if (index.size() > (size - kz::kFmdIndexOffset) / kz::kFmdIndexRecordSize) __builtin_trap();
  std::vector<std::uint8_t> image;
  for (const auto& record : index) {
    if (record.name.size() > kz::kFmdMaxNameLength) __builtin_trap();
    const kz::FmdIndexRecord* found = kz::FindFmdRecord(index, record.name);
    if (found != nullptr && found->name != record.name) __builtin_trap();
    if (kz::ExtractFmdRecord(data, size, record, image) &&
        image.size() != static_cast<std::size_t>(record.dataLength))
      __builtin_trap();
  }
  for (const char* name : {"MON51A", "JYP51A", "QJZT_P51K", ""}) kz::FindFmdRecord(index, name);
  return 0;
}
