#pragma once
// Port to the USB pipe provider (usbd12.dll on Windows, libusbd12.so on Linux).
// It only moves 64-byte packets; the retry patterns belong to the transport.
#include <chrono>
#include <cstdint>

namespace kz {

// Opaque pipe handle: a Windows HANDLE or a POSIX file descriptor. All ones
// (-1) is the invalid handle on both platforms.
using PipeHandle = std::intptr_t;
inline constexpr PipeHandle kInvalidPipe = -1;

class UsbPipes {
 public:
  virtual ~UsbPipes() = default;
  // openUSBfile_3 of the provider; kInvalidPipe on failure or when the
  // provider library is missing.
  virtual PipeHandle OpenReadPipe() = 0;
  // openUSBfile_2 of the provider; same contract.
  virtual PipeHandle OpenWritePipe() = 0;
  // Synchronous write; false when the system reports failure. The count of
  // bytes written is not reported (the transport ignores it).
  virtual bool Write(PipeHandle h, const std::uint8_t* data, std::uint32_t len) = 0;
  // Synchronous read of up to len bytes; false when the system reports
  // failure. `got` receives the count delivered (0 on a time-out).
  virtual bool Read(PipeHandle h, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) = 0;
  virtual void Close(PipeHandle h) = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
  // A monotonic clock in milliseconds; the transport bounds link open by it.
  virtual std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
};

}  // namespace kz
