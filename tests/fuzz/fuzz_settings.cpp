// libFuzzer target: the settings file image and the command line rule.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "config/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kz::TargetConfig rec;
  std::memset(rec.Bytes(), 0x5A, kz::kTargetConfigSize);
  const bool good = kz::ReadSettingsImage(rec, data, size);
  if (!good) kz::ApplySettingsDefaults(rec);
  // Whatever came in, the record now carries the signature.
  if (std::memcmp(rec.Bytes(), kz::kSettingsSignature.data(), kz::kSettingsSignature.size()) != 0)
    __builtin_trap();
  if (good && size < kz::kTargetConfigSize) __builtin_trap();

  const std::string line(reinterpret_cast<const char*>(data), size);
  for (char separator : {'\\', '/'}) {
    const std::string dir = kz::FindDataDirectory(line, separator);
    if (!dir.empty() && dir.back() != separator) __builtin_trap();
    if (dir.find('"') != std::string::npos || dir.find(' ') != std::string::npos) __builtin_trap();
  }
  return 0;
}
