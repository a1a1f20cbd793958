#include "dap/SerialOutput.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

#include "dap/Platform.h"

namespace kzhost::dap {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr std::size_t kChunk = 4096;
constexpr const char* kPrefix = "kz51-serial-";

std::string Trim(std::string s) {
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Where the emulator keeps the file open until the process ends, the file
// outlives its session; the next session removes those no process holds.
void RemoveLeftFiles(const std::filesystem::path& dir) {
  if (OpenFilesCanBeRemoved()) return;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (it->path().filename().string().rfind(kPrefix, 0) != 0) continue;
    std::error_code ignored;
    std::filesystem::remove(it->path(), ignored);
  }
}

std::string TemporaryPath() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = ".";
  RemoveLeftFiles(dir);
  std::random_device rd;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char name[48];
    std::snprintf(name, sizeof name, "%s%08x%08x.txt", kPrefix, rd(), rd());
    const std::filesystem::path p = dir / name;
    if (!std::filesystem::exists(p, ec)) return p.string();
  }
  return (dir / "kz51-serial.txt").string();
}

}  // namespace

SerialFile ChooseSerialFile(const std::string& emulator) {
  SerialFile out;
  // The emulator takes the last serial_out it is given.
  std::string value;
  bool named = false;
  std::size_t from = 0;
  while (from <= emulator.size()) {
    std::size_t comma = emulator.find(',', from);
    if (comma == std::string::npos) comma = emulator.size();
    const std::string item = Trim(emulator.substr(from, comma - from));
    if (item.rfind("serial_out=", 0) == 0) {
      value = item.substr(11);
      named = true;
    }
    from = comma + 1;
  }
  if (named && !value.empty() && value != "stdout") {
    out.emulator = emulator;
    if (value != "stderr") out.path = value;
    return out;
  }
  out.path = TemporaryPath();
  out.owned = true;
  // Create it now so that its name stays ours.
  std::ofstream(out.path, std::ios::binary | std::ios::app);
  out.emulator = emulator + (Trim(emulator).empty() ? "" : ",") + "serial_out=" + out.path;
  return out;
}

std::uint64_t SerialOutput::SizeOf(const std::string& path) {
  std::error_code ec;
  const auto n = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<std::uint64_t>(n);
}

SerialOutput::SerialOutput(std::string path, bool owned, std::uint64_t offset, Sink sink)
    : path_(std::move(path)), owned_(owned), sink_(std::move(sink)), offset_(offset) {
  thread_ = std::thread([this] { Follow(); });
}

SerialOutput::~SerialOutput() {
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  Flush();
  if (owned_) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

void SerialOutput::Follow() {
  std::unique_lock<std::mutex> lock(wakeMutex_);
  while (!wake_.wait_for(lock, kPollInterval, [this] { return stopping_; })) {
    lock.unlock();
    Flush();
    lock.lock();
  }
}

void SerialOutput::Flush() {
  std::lock_guard<std::mutex> lock(readMutex_);
  if (SizeOf(path_) <= offset_) return;
  std::ifstream f(path_, std::ios::binary);
  if (!f) return;
  f.seekg(static_cast<std::streamoff>(offset_));
  std::vector<char> buffer(kChunk);
  while (f.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || f.gcount() > 0) {
    const auto n = static_cast<std::size_t>(f.gcount());
    offset_ += n;
    sink_(std::string(buffer.data(), n));
  }
}

}  // namespace kzhost::dap
