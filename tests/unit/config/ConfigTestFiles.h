#pragma once
// Scratch directories and file helpers for the configuration tests.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kz::test {

using ByteVector = std::vector<std::uint8_t>;

// A fresh directory per test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() /
           ("kz51-config-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
  }
  ~ScratchDir() {
#ifndef _WIN32
    for (const auto& p : immutable_) Run("chattr -i '" + p.string() + "'");
#endif
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir_, ec))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory as the driver prefixes it to file names.
  std::string Prefix() const {
    return dir_.string() + "/";
  }
  std::filesystem::path Path(const std::string& name) const {
    return dir_ / name;
  }

  void Write(const std::string& name, const ByteVector& bytes) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  ByteVector Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Makes the file impossible to open for writing. False when that cannot be
  // arranged (a privileged user without the immutable attribute).
  bool MakeReadOnly(const std::string& name) {
    const auto p = Path(name);
    std::filesystem::permissions(p,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    if (!Writable(p)) return true;
#ifndef _WIN32
    Run("chattr +i '" + p.string() + "' 2>/dev/null");
    immutable_.push_back(p);
#endif
    return !Writable(p);
  }

  // Makes the directory take no new file while its files stay writable.
  // False when that cannot be arranged.
  bool CloseDirectory() {
    std::filesystem::permissions(dir_,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    if (!TakesNewFile()) return true;
#ifndef _WIN32
    Run("chattr +i '" + dir_.string() + "' 2>/dev/null");
    immutable_.push_back(dir_);
#endif
    return !TakesNewFile();
  }

 private:
  bool TakesNewFile() const {
    const auto probe = dir_ / "probe";
    const bool made = std::ofstream(probe).is_open();
    std::error_code ec;
    std::filesystem::remove(probe, ec);
    return made;
  }
  static bool Writable(const std::filesystem::path& p) {
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    return f.is_open();
  }
  static void Run(const std::string& command) {
    const int rc = std::system(command.c_str());
    (void)rc;
  }
  std::filesystem::path dir_;
  std::vector<std::filesystem::path> immutable_;
};

}  // namespace kz::test
