#include "dap/Log.h"

namespace kzhost::dap {

Log::Log(const std::string& path) {
  if (path.empty()) {
    file_ = stderr;
  } else {
    file_ = std::fopen(path.c_str(), "a");
    own_ = file_ != nullptr;
  }
}

Log::~Log() {
  if (own_) std::fclose(file_);
}

void Log::Line(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  std::fprintf(file_, "kz51 dap: %s\n", text.c_str());
  std::fflush(file_);
}

}  // namespace kzhost::dap
