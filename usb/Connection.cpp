#include "Connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "link/Transport.h"

namespace kzusb {

namespace {

using Clock = std::chrono::steady_clock;

static_assert(Connection::kReplyTimeoutMs >
                  kz::Transport::kLongPasses * (kz::Transport::kLongReads + 1),
              "the reply wait must outlast the transport's");
static_assert(Connection::kTicks >= kz::Transport::kLongPasses * kz::Transport::kLongReads,
              "one empty packet for each read of the transport");

bool HasBulk(const InterfaceInfo& itf, std::uint8_t address) {
  for (const BulkEndpoint& ep : itf.bulk)
    if (ep.address == address) return true;
  return false;
}

// The interface the settings name, or the one holding the endpoints they
// name, or the first with a bulk pair of 64 bytes.
const InterfaceInfo* ChooseInterface(const DeviceInfo& d, const UsbSettings& s) {
  for (const InterfaceInfo& itf : d.interfaces) {
    if (s.interfaceNumber) {
      if (itf.number == *s.interfaceNumber) return &itf;
    } else if (s.out || s.in) {
      if ((s.out && HasBulk(itf, *s.out)) || (s.in && HasBulk(itf, *s.in))) return &itf;
    } else if (FirstPair(itf)) {
      return &itf;
    }
  }
  return nullptr;
}

// A steady-clock time in milliseconds.
long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

bool SendToDriver(int fd, const void* data, std::size_t length) {
  // Never block the relay on a driver that does not read.
  return send(fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0;
}

extern "C" void LIBUSB_CALL MarkCompleted(libusb_transfer* transfer) {
  *static_cast<int*>(transfer->user_data) = 1;
}

}  // namespace

std::unique_ptr<Connection> Connection::Open(libusb_context* context, const UsbSettings& settings,
                                             FailureLog& failures, int& driverFd) {
  driverFd = -1;
  DeviceList list(context);
  if (list.Error() != 0) {
    failures.Record(sentence::NoLibusb(list.Error()));
    return nullptr;
  }
  const DeviceInfo* device = list.Select(settings);
  if (device == nullptr) {
    failures.Record(sentence::NotFound(settings));
    return nullptr;
  }
  const DeviceName name{device->vid, device->pid, device->bus, device->address};
  const InterfaceInfo* itf = ChooseInterface(*device, settings);
  if (itf == nullptr) {
    failures.Record(
        settings.interfaceNumber ? sentence::NoInterface(name, *settings.interfaceNumber)
        : settings.out || settings.in
            ? sentence::NoEndpoint(name, -1, settings.out ? *settings.out : *settings.in)
            : sentence::NoPair(name));
    return nullptr;
  }
  const auto pair = FirstPair(*itf);
  if ((!settings.out || !settings.in) && !pair) {
    failures.Record(sentence::NoPair(name));
    return nullptr;
  }
  const std::uint8_t out = settings.out ? *settings.out : pair->out;
  const std::uint8_t in = settings.in ? *settings.in : pair->in;
  for (std::uint8_t ep : {out, in}) {
    if (!HasBulk(*itf, ep)) {
      failures.Record(sentence::NoEndpoint(name, itf->number, ep));
      return nullptr;
    }
  }

  libusb_device_handle* handle = nullptr;
  int r = libusb_open(device->device, &handle);
  if (r != 0) {
    failures.Record(r == LIBUSB_ERROR_ACCESS      ? sentence::NoPermission(name)
                    : r == LIBUSB_ERROR_NO_DEVICE ? sentence::Unplugged(name)
                                                  : sentence::Other(name, "opening it", r));
    return nullptr;
  }
  // A kernel driver bound to the interface is detached while we hold it and
  // attached again when it is released (where the system supports it).
  libusb_set_auto_detach_kernel_driver(handle, 1);
  r = libusb_claim_interface(handle, itf->number);
  if (r != 0) {
    failures.Record(r == LIBUSB_ERROR_BUSY        ? sentence::Busy(name, itf->number)
                    : r == LIBUSB_ERROR_ACCESS    ? sentence::NoPermission(name)
                    : r == LIBUSB_ERROR_NO_DEVICE ? sentence::Unplugged(name)
                    : r == LIBUSB_ERROR_NOT_FOUND
                        ? sentence::NoInterface(name, itf->number)
                        : sentence::Other(name, "claiming its interface", r));
    libusb_close(handle);
    return nullptr;
  }

  int sv[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) {
    failures.Record(sentence::Other(name, "making the pipe to the driver", LIBUSB_ERROR_NO_MEM));
    libusb_release_interface(handle, itf->number);
    libusb_close(handle);
    return nullptr;
  }
  // The driver's end: a read with nothing to read returns after 1 ms (the
  // relay's empty packets make that exact), a write that cannot go out
  // fails after 100 ms instead of blocking.
  timeval rcv{0, 1000}, snd{0, 100000};
  setsockopt(sv[0], SOL_SOCKET, SO_RCVTIMEO, &rcv, sizeof rcv);
  setsockopt(sv[0], SOL_SOCKET, SO_SNDTIMEO, &snd, sizeof snd);
  driverFd = sv[0];
  return std::unique_ptr<Connection>(
      new Connection(context, handle, name, itf->number, out, in, failures, sv[1]));
}

Connection::Connection(libusb_context* context, libusb_device_handle* handle,
                       const DeviceName& name, int interfaceNumber, std::uint8_t out,
                       std::uint8_t in, FailureLog& failures, int fd)
    : context_(context),
      handle_(handle),
      name_(name),
      interface_(interfaceNumber),
      out_(out),
      in_(in),
      failures_(failures),
      fd_(fd) {
  stale_ = true;  // whatever the device still holds from an earlier link
  std::thread([this, finished = finished_] {
    Run();
    // From here on the connection may be gone: only `finished` is touched.
    std::lock_guard<std::mutex> hold(finished->lock);
    finished->done = true;
    finished->changed.notify_all();
  }).detach();
}

Connection::~Connection() {
  stop_ = true;
  shutdown(fd_, SHUT_RDWR);  // wakes the relay; the driver reads the end of its pipe
  // The relay ends within its longest step (a 100 ms write); one that does
  // not is left its socket rather than waited for without end.
  std::unique_lock<std::mutex> hold(finished_->lock);
  if (finished_->changed.wait_for(hold, std::chrono::seconds(5),
                                  [this] { return finished_->done; }))
    close(fd_);
}

void Connection::Run() {
  std::array<std::uint8_t, 64> command{};
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, -1) < 0 && errno != EINTR) break;
    const ssize_t n = recv(fd_, command.data(), command.size(), MSG_DONTWAIT);
    if (n == 0) break;  // the driver closed its pipes, or we are told to end
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      break;
    }
    if (!Exchange(command.data(), static_cast<int>(n))) break;
  }
  shutdown(fd_, SHUT_RDWR);
  libusb_release_interface(handle_, interface_);
  libusb_close(handle_);
  handle_ = nullptr;
}

void Connection::Drain() {
  std::array<std::uint8_t, 64> junk{};
  for (int i = 0; i < 16; ++i) {
    int got = 0;
    if (libusb_bulk_transfer(handle_, in_, junk.data(), static_cast<int>(junk.size()), &got,
                             kDrainTimeoutMs) != 0)
      break;
  }
  stale_ = false;
}

std::string Connection::OverdueReply(long long atLeastMs) const {
  const long long since = waitingSince_;
  if (since < 0) return "";
  const long long ms = MsSince(Clock::now()) - since;
  if (ms < atLeastMs) return "";
  return sentence::NoAnswer(name_, in_, static_cast<unsigned>(ms));
}

Connection::DriverState Connection::PeekDriver() const {
  if (stop_) return DriverState::kGone;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return DriverState::kWaiting;
  if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return DriverState::kGone;
  std::uint8_t b;
  const ssize_t n = recv(fd_, &b, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) return DriverState::kGone;
  return n > 0 ? DriverState::kNewCommand : DriverState::kWaiting;
}

bool Connection::Exchange(const std::uint8_t* command, int length) {
  if (stale_) Drain();
  std::array<std::uint8_t, 64> data{};
  std::copy(command, command + length, data.begin());
  int done = 0;
  int r = libusb_bulk_transfer(handle_, out_, data.data(), length, &done, kWriteTimeoutMs);
  if (r != 0) {
    failures_.Record(r == LIBUSB_ERROR_NO_DEVICE ? sentence::Unplugged(name_)
                     : r == LIBUSB_ERROR_TIMEOUT
                         ? sentence::WriteRefused(name_, out_, kWriteTimeoutMs)
                         : sentence::Other(name_, "sending a command", r));
    if (r == LIBUSB_ERROR_PIPE) libusb_clear_halt(handle_, out_);
    return false;
  }

  // The reply lands in memory of its own: a transfer whose cancellation
  // never completes still owns it, and then it is never freed.
  struct Read {
    std::array<std::uint8_t, 64> reply{};
    int completed = 0;
  };
  auto* read = new Read;
  libusb_transfer* transfer = libusb_alloc_transfer(0);
  if (transfer == nullptr) {
    delete read;
    failures_.Record(sentence::Other(name_, "reading a reply", LIBUSB_ERROR_NO_MEM));
    return false;
  }
  libusb_fill_bulk_transfer(transfer, handle_, in_, read->reply.data(),
                            static_cast<int>(read->reply.size()), MarkCompleted, &read->completed,
                            kReplyTimeoutMs);
  r = libusb_submit_transfer(transfer);
  if (r != 0) {
    libusb_free_transfer(transfer);
    delete read;
    failures_.Record(r == LIBUSB_ERROR_NO_DEVICE ? sentence::Unplugged(name_)
                                                 : sentence::Other(name_, "reading a reply", r));
    return false;
  }
  // The failure is recorded when the relay gives up on the reply, or when
  // the driver does so by closing its pipes; until then an overdue reply
  // counts as a failure when the host asks (OverdueReply).
  const auto start = Clock::now();
  waitingSince_ = MsSince(start);
  // The wait counts as over when this function returns, after any failure
  // is recorded.
  struct EndWait {
    std::atomic<long long>& since;
    ~EndWait() { since = -1; }
  } endWait{waitingSince_};
  int ticks = 0;
  bool recorded = false;
  DriverState driver = DriverState::kWaiting;
  auto noAnswer = [&] {
    if (recorded) return;
    recorded = true;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    failures_.Record(sentence::NoAnswer(name_, in_, static_cast<unsigned>(ms.count())));
  };
  while (read->completed == 0) {
    timeval tv{0, 1000};
    libusb_handle_events_timeout_completed(context_, &tv, &read->completed);
    if (read->completed != 0) break;
    // One empty packet (the driver's read returns 0 bytes) for each
    // millisecond gone: a relay that was kept from running catches up, so
    // the driver's wait follows the clock, not this thread's wake-ups.
    const auto due = std::min<long long>(
        kTicks,
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    while (ticks < due && SendToDriver(fd_, nullptr, 0)) ++ticks;
    driver = PeekDriver();
    if (driver != DriverState::kWaiting) {
      if (driver == DriverState::kGone && !stop_) noAnswer();
      libusb_cancel_transfer(transfer);
      // A cancelled transfer completes at once (bounded all the same).
      for (int i = 0; i < 1000 && read->completed == 0; ++i) {
        timeval wait{0, 1000};
        libusb_handle_events_timeout_completed(context_, &wait, &read->completed);
      }
      break;
    }
  }
  if (read->completed == 0) {
    noAnswer();
    return false;  // the transfer and its memory stay libusb's
  }
  const libusb_transfer_status status = transfer->status;
  const auto got = static_cast<std::size_t>(transfer->actual_length);
  const std::array<std::uint8_t, 64> reply = read->reply;
  libusb_free_transfer(transfer);
  delete read;

  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
      SendToDriver(fd_, reply.data(), got);
      return true;
    case LIBUSB_TRANSFER_TIMED_OUT:
      noAnswer();
      stale_ = true;
      return true;
    case LIBUSB_TRANSFER_CANCELLED:
      stale_ = true;
      return driver == DriverState::kNewCommand;
    case LIBUSB_TRANSFER_NO_DEVICE:
      failures_.Record(sentence::Unplugged(name_));
      return false;
    case LIBUSB_TRANSFER_STALL:
      libusb_clear_halt(handle_, in_);
      failures_.Record(sentence::Other(name_, "reading a reply", LIBUSB_ERROR_PIPE));
      return false;
    case LIBUSB_TRANSFER_OVERFLOW:
      failures_.Record(sentence::Other(name_, "reading a reply", LIBUSB_ERROR_OVERFLOW));
      stale_ = true;
      return true;
    case LIBUSB_TRANSFER_ERROR:
    default:
      failures_.Record(sentence::Other(name_, "reading a reply", LIBUSB_ERROR_IO));
      return false;
  }
}

}  // namespace kzusb
