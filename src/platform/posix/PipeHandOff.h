// A pipe provider's side of how the driver opens a link: the read pipe
// first, then the write pipe, and both must reach the same connection. The
// read pipe starts a new connection; the write pipe that follows gets a
// duplicate of it (our own descriptor, not the driver's number, which the
// driver may close and the system reuse in between). A write pipe opened
// without a read pipe before it starts a connection of its own.
#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace kz {

class PipeHandOff {
 public:
  PipeHandOff() = default;
  PipeHandOff(const PipeHandOff&) = delete;
  PipeHandOff& operator=(const PipeHandOff&) = delete;

  // `newConnection` answers the driver's end of a new connection, or -1.
  // The caller serialises the calls.
  template <class NewConnection>
  int OpenRead(NewConnection newConnection) {
    if (pending_ >= 0) close(pending_);
    pending_ = -1;
    const int fd = newConnection();
    if (fd >= 0) pending_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return fd;
  }

  template <class NewConnection>
  int OpenWrite(NewConnection newConnection) {
    const int fd = pending_;
    pending_ = -1;
    return fd >= 0 ? fd : newConnection();
  }

 private:
  int pending_ = -1;  // duplicate of the last read pipe, not yet handed out
};

}  // namespace kz
