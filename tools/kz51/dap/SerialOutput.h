#pragma once
// The target's serial output in the debug console: the virtual emulator
// appends every byte the target transmits to the file named by its
// serial_out setting; a follower thread forwards what the file gains.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kzhost::dap {

// The serial output file a session uses, chosen before the driver loads.
struct SerialFile {
  std::string emulator;  // the KZ51_EMU settings to use
  std::string path;      // the file serial_out names; empty: none to follow
  bool owned = false;    // a private temporary file, removed at the end
};

// Adds serial_out=<a private temporary file> to the settings unless they
// name a file already (then that file is followed). serial_out=stdout would
// write into the protocol stream, so it goes to the private file as well.
SerialFile ChooseSerialFile(const std::string& emulator);

class SerialOutput {
 public:
  using Sink = std::function<void(const std::string& bytes)>;
  // Follows `path` from byte `offset` on (what the file held before the
  // session started is not the session's).
  SerialOutput(std::string path, bool owned, std::uint64_t offset, Sink sink);
  // Forwards what is left, stops following and removes an owned file.
  ~SerialOutput();
  SerialOutput(const SerialOutput&) = delete;
  SerialOutput& operator=(const SerialOutput&) = delete;

  // Forwards the bytes written since the last call, on the calling thread:
  // what the target sent before a stop reaches the editor before the stop.
  void Flush();

  // The size of a file, 0 when it does not exist.
  static std::uint64_t SizeOf(const std::string& path);

 private:
  void Follow();

  const std::string path_;
  const bool owned_;
  Sink sink_;
  std::mutex readMutex_;  // one reader at a time: bytes are sent in order
  std::uint64_t offset_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace kzhost::dap
