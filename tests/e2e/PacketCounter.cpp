// The test program defines send() and write() itself: the dynamic linker then
// binds the driver library's calls to them (the program comes first in the
// lookup order), and they forward to the system calls. Only the thread that
// reset the counts is counted, so the virtual emulator's replies (sent from
// its own server thread) are not. This file must not see the C library's own
// declarations of send() and write().
#include "e2e/PacketCounter.h"

#include <sys/syscall.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

extern "C" long syscall(long number, ...) noexcept;

namespace {

constexpr std::size_t kPacket = 64;
std::array<std::atomic<std::uint64_t>, 256> g_counts{};
std::atomic<std::uint64_t> g_total{0};
thread_local bool t_counting = false;
thread_local std::vector<std::string> t_clock;

void Count(const void* data, size_t length) {
  if (t_counting && length == kPacket && data != nullptr) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    g_counts[bytes[0]].fetch_add(1);
    g_total.fetch_add(1);
    if (bytes[0] == 14) {
      static constexpr char kHex[] = "0123456789abcdef";
      // The sub-function and the 23-byte register image; the other bytes
      // keep what earlier commands left.
      std::string text;
      text += {kHex[bytes[1] >> 4], kHex[bytes[1] & 15], ':'};
      for (size_t i = 16; i <= 38; ++i) {
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 15]);
      }
      t_clock.push_back(text);
    }
  }
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t length) {
  Count(data, length);
  return static_cast<ssize_t>(syscall(SYS_write, fd, data, length));
}

extern "C" ssize_t send(int fd, const void* data, size_t length, int flags) {
  Count(data, length);
  return static_cast<ssize_t>(syscall(SYS_sendto, fd, data, length, flags, nullptr, 0));
}

namespace kz::e2e {

void ResetPacketCounts() {
  t_counting = true;
  for (auto& c : g_counts) c.store(0);
  g_total.store(0);
  t_clock.clear();
}

std::vector<std::string> ClockPackets() {
  return t_clock;
}

std::uint64_t PacketCount(std::uint8_t code) {
  return g_counts[code].load();
}

std::uint64_t PacketTotal() {
  return g_total.load();
}

}  // namespace kz::e2e
