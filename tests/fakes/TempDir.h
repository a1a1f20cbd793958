#pragma once
// A fresh directory for one test, removed afterwards.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace kz::fake {

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("kz51-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The path of `name` inside it, as text.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  // The directory as the driver's data directory: with its trailing separator.
  std::string DataDirectory() const { return path_.string() + "/"; }
  void Write(const std::string& name, const std::vector<unsigned char>& bytes) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::filesystem::path path_;
};

}  // namespace kz::fake
