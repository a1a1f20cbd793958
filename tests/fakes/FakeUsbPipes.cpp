#include "fakes/FakeUsbPipes.h"

#include <algorithm>

namespace kz::fake {

Packet MakePacket(std::initializer_list<std::uint8_t> head) {
  Packet p{};
  std::copy_n(head.begin(), std::min(head.size(), p.size()), p.begin());
  return p;
}

void FakeUsbPipes::QueueReply(const Packet& reply, Delivery how) {
  replies_.push_back({reply, how});
}

void FakeUsbPipes::ResetCounters() {
  openReadCalls = openWriteCalls = 0;
  openReadFailed = openWriteFailed = 0;
  writeCalls = readCalls = closeCalls = sleepCalls = 0;
  sleptMs = 0;
  written.clear();
  closed.clear();
}

PipeHandle FakeUsbPipes::OpenPipe(int& failuresLeft, int& calls, int& failed) {
  ++calls;
  if (failuresLeft == kAlways || failuresLeft > 0) {
    if (failuresLeft > 0) --failuresLeft;
    ++failed;
    return kInvalidPipe;
  }
  PipeHandle h = nextHandle_++;
  open_.insert(h);
  return h;
}

PipeHandle FakeUsbPipes::OpenReadPipe() {
  return OpenPipe(readOpenFailures, openReadCalls, openReadFailed);
}

PipeHandle FakeUsbPipes::OpenWritePipe() {
  const PipeHandle h = OpenPipe(writeOpenFailures, openWriteCalls, openWriteFailed);
  if (h != kInvalidPipe) writePipes_.insert(h);
  return h;
}

bool FakeUsbPipes::Write(PipeHandle h, const std::uint8_t* data, std::uint32_t len) {
  ++writeCalls;
  // Like WriteFile on a closed or invalid handle.
  if (writeFails || open_.count(h) == 0 || len != 64) return false;
  Packet p{};
  std::copy_n(data, p.size(), p.begin());
  written.push_back(p);
  if (replier) replier(p);
  return true;
}

bool FakeUsbPipes::Read(PipeHandle h, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) {
  ++readCalls;
  nowMs += readCostMs;
  got = 0;
  if (open_.count(h) == 0) return false;
  if (replies_.empty()) return true;  // silent: the read times out empty
  Pending& next = replies_.front();
  if (next.how.emptyReadsBefore > 0) {
    --next.how.emptyReadsBefore;
    return !next.how.emptyReadsFail;
  }
  std::uint32_t n = std::min<std::uint32_t>({next.how.bytes, len, 64});
  std::copy_n(next.data.begin(), n, data);
  got = n;
  bool ok = !next.how.readFails;
  replies_.pop_front();
  return ok;
}

void FakeUsbPipes::Close(PipeHandle h) {
  ++closeCalls;
  if (open_.erase(h) != 0) closed.push_back(writePipes_.erase(h) != 0 ? 'w' : 'r');
}

void FakeUsbPipes::SleepMs(std::uint32_t ms) {
  ++sleepCalls;
  sleptMs += ms;
  nowMs += ms;
}

RecordingEmulator::RecordingEmulator() {
  pipes_.replier = [this](const Packet& command) {
    if (silent) return;
    Packet reply = defaultReply;
    Packet hooked{};
    if (!script_.empty()) {
      reply = script_.front();
      script_.pop_front();
    } else if (respond && respond(command, hooked)) {
      reply = hooked;
    } else if (command[0] == 1) {
      reply = MakePacket({0x56, 0x31});
    }
    pipes_.QueueReply(reply);
  };
}

}  // namespace kz::fake
