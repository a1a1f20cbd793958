#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/posix/PosixPorts.h"

namespace kz {

std::string PosixSystem::CommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  for (auto& c : raw)
    if (c == '\0') c = ' ';
  return raw;
}

bool PosixSystem::ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool PosixSystem::SyncFile(std::FILE* file) {
  return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

PlatformPorts MakePlatformPorts() {
  PlatformPorts p;
  p.usb = std::make_unique<PosixUsbPipes>();
  p.ui = std::make_unique<PosixUi>();
  p.system = std::make_unique<PosixSystem>();
  return p;
}

}  // namespace kz
