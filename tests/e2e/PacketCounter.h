#pragma once
// Counts the 64-byte packets the driver writes to its USB pipes, by command
// code: each command packet is one send() (or write()) of 64 bytes on the
// thread that calls the driver.
#include <cstdint>
#include <string>
#include <vector>

namespace kz::e2e {

// Zeroes the counts and counts from now on on the calling thread.
void ResetPacketCounts();
std::uint64_t PacketCount(std::uint8_t code);
std::uint64_t PacketTotal();
// The counted clock generator packets (command 14) as hex text, in order:
// the sub-function, then the register image (bytes 16..38).
std::vector<std::string> ClockPackets();

}  // namespace kz::e2e
