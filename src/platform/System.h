#pragma once
// Port to the operating system services the core needs besides USB and UI.
#include <cstdint>
#include <string>

namespace kz {

class System {
 public:
  virtual ~System() = default;
  // The process command line: GetCommandLineA on Windows, /proc/self/cmdline
  // joined with blanks on Linux.
  virtual std::string CommandLine() = 0;
  // The directory separator of data file paths ('\\' on Windows, '/' on Linux).
  virtual char PathSeparator() const = 0;
  // Creates a named manual-reset event, initially not signalled. The driver
  // never waits on it; it exists because hosts may look for it.
  virtual void CreateNamedEvent(const char* name) = 0;
  // Posts a message to the host's window without waiting (the host notice).
  virtual void PostHostMessage(std::uintptr_t window, std::uint32_t message, std::uintptr_t wparam,
                               std::intptr_t lparam) = 0;
};

}  // namespace kz
