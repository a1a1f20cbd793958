#include "link/Transport.h"

namespace kz {

void Transport::CloseHandles() {
  if (write_ != kInvalidPipe) pipes_.Close(write_);
  if (read_ != kInvalidPipe) pipes_.Close(read_);
  write_ = kInvalidPipe;
  read_ = kInvalidPipe;
}

bool Transport::ReadShort() {
  int passes = 0;
  bool lastOk = true;
  std::uint32_t got = 0;
  while (passes < kShortPasses) {
    int calls = 0;
    got = 0;
    while (calls < kShortReads) {
      ++calls;
      lastOk = pipes_.Read(read_, reply_.data(), kPacketSize, got);
      if (got == kPacketSize) break;
      if (OpenTimeUp()) return false;
    }
    if (calls == kShortReads || got != kPacketSize) {
      pipes_.SleepMs(1);
      ++passes;
    }
    if (got == kPacketSize) break;
  }
  return !(passes == kShortPasses || !lastOk || got < kPacketSize);
}

void Transport::Open() {
  // The lock keeps an exchange on another thread (a poll loop, the stop
  // operation) off the handles and packets while they are replaced.
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (pipesOpen_.load()) Close();
  pipesOpen_.store(false);
  linkFailed_.store(false);
  int budget = kOpenBudget;
  int identifyFailures = 0;
  bool identified = false;
  openDeadline_ = pipes_.NowMs() + openTimeLimitMs_;
  // Failed openings end the open like a spent budget when the time is up.
  while (!identified && budget > 0 && !OpenTimeUp()) {
    read_ = kInvalidPipe;
    for (int tries = 0; tries < 100 && budget > 0 && read_ == kInvalidPipe && !OpenTimeUp();
         ++tries) {
      read_ = pipes_.OpenReadPipe();
      if (read_ == kInvalidPipe) {
        --budget;
        pipes_.SleepMs(1);
      }
    }
    write_ = kInvalidPipe;
    for (int tries = 0; tries < 100 && budget > 0 && write_ == kInvalidPipe && !OpenTimeUp();
         ++tries) {
      write_ = pipes_.OpenWritePipe();
      if (write_ == kInvalidPipe) {
        --budget;
        pipes_.SleepMs(1);
      }
    }
    if (read_ == kInvalidPipe || write_ == kInvalidPipe) {
      CloseHandles();  // do not leak the one pipe that did open
      pipes_.SleepMs(1);
      continue;
    }
    command_[0] = 1;  // identify; the other bytes keep what they held
    reply_[0] = 0;
    reply_[1] = 0;
    bool ok = pipes_.Write(write_, command_.data(), kPacketSize);
    if (ok) {
      if (!ReadShort()) {
        reply_[0] = 0;
        reply_[1] = 0;
      }
      identified = reply_[0] == 0x56 && reply_[1] == 0x31;
    }
    if (!identified) {
      CloseHandles();
      // A device that opens but never says "V1" must not keep us here
      // forever, nor one whose reads take long.
      if (++identifyFailures >= kIdentifyAttempts || OpenTimeUp()) {
        Fail(kErrorUsb);
        break;
      }
    }
  }
  pipesOpen_.store(true);
}

void Transport::Close() {
  // Waits for an exchange in progress so its handles are not closed under it.
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (!pipesOpen_.load()) return;
  if (write_ != kInvalidPipe) pipes_.Close(write_);
  if (read_ != kInvalidPipe) pipes_.Close(read_);
  write_ = kInvalidPipe;
  read_ = kInvalidPipe;
  pipesOpen_.store(false);
  linkFailed_.store(true);
}

void Transport::Exchange() {
  if (!pipesOpen_.load()) linkFailed_.store(true);
  if (linkFailed_.load()) return;
  // A link open that gave up leaves the handles invalid: that is a failed write.
  if (write_ == kInvalidPipe || !pipes_.Write(write_, command_.data(), kPacketSize)) {
    Fail(kErrorUsb);
    return;
  }
  int passes = 0;
  bool lastOk = true;
  std::uint32_t got = 0;
  while (got != kPacketSize && passes < kLongPasses) {
    int calls = 0;
    got = 0;
    while (calls < kLongReads) {
      ++calls;
      lastOk = pipes_.Read(read_, reply_.data(), kPacketSize, got);
      if (got == kPacketSize) break;
    }
    // A pass whose tenth call delivered still counts: 100 passes, not 101.
    if (calls == kLongReads || got != kPacketSize) {
      pipes_.SleepMs(1);
      ++passes;
    }
  }
  if (passes == kLongPasses || !lastOk || got < kPacketSize) Fail(kErrorUsb);
}

}  // namespace kz
