// A process killed in the middle of saving its settings, many times at random
// moments: the settings file must always hold either the record saved before
// or the one being saved, complete, never a cut-off or mixed file.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/Settings.h"
#include "fakes/TempDir.h"
#include "platform/posix/PosixPorts.h"

namespace kz {
namespace {

constexpr std::size_t kSerialOffset = 33;  // reserved bytes: the driver never reads them

// Record number k: the signature, k in the reserved bytes after it, and every
// later byte a function of k and its offset, so a file mixed from two records
// or cut off is seen.
TargetConfig Numbered(std::uint32_t k) {
  TargetConfig rec{};
  std::uint8_t* b = rec.Bytes();
  for (std::size_t i = 0; i < kTargetConfigSize; ++i)
    b[i] = static_cast<std::uint8_t>(k * 31u + i * 7u + (k >> 8));
  std::memcpy(b, kSettingsSignature.data(), kSettingsSignature.size());
  StoreLe<std::uint32_t>(b + kSerialOffset, k);
  return rec;
}

// The helper: saves records 1, 2, 3, ... through the driver's settings code
// and reports each completed save on the pipe. Never returns.
[[noreturn]] void SaveForever(const std::string& dataDir, int reportFd) {
  PosixSystem system;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (std::uint32_t k = 1;; ++k) {
    SaveSettings(Numbered(k), dataDir, system);
    if (write(reportFd, &k, sizeof k) != static_cast<ssize_t>(sizeof k)) _exit(2);
    // An orphaned helper must not save forever.
    if (std::chrono::steady_clock::now() > giveUp) _exit(3);
  }
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

// A directory in memory when the system has one: a save then waits for no
// disk (it flushes to it), and the replacement is the same single step.
class MemoryDir {
 public:
  MemoryDir() {
    char name[] = "/dev/shm/kz51-save-XXXXXX";
    if (mkdtemp(name) != nullptr)
      path_ = name;
    else
      disk_.emplace();
  }
  ~MemoryDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string DataDirectory() const { return disk_ ? disk_->DataDirectory() : path_ + "/"; }

 private:
  std::string path_;
  std::optional<fake::TempDir> disk_;
};

TEST(InterruptedSave, FileIsAlwaysTheOldOrTheNewCompleteRecord) {
  MemoryDir dir;
  const std::string dataDir = dir.DataDirectory();
  const std::string file = dataDir + kSettingsFileName;
  PosixSystem system;
  std::uint32_t onDisk = 0;  // the record the file held when the helper started
  const auto t0 = std::chrono::steady_clock::now();
  SaveSettings(Numbered(0), dataDir, system);
  // Kills land anywhere in the next three saves after the helper's first.
  const auto saveUs =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<long long> delayUs(0, 3 * saveUs + 50);
  constexpr int kKills = 200;
  for (int round = 0; round < kKills; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      SaveForever(dataDir, fds[1]);
    }
    close(fds[1]);
    // The helper's first finished save: from here it is inside its loop.
    std::uint32_t k = 0, reported = 0;
    ASSERT_EQ(read(fds[0], &k, sizeof k), static_cast<ssize_t>(sizeof k));
    reported = k;
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng)));
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the helper ended by itself, status " << status;
    while (read(fds[0], &k, sizeof k) == static_cast<ssize_t>(sizeof k)) reported = k;
    close(fds[0]);

    const std::vector<std::uint8_t> bytes = ReadAll(file);
    ASSERT_EQ(bytes.size(), kTargetConfigSize) << "round " << round;
    const std::uint32_t found = LoadLe<std::uint32_t>(&bytes[kSerialOffset]);
    const TargetConfig expected = Numbered(found);
    ASSERT_EQ(std::memcmp(bytes.data(), expected.Bytes(), kTargetConfigSize), 0)
        << "round " << round << ": record " << found << " is not complete";
    // The old complete record (the last one the helper reported) or the one
    // being saved when the kill came.
    EXPECT_TRUE(found == reported || found == reported + 1)
        << "round " << round << ": file holds " << found << ", last saved " << reported;
    // What the last check below expects to load.
    onDisk = found;
  }

  // Whatever a kill left behind (a stray temp file), the file reads as good
  // and the next save still works.
  TargetConfig loaded{};
  LoadSettings(loaded, dataDir);
  const TargetConfig last = Numbered(onDisk);
  EXPECT_EQ(std::memcmp(loaded.Bytes(), last.Bytes(), kTargetConfigSize), 0);
  SaveSettings(Numbered(7777), dataDir, system);
  const auto after = ReadAll(file);
  ASSERT_EQ(after.size(), kTargetConfigSize);
  EXPECT_EQ(LoadLe<std::uint32_t>(&after[kSerialOffset]), 7777u);
}

}  // namespace
}  // namespace kz

#endif  // !_WIN32
