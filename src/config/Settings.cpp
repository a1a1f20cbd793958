#include "config/Settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/System.h"

namespace kz {

std::string FindDataDirectory(const std::string& commandLine, char separator) {
  std::string path;
  for (char ch : commandLine) {
    if (ch == ' ') break;  // a blank ends the program path even between quotes
    if (ch != '"') path.push_back(ch);
  }
  const auto last = path.rfind(separator);
  if (last == std::string::npos) return {};
  path.resize(last + 1);
  return path;
}

bool ReadSettingsImage(TargetConfig& rec, const std::uint8_t* data, std::size_t size) {
  const std::size_t n = std::min(size, kTargetConfigSize);
  if (n > 0) std::memcpy(rec.Bytes(), data, n);
  bool good = n == kTargetConfigSize;
  if (std::memcmp(rec.Bytes(), kSettingsSignature.data(), kSettingsSignature.size()) != 0)
    good = false;
  return good;
}

void ApplySettingsDefaults(TargetConfig& rec) {
  std::memcpy(rec.Signature, kSettingsSignature.data(), kSettingsSignature.size());
  rec.EmulatorIndex = 0;
  rec.PodIndex = 0;
  rec.CpuSelection = 0;
  rec.Reserved1072 = 0;
  rec.Reserved1076 = 0;
  rec.Reserved1080 = 1;
}

void LoadSettings(TargetConfig& rec, const std::string& dataDir) {
  const std::string path = dataDir + kSettingsFileName;
  bool good = false;
  // Read and write access on purpose: a file that cannot be written counts
  // as missing. in|out never creates the file.
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  if (file.is_open()) {
    std::uint8_t image[kTargetConfigSize];
    file.read(reinterpret_cast<char*>(image), sizeof image);
    const auto got = static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0));
    good = ReadSettingsImage(rec, image, got);
    file.clear();
    file.close();
    if (file.fail()) good = false;
  }
  if (!good) ApplySettingsDefaults(rec);
}

namespace {

enum class WriteResult { NotOpened, Failed, Written };

// Writes the whole image through to the disk with the given fopen mode.
WriteResult WriteThrough(const std::string& path, const char* mode, const std::uint8_t* data,
                         std::size_t size, System& system) {
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (f == nullptr) return WriteResult::NotOpened;
  bool ok = std::fwrite(data, 1, size, f) == size;
  ok = system.SyncFile(f) && ok;
  ok = std::fclose(f) == 0 && ok;
  return ok ? WriteResult::Written : WriteResult::Failed;
}

}  // namespace

void SaveSettings(const TargetConfig& rec, const std::string& dataDir, System& system) {
  const std::string target = dataDir + kSettingsFileName;
  const std::string temp = dataDir + kSettingsTempFileName;

  // An existing settings file we may not write (read-only) stays as it is.
  // The paths are used only with the C library and the system port, which
  // both take them as the bytes the data directory holds.
  if (std::FILE* existing = std::fopen(target.c_str(), "rb")) {
    std::fclose(existing);
    std::FILE* writable = std::fopen(target.c_str(), "r+b");
    if (writable == nullptr) return;
    std::fclose(writable);
  }

  // A temp file left by an interrupted save is ours to replace.
  std::remove(temp.c_str());
  switch (WriteThrough(temp, "wb", rec.Bytes(), kTargetConfigSize, system)) {
    case WriteResult::Written:
      // The replacement is one step, so the settings file is always either
      // the old or the new complete image.
      if (!system.ReplaceFile(temp, target)) std::remove(temp.c_str());
      return;
    case WriteResult::Failed:
      std::remove(temp.c_str());
      return;
    case WriteResult::NotOpened:
      break;
  }
  // No temp file can be made (a directory that takes no new file, a leftover
  // that cannot be removed): the settings are still saved, in place. An
  // existing file is overwritten without being cut first.
  std::FILE* existing = std::fopen(target.c_str(), "rb");
  if (existing != nullptr) std::fclose(existing);
  WriteThrough(target, existing != nullptr ? "r+b" : "wb", rec.Bytes(), kTargetConfigSize, system);
}

}  // namespace kz
