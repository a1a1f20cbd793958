#pragma once
// The connection sequence: takes the emulator from unconnected to ready for
// debugging (link, identities, logic device, pod, monitor, pod configuration,
// clock and timing, memory map), with user-driven retries through the project
// options dialog.
#include <array>
#include <cstdint>
#include <string>

#include "config/CpuDetails.h"
#include "config/DeviceDatabase.h"
#include "config/PodTable.h"
#include "config/PrjOpt.h"
#include "config/TargetConfig.h"
#include "connect/ProgBar.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"

namespace kz {

class ClockGenerator;
class Fmdu;
class TargetPrep;

// The fields of an emulator's or pod's 32-bit identity word.
struct Identity {
  std::uint16_t serial = 0;    // bits 0..14
  std::uint8_t month = 0;      // bits 15..18
  std::uint8_t yearField = 0;  // bits 19..21: year - 2005
  std::uint8_t code = 0;       // bits 22..27: model or pod code
  bool operator==(const Identity&) const = default;
};

Identity DecodeIdentity(std::uint32_t word);
// The identity word in bytes 4..7 of an identity block (little-endian).
std::uint32_t IdentityWord(const std::array<std::uint8_t, 16>& block);
// Year (4 digits), month (2) and serial number (5), zero-padded: 20060300123.
std::string SerialText(const Identity& id);

// Emulators of these model codes with serials from 3000 carry the alternate
// logic device; models 6 and 7 have no separate pod.
bool AlternateBoardFor(const Identity& emulator);
bool PodlessFor(const Identity& emulator);

// Row of the emulator model table carrying modelCode; the last match wins,
// 0 when none does.
std::int32_t EmulatorIndexForModel(std::uint8_t modelCode);
std::int32_t EmulatorIndexForModel(std::uint8_t modelCode,
                                   const std::array<EmulatorModel, kEmulatorModelCount>& models);

bool AcceptedLogicDeviceCode(std::uint32_t code);

inline constexpr std::size_t kPodDescriptionLimit = 255;

class Connection {
 public:
  Connection(CommandSet& commands, EmulatorState& state, TargetConfig& config,
             const DeviceDatabase& db, CpuDetails& details, const PodTable& pods,
             TProgForm& progress, ClockGenerator& clock, Fmdu& library, TargetPrep& prep,
             ProjectDialog& dialog, const std::string& dataDirectory);

  // Runs attempts until one connects or the user cancels the retry dialog,
  // then leaves the configuration words in the running state.
  void Run();

  const std::string& PodDescription() const { return podDescription_; }
  std::uint8_t PodCode() const { return podCode_; }
  bool AlternateBoard() const { return alternateBoard_; }
  bool Podless() const { return podless_; }
  int Attempts() const { return attempts_; }

 private:
  void Attempt();
  void IdentifyEmulator();
  void IdentifyPod();
  void FinalConfigurationWords();
  const PodSlot& SelectedPod() const;

  CommandSet& cmd_;
  EmulatorState& state_;
  TargetConfig& config_;
  const DeviceDatabase& db_;
  CpuDetails& details_;
  const PodTable& pods_;
  TProgForm& progress_;
  ClockGenerator& clock_;
  Fmdu& library_;
  TargetPrep& prep_;
  ProjectDialog& dialog_;
  const std::string& dataDirectory_;

  std::string podDescription_;
  std::uint8_t podCode_ = 0;
  std::uint8_t modelCode_ = 0;
  bool alternateBoard_ = false;
  bool podless_ = false;
  int attempts_ = 0;
};

}  // namespace kz
