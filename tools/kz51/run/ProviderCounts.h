#pragma once
// The virtual emulator's counts, reached through extra entry points of the
// provider library the driver loaded (libusbd12.so / usbd12.dll), never
// through the driver: per-address executions, cycles and entries, call edges,
// and the cycle limit. A provider without those entry points (the hardware's)
// has no counts, and Find() says so.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "provider/kz51emu_counts.h"

namespace kz51::run {

struct CountSnapshot {
  std::vector<std::uint64_t> executions, cycles, lineEntries, functionEntries;  // by address
  std::vector<kz51emu_call> calls;
  kz51emu_totals totals{};
};

class ProviderCounts {
 public:
  // The provider module the driver has loaded (call after the driver is
  // loaded); null when there is none, or it has no counts, with `why` saying
  // which.
  static std::unique_ptr<ProviderCounts> Find(std::string& why);

  // Starts counting afresh with a region table of 65536 entries (or empty).
  bool Start(const std::vector<std::uint32_t>& regions);
  bool Read(CountSnapshot& out);
  void Stop();
  // Stops a run by itself after `cycles` more machine cycles (0: no limit).
  void SetCycleLimit(std::uint64_t cycles);
  bool CycleLimitReached();

 private:
  ProviderCounts() = default;
  kz51emu_counts_start_fn start_ = nullptr;
  kz51emu_counts_stop_fn stop_ = nullptr;
  kz51emu_counts_read_fn read_ = nullptr;
  kz51emu_counts_calls_fn calls_ = nullptr;
  kz51emu_cycle_limit_fn limit_ = nullptr;
  kz51emu_cycle_limit_reached_fn reached_ = nullptr;
};

}  // namespace kz51::run
