#include "connect/Connection.h"

#include <cstdio>

#include "config/ByteOrder.h"
#include "connect/CY22393.h"
#include "connect/FMDU.h"
#include "connect/umessage.h"
#include "link/TargetPrep.h"

namespace kz {

namespace {

constexpr std::uint16_t kMsgInitialEmulator = 856;
constexpr std::uint16_t kMsgCheckEmulator = 1654;
constexpr std::uint16_t kMsgCheckPod = 1655;
constexpr std::uint16_t kMsgTestUsb = 1678;

constexpr std::uint16_t kAlternateSerialFrom = 3000;

// Stands in for a PodIndex outside the table (a damaged settings file).
const PodSlot kNoPod{0, 0, 0, "", "", "", 0, 0, 0};

std::uint16_t SetBits(std::uint16_t w, std::uint16_t mask) {
  return static_cast<std::uint16_t>(w | mask);
}
std::uint16_t ClearBits(std::uint16_t w, std::uint16_t mask) {
  return static_cast<std::uint16_t>(w & ~mask);
}

}  // namespace

Identity DecodeIdentity(std::uint32_t word) {
  Identity id;
  id.serial = static_cast<std::uint16_t>(word & 0x7FFF);
  id.month = static_cast<std::uint8_t>((word >> 15) & 0x0F);
  id.yearField = static_cast<std::uint8_t>((word >> 19) & 0x07);
  id.code = static_cast<std::uint8_t>((word >> 22) & 0x3F);
  return id;
}

std::uint32_t IdentityWord(const std::array<std::uint8_t, 16>& block) {
  return LoadLe<std::uint32_t>(block.data() + 4);
}

std::string SerialText(const Identity& id) {
  char text[24];
  std::snprintf(text, sizeof text, "%04u%02u%05u", 2005u + id.yearField,
                static_cast<unsigned>(id.month), static_cast<unsigned>(id.serial));
  return text;
}

bool AlternateBoardFor(const Identity& emulator) {
  return (emulator.code == 5 || emulator.code == 6 || emulator.code == 7) &&
         emulator.serial >= kAlternateSerialFrom;
}

bool PodlessFor(const Identity& emulator) {
  return emulator.code == 6 || emulator.code == 7;
}

std::int32_t EmulatorIndexForModel(std::uint8_t modelCode,
                                   const std::array<EmulatorModel, kEmulatorModelCount>& models) {
  std::int32_t index = 0;
  for (std::int32_t i = 0; i < kEmulatorModelCount; ++i)
    if (models[static_cast<std::size_t>(i)].ModelCode == modelCode) index = i;
  return index;
}

std::int32_t EmulatorIndexForModel(std::uint8_t modelCode) {
  return EmulatorIndexForModel(modelCode, kEmulatorModels);
}

bool AcceptedLogicDeviceCode(std::uint32_t code) {
  return code == kFpgaIdStandardA || code == kFpgaIdStandardB || code == kFpgaIdAlternate;
}

Connection::Connection(CommandSet& commands, EmulatorState& state, TargetConfig& config,
                       const DeviceDatabase& db, CpuDetails& details, const PodTable& pods,
                       TProgForm& progress, ClockGenerator& clock, Fmdu& library, TargetPrep& prep,
                       ProjectDialog& dialog, const std::string& dataDirectory)
    : cmd_(commands),
      state_(state),
      config_(config),
      db_(db),
      details_(details),
      pods_(pods),
      progress_(progress),
      clock_(clock),
      library_(library),
      prep_(prep),
      dialog_(dialog),
      dataDirectory_(dataDirectory) {}

const PodSlot& Connection::SelectedPod() const {
  const std::int32_t index = config_.PodIndex;
  if (index < 0 || index >= kPodSlotCount) return kNoPod;
  return pods_[static_cast<std::size_t>(index)];
}

void Connection::Run() {
  db_.LoadCpuDetails(config_, dataDirectory_, details_);
  attempts_ = 0;
  bool again = true;
  while (again) {
    Attempt();
    again = false;
    if (cmd_.Link().LinkFailed()) {
      progress_.Hide();
      again = dialog_.RunProjectDialog();
    }
    progress_.Hide();
  }
  FinalConfigurationWords();
}

void Connection::Attempt() {
  Transport& link = cmd_.Link();
  ++attempts_;
  progress_.Show();
  link.SetLinkFailed(false);
  link.SetErrorKind(kErrorMcuReset);
  podDescription_.clear();
  podCode_ = 0;
  modelCode_ = 0;
  alternateBoard_ = false;
  podless_ = false;
  library_.SetAlternateBoard(false);

  progress_.Start(300, GetMessage(kMsgTestUsb));
  link.SetLinkFailed(false);
  link.Open();
  progress_.Reset();

  progress_.Start(10, GetMessage(kMsgInitialEmulator));
  progress_.Step();
  cmd_.Identify();
  cmd_.Identify();
  cmd_.Control(5, 0);
  cmd_.Control(0, 0);
  cmd_.Control(1, 0);
  cmd_.Control(2, static_cast<std::uint8_t>(state_.control | 0x04));
  progress_.Step();
  progress_.Reset();

  if (!link.LinkFailed()) {
    IdentifyEmulator();
    if (!link.LinkFailed() && podless_) {
      podCode_ = 0;
      podDescription_ = PodNameForCode(0);
    } else if (!link.LinkFailed()) {
      cmd_.ResetScanChain();
      library_.ReadFpgaIdentificationCode();
      const std::uint32_t code = library_.ReadFpgaIdentificationCode();
      // A link that failed during the reads keeps its own kind.
      if (!link.LinkFailed() && !AcceptedLogicDeviceCode(code)) link.Fail(kErrorNoLogicBoard);
      if (!link.LinkFailed()) IdentifyPod();
    }
  }

  progress_.Start(10, GetMessage(kMsgInitialEmulator));
  progress_.Step();
  if (!link.LinkFailed()) config_.EmulatorIndex = EmulatorIndexForModel(modelCode_);

  // Runs even on a failed link: its commands then do nothing.
  const PodSlot& pod = SelectedPod();
  library_.MonitorCheck(pod.MonitorName != nullptr ? pod.MonitorName : "", pod.PodCode,
                        pod.MonitorKind);

  progress_.Step();
  if (!link.LinkFailed() && pod.PodCode != podCode_) link.Fail(kErrorPodMismatch);

  progress_.Step();
  if (!link.LinkFailed()) {
    clock_.SendClock(3);
    clock_.SendClock(1);
    clock_.SendClock(2, kFixedClockRow14);
    progress_.Step();
    library_.PodConfigurationCheck();
    progress_.Step();
    progress_.Step();
    prep_.UploadMemoryMap();
  }
  progress_.Step();
  progress_.Reset();
}

void Connection::IdentifyEmulator() {
  progress_.Start(20, GetMessage(kMsgCheckEmulator));
  progress_.Step();
  cmd_.ReadEmulatorIdentity();
  const Identity emulator = DecodeIdentity(IdentityWord(state_.emulatorIdentity));
  modelCode_ = emulator.code;
  alternateBoard_ = AlternateBoardFor(emulator);
  podless_ = PodlessFor(emulator);
  library_.SetAlternateBoard(alternateBoard_);
  progress_.Reset();
}

void Connection::IdentifyPod() {
  progress_.Start(1, GetMessage(kMsgCheckPod));
  progress_.Step();
  cmd_.ReadPodIdentity();
  const Identity pod = DecodeIdentity(IdentityWord(state_.podIdentity));
  podCode_ = pod.code;
  podDescription_ = std::string(PodNameForCode(pod.code)) + "-" + SerialText(pod);
  if (podDescription_.size() > kPodDescriptionLimit) podDescription_.resize(kPodDescriptionLimit);
  progress_.Reset();
}

void Connection::FinalConfigurationWords() {
  auto& W = state_.W;
  W[3] = ClearBits(W[3], 1u << 7 | 1u << 15 | 1u << 3 | 1u << 4);
  W[2] = SetBits(W[2], 1u << 13 | 1u << 12);
  W[2] = ClearBits(W[2], 1u << 7);
  W[3] = ClearBits(W[3], 1u << 14 | 1u << 13);
  cmd_.WriteConfiguration();
  // W2 bit 12 is high for exactly this one write.
  W[2] = ClearBits(W[2], 1u << 12);
  cmd_.WriteConfiguration();
}

}  // namespace kz
