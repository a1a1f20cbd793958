#pragma once
// The adapter's log: standard output carries the protocol, so the log goes
// to standard error or to a file, never to standard output.
#include <cstdio>
#include <mutex>
#include <string>

namespace kzhost::dap {

class Log {
 public:
  // An empty path logs to standard error.
  explicit Log(const std::string& path);
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  void Line(const std::string& text);
  bool Opened() const { return file_ != nullptr; }

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool own_ = false;
};

}  // namespace kzhost::dap
