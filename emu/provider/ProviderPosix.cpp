// libusbd12.so: the pipe provider of the virtual emulator on Linux.
//
// Each openUSBfile_3 (read pipe) makes a SOCK_SEQPACKET socket pair: the
// driver gets one end, the server thread serves the other. The next
// openUSBfile_2 (write pipe) hands out a duplicate of that same end, so the
// driver's writes and reads of one link meet one connection, packet by packet.
// A write pipe opened without a read pipe gets a pair of its own (its replies
// are then never read, as with a real device whose read pipe is not open).
//
// The driver's end has a 1 ms receive time-out (as fine as the kernel's tick
// allows; see Connection for how waits are paced to 1 ms), so a read with no
// reply returns nothing, as the vendor library's ReadFile does, and a 100 ms
// send time-out, so a wedged emulator fails the write instead of
// blocking it. The server never closes a socket the driver still holds (a
// write to a closed socket would raise SIGPIPE in the host).
#ifndef _WIN32

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "platform/posix/PipeHandOff.h"

namespace kzemu {
namespace {

class PipeServer {
 public:
  static PipeServer& Instance() {
    static PipeServer* const server = new PipeServer();  // lives as long as the process
    return *server;
  }

  int OpenRead() {
    std::lock_guard<std::mutex> hold(lock_);
    return pipes_.OpenRead([this] { return NewConnection(); });
  }

  int OpenWrite() {
    std::lock_guard<std::mutex> hold(lock_);
    return pipes_.OpenWrite([this] { return NewConnection(); });
  }

 private:
  PipeServer() {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    std::thread([this] { Serve(); }).detach();
  }

  // Returns the driver's end of a new connection, or -1. Caller holds lock_.
  int NewConnection() {
    if (Emulator::Instance().Unplugged()) return -1;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return -1;
    timeval rcv{0, 1000}, snd{0, 100000};
    setsockopt(sv[0], SOL_SOCKET, SO_RCVTIMEO, &rcv, sizeof rcv);
    setsockopt(sv[0], SOL_SOCKET, SO_SNDTIMEO, &snd, sizeof snd);
    fresh_.push_back(sv[1]);
    const char b = 1;
    if (wake_[1] >= 0) (void)!write(wake_[1], &b, 1);
    return sv[0];
  }

  using Clock = std::chrono::steady_clock;

  struct Connection {
    int fd;
    bool replyDue = false;  // a slow reply waits for its time
    Packet reply{};
    Clock::time_point replyAt{};
    int ticks = 0;  // empty packets still to pace while the driver waits
    Clock::time_point nextTick{};
  };

  // A blocking read with SO_RCVTIMEO waits a whole kernel tick (10 ms on a
  // 100 Hz kernel), not 1 ms. While the driver waits for a reply that is late
  // or never comes, the server therefore hands it an empty packet every
  // millisecond: each read returns nothing after about 1 ms, as ReadFile
  // does. At most as many as one exchange reads (100 passes of 10).
  static constexpr int kTicksPerWait = 1000;
  static constexpr auto kTick = std::chrono::milliseconds(1);

  void Serve() {
    std::vector<Connection> conns;
    std::vector<pollfd> fds;
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        for (int fd : fresh_) conns.push_back(Connection{fd});
        fresh_.clear();
      }
      fds.clear();
      fds.push_back(pollfd{wake_[0], POLLIN, 0});
      Clock::time_point next = Clock::time_point::max();
      for (const Connection& c : conns) {
        fds.push_back(pollfd{c.fd, POLLIN, 0});
        if (c.replyDue) next = std::min(next, c.replyAt);
        if (c.ticks > 0) next = std::min(next, c.nextTick);
      }
      timespec wait{0, 10000000};  // without a wake pipe, look for new connections every 10 ms
      const timespec* timeout = wake_[0] >= 0 ? nullptr : &wait;
      if (next != Clock::time_point::max()) {
        const auto ns = std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::nanoseconds>(next - Clock::now()).count());
        wait = timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        timeout = &wait;
      }
      if (ppoll(fds.data(), fds.size(), timeout, nullptr) < 0 && errno != EINTR) return;
      if ((fds[0].revents & POLLIN) != 0) {
        char drain[64];
        while (read(wake_[0], drain, sizeof drain) > 0) {
        }
      }
      std::vector<Connection> keep;
      for (std::size_t i = 1; i < fds.size(); ++i) {
        Connection& c = conns[i - 1];
        if ((fds[i].revents & POLLIN) != 0) {
          Packet cmd{};
          const ssize_t n = recv(c.fd, cmd.data(), cmd.size(), MSG_DONTWAIT);
          if (n == 0) {  // the driver closed both of its descriptors
            close(c.fd);
            continue;
          }
          if (n > 0) Answer(c, cmd);
        } else if ((fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
          close(c.fd);
          continue;
        }
        Pace(c);
        keep.push_back(c);
      }
      conns.swap(keep);
    }
  }

  static bool SendPacket(int fd, const std::uint8_t* data, std::size_t len) {
    // Never block the server on a driver that does not read its replies.
    return send(fd, data, len, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0;
  }

  static void Answer(Connection& c, const Packet& cmd) {
    if (c.replyDue) SendPacket(c.fd, c.reply.data(), c.reply.size());  // overtaken: send in order
    c.replyDue = false;
    std::uint32_t delayMs = 0;
    const bool answer = Emulator::Instance().Serve(cmd, c.reply, delayMs);
    if (answer && delayMs == 0) {
      c.ticks = 0;
      SendPacket(c.fd, c.reply.data(), c.reply.size());
      return;
    }
    c.replyDue = answer;
    c.replyAt = Clock::now() + std::chrono::milliseconds(delayMs);
    c.ticks = kTicksPerWait;
    c.nextTick = Clock::now() + kTick;
  }

  static void Pace(Connection& c) {
    const auto now = Clock::now();
    if (c.replyDue && now >= c.replyAt) {
      SendPacket(c.fd, c.reply.data(), c.reply.size());
      c.replyDue = false;
      c.ticks = 0;
    }
    if (c.ticks > 0 && now >= c.nextTick) {
      // An empty packet: the driver's read returns 0 bytes.
      c.ticks = SendPacket(c.fd, nullptr, 0) ? c.ticks - 1 : 0;
      c.nextTick = now + kTick;
    }
  }

  std::mutex lock_;
  std::vector<int> fresh_;
  kz::PipeHandOff pipes_;
  int wake_[2] = {-1, -1};
};

}  // namespace
}  // namespace kzemu

extern "C" KZEMU_EXPORT int openUSBfile_3() {
  return kzemu::PipeServer::Instance().OpenRead();
}
extern "C" KZEMU_EXPORT int openUSBfile_2() {
  return kzemu::PipeServer::Instance().OpenWrite();
}

#endif  // !_WIN32
