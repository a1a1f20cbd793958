#pragma once
// Pieces the end-to-end suites share for their host children: a private data
// directory and a wait that a hung child cannot stretch past its deadline.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <thread>

namespace kz::e2e {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class DataDir {
 public:
  DataDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("kz51-e2e-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~DataDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  DataDir(const DataDir&) = delete;
  DataDir& operator=(const DataDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Waits for the child; one still running at the deadline is killed. Answers
// false when it had to be killed. `status` is waitpid's.
inline bool WaitForChild(pid_t pid, std::chrono::milliseconds limit, int& status) {
  status = 0;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace kz::e2e
