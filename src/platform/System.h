#pragma once
// Port to the operating system services the core needs besides USB and UI.
#include <cstdint>
#include <cstdio>
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
  // Replaces `to` by `from` in one step, so that `to` is always either the old
  // or the new complete file. Paths are bytes as the data directory holds
  // them (the system code page on Windows). False when it failed.
  virtual bool ReplaceFile(const std::string& from, const std::string& to) = 0;
  // Flushes the open file's data through to the disk, so that a file put in
  // place afterwards never turns up empty or cut off after a power loss.
  // False when it failed. The default only empties the C library's buffer.
  virtual bool SyncFile(std::FILE* file) { return std::fflush(file) == 0; }
  // Posts a message to the host's window without waiting (the host notice).
  virtual void PostHostMessage(std::uintptr_t window, std::uint32_t message, std::uintptr_t wparam,
                               std::intptr_t lparam) = 0;
};

}  // namespace kz
