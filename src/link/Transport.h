#pragma once
// USB packet transport: the two pipes, the two 64-byte packets, link open with
// its "V1" identification, the exchange with its retry pattern, link close, the
// sticky link-failed flag with its error kind, and the link lock.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/UsbPipes.h"

namespace kz {

// Why the link or the connection failed (the dialog shows its text).
enum ErrorKind : std::uint8_t {
  kErrorNone = 0,
  kErrorUsb = 1,
  kErrorNoLogicBoard = 3,
  kErrorPodMismatch = 5,
  kErrorNoMcu = 6,
  kErrorMcuReset = 7,
};

class Transport {
 public:
  static constexpr int kPacketSize = 64;
  // Failed pipe openings allowed per link open, shared by both pipes.
  static constexpr int kOpenBudget = 100;
  // Identification attempts per link open whose pipes opened but whose answer
  // was not "V1"; bounds link open for a device that never identifies.
  static constexpr int kIdentifyAttempts = 100;
  // Link open also gives up after this long in all, however long each read
  // of the provider blocks: it holds the link lock, and every other thread
  // waits for it.
  static constexpr std::uint32_t kOpenTimeLimitMs = 5000;
  static constexpr int kShortPasses = 3, kShortReads = 3;
  static constexpr int kLongPasses = 100, kLongReads = 10;

  explicit Transport(UsbPipes& pipes) : pipes_(pipes) {}
  // Replaces kOpenTimeLimitMs (tests use shorter limits).
  void SetOpenTimeLimitMs(std::uint32_t ms) { openTimeLimitMs_ = ms; }
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  void Open();
  void Close();
  // Sends the command packet and fills the reply packet. The caller holds the
  // link lock and reads LinkFailed() for the outcome.
  void Exchange();

  std::array<std::uint8_t, kPacketSize>& Command() { return command_; }
  std::array<std::uint8_t, kPacketSize>& Reply() { return reply_; }

  bool LinkFailed() const { return linkFailed_.load(); }
  void SetLinkFailed(bool v) { linkFailed_.store(v); }
  std::uint8_t ErrorKindValue() const { return errorKind_.load(); }
  void SetErrorKind(std::uint8_t k) { errorKind_.store(k); }
  // Marks the link failed with the given kind.
  void Fail(std::uint8_t kind) {
    errorKind_.store(kind);
    linkFailed_.store(true);
  }
  bool PipesOpen() const { return pipesOpen_.load(); }

  // Held around every command: filling the command packet, the exchange and
  // decoding the reply. Recursive so a transfer that holds it can call commands.
  std::recursive_mutex& Lock() { return lock_; }

 private:
  // The short retry pattern of the identification read; true when 64 bytes
  // arrived and the last read reported success.
  bool ReadShort();
  bool OpenTimeUp() { return pipes_.NowMs() >= openDeadline_; }
  void CloseHandles();

  UsbPipes& pipes_;
  std::uint32_t openTimeLimitMs_ = kOpenTimeLimitMs;
  std::uint64_t openDeadline_ = 0;
  PipeHandle write_ = kInvalidPipe;
  PipeHandle read_ = kInvalidPipe;
  std::atomic<bool> pipesOpen_{false};
  std::atomic<bool> linkFailed_{false};
  std::atomic<std::uint8_t> errorKind_{kErrorNone};
  std::array<std::uint8_t, kPacketSize> command_{};
  std::array<std::uint8_t, kPacketSize> reply_{};
  std::recursive_mutex lock_;
};

}  // namespace kz
