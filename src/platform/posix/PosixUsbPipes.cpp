// USB pipes through the provider library libusbd12.so, loaded at run time. Its
// openUSBfile_3/openUSBfile_2 return file descriptors (-1 invalid); a missing
// library is the same as pipes that cannot be opened.
#include <dlfcn.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/PosixPorts.h"

namespace kz {

PosixUsbPipes::PosixUsbPipes(const char* library) {
  handle_ = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (handle_ != nullptr) {
    open3_ = reinterpret_cast<OpenFn>(dlsym(handle_, "openUSBfile_3"));
    open2_ = reinterpret_cast<OpenFn>(dlsym(handle_, "openUSBfile_2"));
  }
}

PosixUsbPipes::~PosixUsbPipes() = default;  // the provider stays loaded for the process

PipeHandle PosixUsbPipes::OpenReadPipe() {
  if (open3_ == nullptr) return kInvalidPipe;
  int fd = open3_();
  return fd < 0 ? kInvalidPipe : fd;
}

PipeHandle PosixUsbPipes::OpenWritePipe() {
  if (open2_ == nullptr) return kInvalidPipe;
  int fd = open2_();
  return fd < 0 ? kInvalidPipe : fd;
}

bool PosixUsbPipes::Write(PipeHandle h, const std::uint8_t* data, std::uint32_t len) {
  if (h == kInvalidPipe) return false;
  // A provider whose other end went away must not kill the host with SIGPIPE:
  // sockets are written with MSG_NOSIGNAL, anything else with write.
  ssize_t n;
  do {
    n = ::send(static_cast<int>(h), data, len, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == ENOTSOCK) {
    do {
      n = ::write(static_cast<int>(h), data, len);
    } while (n < 0 && errno == EINTR);
  }
  return n >= 0;
}

bool PosixUsbPipes::Read(PipeHandle h, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) {
  got = 0;
  if (h == kInvalidPipe) return false;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(h), data, len);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    // A receive time-out is the provider's "nothing yet", as ReadFile returning 0 bytes.
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
  got = static_cast<std::uint32_t>(n);
  return true;
}

void PosixUsbPipes::Close(PipeHandle h) {
  if (h != kInvalidPipe) ::close(static_cast<int>(h));
}

void PosixUsbPipes::SleepMs(std::uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace kz
