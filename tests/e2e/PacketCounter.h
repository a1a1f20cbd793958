#pragma once
// Counts the 64-byte packets the driver writes to its USB pipes, by command
// code: each command packet is one send() (or write()) of 64 bytes on the
// thread that calls the driver.
#include <cstdint>

namespace kz::e2e {

// Zeroes the counts and counts from now on on the calling thread.
void ResetPacketCounts();
std::uint64_t PacketCount(std::uint8_t code);
std::uint64_t PacketTotal();

}  // namespace kz::e2e
