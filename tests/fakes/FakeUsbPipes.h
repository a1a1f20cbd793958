#pragma once
// Scriptable stand-in for the USB pipe provider, and a recording emulator on
// top of it for packet-exact tests. Nothing here sleeps: SleepMs only counts.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <set>
#include <vector>

#include "platform/UsbPipes.h"

namespace kz::fake {

using Packet = std::array<std::uint8_t, 64>;

// Packet with the given leading bytes, the rest 0.
Packet MakePacket(std::initializer_list<std::uint8_t> head);

// How a queued reply comes back through Read.
struct Delivery {
  // Read calls that deliver nothing before the reply arrives (so the reply
  // comes on read call emptyReadsBefore + 1).
  int emptyReadsBefore = 0;
  // Whether those empty reads report failure.
  bool emptyReadsFail = false;
  // Count the delivering read reports; below 64 is a short read.
  std::uint32_t bytes = 64;
  // The delivering read reports failure although it delivered.
  bool readFails = false;
};

class FakeUsbPipes : public UsbPipes {
 public:
  static constexpr int kAlways = -1;

  // ---- script ----
  // OpenReadPipe / OpenWritePipe fail this many times before they succeed;
  // kAlways: they never succeed (no emulator attached).
  int readOpenFailures = 0;
  int writeOpenFailures = 0;
  // Every Write reports failure while set.
  bool writeFails = false;
  // Simulated time: NowMs() answers nowMs, which every sleep and every read
  // (by readCostMs, a provider whose reads block) moves on.
  std::uint64_t nowMs = 0;
  std::uint32_t readCostMs = 0;
  // Sees every packet written successfully; typically queues a reply.
  std::function<void(const Packet&)> replier;

  void QueueReply(const Packet& reply, Delivery how = {});
  void ClearReplies() { replies_.clear(); }
  std::size_t PendingReplies() const { return replies_.size(); }

  // ---- record ----
  int openReadCalls = 0, openWriteCalls = 0;
  int openReadFailed = 0, openWriteFailed = 0;
  int writeCalls = 0, readCalls = 0, closeCalls = 0, sleepCalls = 0;
  std::uint64_t sleptMs = 0;
  std::vector<Packet> written;  // packets of the successful writes, in order
  std::vector<char> closed;     // 'r' or 'w' for each pipe closed, in order
  int OpenHandles() const { return static_cast<int>(open_.size()); }
  // Clears the counters and the record (not the script nor open handles).
  void ResetCounters();

  // ---- UsbPipes ----
  PipeHandle OpenReadPipe() override;
  PipeHandle OpenWritePipe() override;
  bool Write(PipeHandle h, const std::uint8_t* data, std::uint32_t len) override;
  bool Read(PipeHandle h, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) override;
  void Close(PipeHandle h) override;
  void SleepMs(std::uint32_t ms) override;
  std::uint64_t NowMs() override { return nowMs; }

 private:
  struct Pending {
    Packet data;
    Delivery how;
  };
  PipeHandle OpenPipe(int& failuresLeft, int& calls, int& failed);

  std::deque<Pending> replies_;
  std::set<PipeHandle> open_;
  std::set<PipeHandle> writePipes_;
  PipeHandle nextHandle_ = 100;
};

// An emulator that answers every packet at once and records what it was sent.
// Replies: the next scripted one if any; otherwise the respond hook if it
// answers; otherwise "V1" to command 1 and defaultReply to everything else.
class RecordingEmulator {
 public:
  RecordingEmulator();
  RecordingEmulator(const RecordingEmulator&) = delete;
  RecordingEmulator& operator=(const RecordingEmulator&) = delete;

  FakeUsbPipes& Pipes() { return pipes_; }
  void Script(const Packet& reply) { script_.push_back(reply); }
  const std::vector<Packet>& Sent() const { return pipes_.written; }
  void Forget() { pipes_.ResetCounters(); }

  Packet defaultReply{};
  // Returns true when it filled the reply.
  std::function<bool(const Packet& command, Packet& reply)> respond;
  // While set nothing is answered (the exchange then runs out of reads).
  bool silent = false;

 private:
  FakeUsbPipes pipes_;
  std::deque<Packet> script_;
};

}  // namespace kz::fake
