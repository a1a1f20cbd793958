// usbd12.dll (test build): the pipe provider of the virtual emulator on
// Windows.
//
// Both pipes are mailslots, because a mailslot read with a time-out is exactly
// the behaviour the driver relies on: ReadFile returns within about 1 ms with
// nothing when no reply is there, and one ReadFile returns one whole packet.
//  - openUSBfile_3 creates the reply mailslot (read time-out 1 ms) and hands
//    its server handle to the driver; the emulator writes into it.
//  - openUSBfile_2 creates the command mailslot, which the emulator reads, and
//    hands the driver a write handle to it; it belongs to the connection of
//    the last read pipe opened.
// One server thread polls the command mailslots and answers each packet on
// its connection's reply mailslot.
#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"

namespace kzemu {
namespace {

class MailslotServer {
 public:
  static MailslotServer& Instance() {
    static MailslotServer* const server = new MailslotServer();  // lives as long as the process
    return *server;
  }

  // A mailslot (the end ReadFile is called on, with the given read time-out)
  // and a handle that writes into it.
  bool OpenSlot(char kind, DWORD readTimeoutMs, HANDLE& slot, HANDLE& writer) {
    if (Emulator::Instance().Unplugged()) return false;
    const std::string name = NextName(kind);
    slot = CreateMailslotA(name.c_str(), 64, readTimeoutMs, nullptr);
    if (slot == INVALID_HANDLE_VALUE) return false;
    writer = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer == INVALID_HANDLE_VALUE) {
      CloseHandle(slot);
      return false;
    }
    return true;
  }

  HANDLE OpenRead() {
    HANDLE slot, writer;
    if (!OpenSlot('r', 1, slot, writer)) return INVALID_HANDLE_VALUE;
    std::lock_guard<std::mutex> hold(lock_);
    Add(Connection{INVALID_HANDLE_VALUE, writer});
    pending_ = true;
    return slot;
  }

  HANDLE OpenWrite() {
    HANDLE slot, writer;
    if (!OpenSlot('w', 0, slot, writer)) return INVALID_HANDLE_VALUE;
    std::lock_guard<std::mutex> hold(lock_);
    if (pending_) {
      conns_.back().commands = slot;
      pending_ = false;
    } else {
      Add(Connection{slot, INVALID_HANDLE_VALUE});
    }
    return writer;
  }

 private:
  struct Connection {
    HANDLE commands;  // command mailslot (server end, the emulator reads)
    HANDLE replies;   // reply mailslot (client end, the emulator writes)
  };
  // Connections the driver abandoned without a failed reply write are not
  // noticed; the oldest go when there are more than this.
  static constexpr std::size_t kMaxConnections = 32;

  MailslotServer() {
    std::thread([this] { Serve(); }).detach();
  }

  std::string NextName(char kind) {
    return "\\\\.\\mailslot\\kz51emu\\" + std::to_string(GetCurrentProcessId()) + "\\" +
           std::to_string(++counter_) + kind;
  }

  static void Drop(Connection& c) {
    if (c.commands != INVALID_HANDLE_VALUE) CloseHandle(c.commands);
    if (c.replies != INVALID_HANDLE_VALUE) CloseHandle(c.replies);
    c.commands = c.replies = INVALID_HANDLE_VALUE;
  }

  void Add(const Connection& c) {  // caller holds lock_
    if (conns_.size() >= kMaxConnections) {
      Drop(conns_.front());
      conns_.erase(conns_.begin());
    }
    conns_.push_back(c);
  }

  void Serve() {
    for (;;) {
      bool busy = false;
      std::lock_guard<std::mutex> hold(lock_);
      for (std::size_t i = 0; i < conns_.size(); ++i) {
        Connection& c = conns_[i];
        if (c.commands == INVALID_HANDLE_VALUE) continue;
        DWORD next = 0, count = 0;
        if (!GetMailslotInfo(c.commands, nullptr, &next, &count, nullptr) ||
            next == MAILSLOT_NO_MESSAGE)
          continue;
        busy = true;
        Packet cmd{}, reply{};
        DWORD got = 0;
        if (!ReadFile(c.commands, cmd.data(), static_cast<DWORD>(cmd.size()), &got, nullptr))
          continue;
        std::uint32_t delayMs = 0;
        if (!Emulator::Instance().Serve(cmd, reply, delayMs)) continue;
        if (delayMs > 0) Sleep(delayMs);
        DWORD put = 0;
        if (c.replies == INVALID_HANDLE_VALUE ||
            !WriteFile(c.replies, reply.data(), static_cast<DWORD>(reply.size()), &put, nullptr)) {
          // The driver closed its read pipe: the connection is over.
          Drop(c);
        }
      }
      std::erase_if(conns_, [](const Connection& c) {
        return c.commands == INVALID_HANDLE_VALUE && c.replies == INVALID_HANDLE_VALUE;
      });
      if (!busy) {
        lock_.unlock();
        Sleep(1);
        lock_.lock();
      }
    }
  }

  std::mutex lock_;
  std::vector<Connection> conns_;
  bool pending_ = false;  // the last connection has a read pipe but no write pipe yet
  std::atomic<unsigned> counter_{0};
};

}  // namespace
}  // namespace kzemu

extern "C" HANDLE openUSBfile_3() {
  return kzemu::MailslotServer::Instance().OpenRead();
}
extern "C" HANDLE openUSBfile_2() {
  return kzemu::MailslotServer::Instance().OpenWrite();
}

#endif  // _WIN32
