#pragma once
// Emulator configuration and target preparation: turns the settings into the
// configuration words and option commands, prepares the target after a
// connection or reset, builds and uploads the memory map, and keeps the run
// indicator bit of the control byte in step with the target.
#include <cstdint>

#include "config/ClockCacheRecord.h"
#include "config/CpuDetails.h"
#include "config/TargetConfig.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"

namespace kz {

class MemoryTransfers;

class TargetPrep {
 public:
  TargetPrep(CommandSet& commands, EmulatorState& state, TargetConfig& config,
             const ClockCacheRecord& clock, CpuDetails& details, MemoryTransfers& transfers)
      : cmd_(commands),
        state_(state),
        config_(config),
        clock_(clock),
        details_(details),
        transfers_(transfers) {}

  void ComposeConfiguration();
  void PrepareTarget();
  void ResetTarget();  // prepare target, read registers, PC := 0
  void RequestStop();
  void InitialiseMemoryMap();
  void UploadMemoryMap();
  void UpdateRunIndicator();
  void ClearRunIndicator();

 private:
  CommandSet& cmd_;
  EmulatorState& state_;
  TargetConfig& config_;
  const ClockCacheRecord& clock_;
  CpuDetails& details_;
  MemoryTransfers& transfers_;
};

}  // namespace kz
