#pragma once
// The connection's object graph on a fake emulator and a temporary library,
// wired the way the driver wires it.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "config/DeviceDatabase.h"
#include "config/PodTable.h"
#include "config/PrjOpt.h"
#include "connect/CY22393.h"
#include "connect/Connection.h"
#include "connect/FMDU.h"
#include "connect/FailureText.h"
#include "fakes/FakeUi.h"
#include "link/MemoryTransfers.h"
#include "link/TargetPrep.h"
#include "unit/connect/PodEmulator.h"
#include "unit/link/ConnRig.h"

namespace kz::test {

// Answers from a queue (Cancel when empty) and records the failure text that
// the real dialog would show in its caption.
class ScriptedDialog : public ProjectDialog {
 public:
  std::deque<bool> answers;
  std::vector<std::string> captions;
  std::function<std::string()> caption;
  std::function<void()> onShow;  // the user's changes before answering
  bool RunProjectDialog() override {
    captions.push_back(caption ? caption() : std::string());
    if (onShow) onShow();
    if (answers.empty()) return false;
    const bool ok = answers.front();
    answers.pop_front();
    return ok;
  }
};

struct ConnectRig {
  PodEmulator emu;
  TempLibrary library;
  std::string dataDir = library.Dir();
  Transport link{emu.rec.Pipes()};
  EmulatorState state;
  TargetConfig config{};
  CommandSet cmd{link, state, config};
  fake::FakeUi ui;
  TProgForm progress{ui};
  DeviceDatabase db;
  CpuDetails details;
  PodTable pods = kPodSlots;
  ClockCacheRecord clockCache{};
  RecordedProgress transferProgress;
  MemoryTransfers transfers{cmd, state, config, transferProgress};
  TargetPrep prep{cmd, state, config, clockCache, details, transfers};
  ClockGenerator clock{config, clockCache, cmd, state, progress, [this] { prep.PrepareTarget(); }};
  Fmdu fmdu{cmd, state, config, pods, ui, progress, clock, prep, dataDir};
  ScriptedDialog dialog;
  Connection connection{cmd,      state, config, db,   details, pods,
                        progress, clock, fmdu,   prep, dialog,  dataDir};

  explicit ConnectRig(int podNumber = 1) {
    config.PodIndex = podNumber - 1;
    config.CrystalHz = 12'000'000;
    state.AllocateImages();
    dialog.caption = [this] {
      return ConnectionFailureText(link.ErrorKindValue(), connection.PodDescription());
    };
  }

  // A library holding every monitor and configuration the 8051 pods name.
  void WriteStandardLibrary(std::size_t monitorBytes = 300, std::size_t configBytes = 2000) {
    std::vector<LibraryEntry> entries;
    for (int i = 0; i < 10; ++i) {
      const PodSlot& pod = kPodSlots[static_cast<std::size_t>(i)];
      entries.push_back({pod.MonitorName, Pattern(monitorBytes, 3), 1});
      for (const char* prefix : {"JY", "JZ", "QJZT_", "Q_", ""})
        entries.push_back({std::string(prefix) + pod.PodConfigName, Pattern(configBytes, 5), 2});
    }
    library.Write(entries);
  }
};

}  // namespace kz::test
