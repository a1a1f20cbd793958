#include "connect/FMDU.h"

#include <algorithm>
#include <mutex>

#include "connect/CY22393.h"
#include "connect/FailureText.h"
#include "connect/FmdScramble.h"
#include "connect/umessage.h"
#include "link/TargetPrep.h"

namespace kz {

namespace {

// The three fixed command sequences of the standard FPGA, scanned in order.
struct FpgaSequence {
  std::uint16_t bits;
  std::vector<std::uint8_t> bytes;
};

const std::array<FpgaSequence, 3>& StandardSequences() {
  static const std::array<FpgaSequence, 3> sequences = {{
      {224, {0x0C, 0x80, 0x04, 0x80, 0x00, 0x05, 0xFD, 0xBC, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00,
             0x00, 0xA0, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00}},
      {288, {0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0x10, 0x0C, 0x80, 0x04, 0x80,
             0x00, 0x05, 0xFC, 0xFF, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0xA0,
             0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00}},
      {224, {0x0C, 0x80, 0x04, 0x80, 0x00, 0x05, 0xFD, 0xB4, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00,
             0x00, 0xA0, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00}},
  }};
  return sequences;
}

constexpr std::size_t kKeptImageBytes = 50;  // the scans overwrite at most the first 36
constexpr std::size_t kHeaderNameAt = 5;
constexpr std::size_t kHeaderNameRoom = 30 - kHeaderNameAt;
constexpr std::size_t kMaxHeaderName = 16;
constexpr std::uint16_t kMonitorNameLengthAt = 16;
constexpr std::uint16_t kMonitorNameAt = 17;

std::uint8_t SumOf(const std::uint8_t* bytes, std::size_t n) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(sum);
}

bool IsAcceptedStandardId(std::uint32_t id) {
  return id == kFpgaIdStandardA || id == kFpgaIdStandardB;
}

}  // namespace

std::string ConfigNamePrefix(std::int32_t emulatorIndex, bool alternateBoard) {
  if (emulatorIndex >= 0 && emulatorIndex <= 2) return "JY";
  if ((emulatorIndex == 6 || emulatorIndex == 7) && alternateBoard) return "Q_";
  if (emulatorIndex == 5 && alternateBoard) return "QJZT_";
  if (emulatorIndex >= 3 && emulatorIndex <= 7) return "JZ";
  return "";
}

bool ConfigHeaderMatches(const std::array<std::uint8_t, 32>& header, const std::string& name) {
  if (!std::equal(kHeaderMagic.begin(), kHeaderMagic.end(), header.begin())) return false;
  if (header[30] != 0xFF) return false;
  if (header[31] != SumOf(header.data(), 31)) return false;
  const std::size_t n = header[4];
  if (n == 0 || n > kMaxHeaderName) return false;
  return name.size() == n && std::equal(name.begin(), name.end(), header.begin() + kHeaderNameAt);
}

void BuildConfigHeader(std::array<std::uint8_t, 32>& header, const std::string& name) {
  std::copy(kHeaderMagic.begin(), kHeaderMagic.end(), header.begin());
  header[4] = static_cast<std::uint8_t>(std::min<std::size_t>(name.size(), 255));
  // A name too long for the header is cut; its length byte (above 16) keeps
  // the header invalid, so such a configuration is downloaded every time.
  const std::size_t n = std::min(name.size(), kHeaderNameRoom);
  std::copy_n(name.begin(), n, header.begin() + kHeaderNameAt);
  header[30] = 0xFF;
  header[31] = SumOf(header.data(), 31);
}

bool MonitorHeaderValid(const std::uint8_t* p) {
  return std::equal(kHeaderMagic.begin(), kHeaderMagic.end(), p) && SumOf(p, 8) == p[8];
}

std::vector<ImagePiece> ImagePieces(std::int32_t length) {
  std::vector<ImagePiece> pieces;
  if (length < kImagePiece) return pieces;
  pieces.push_back({0, kImagePiece * 8, 0});
  std::int32_t remaining = length - kImagePiece;
  for (std::int32_t k = 1; remaining != 0; ++k) {
    if (remaining < kImagePiece) {
      pieces.push_back({2, static_cast<std::uint16_t>(8 * remaining), kImagePiece * k});
      remaining = 0;
    } else {
      remaining -= kImagePiece;
      pieces.push_back(
          {static_cast<std::uint8_t>(remaining == 0 ? 2 : 1), kImagePiece * 8, kImagePiece * k});
    }
  }
  return pieces;
}

Fmdu::Fmdu(CommandSet& commands, EmulatorState& state, TargetConfig& config, const PodTable& pods,
           Ui& ui, TProgForm& progress, ClockGenerator& clock, TargetPrep& prep,
           const std::string& dataDirectory)
    : cmd_(commands),
      state_(state),
      config_(config),
      pods_(pods),
      ui_(ui),
      progress_(progress),
      clock_(clock),
      prep_(prep),
      dataDirectory_(dataDirectory),
      image_(kImageBufferSize, 0) {}

// ---- library reader -------------------------------------------------------

bool Fmdu::OpenLibrary() {
  CloseLibrary();
  file_.open(dataDirectory_ + kFmdFileName, std::ios::binary);
  if (!file_.is_open()) return false;
  file_.seekg(0, std::ios::end);
  const std::streamoff size = file_.tellg();
  if (size <= 0) {
    CloseLibrary();
    return false;
  }
  fileSize_ = static_cast<std::uint64_t>(size);

  // Signature and count first; then only as much of the index as the count
  // asks for (at least one record) and the file holds.
  std::vector<std::uint8_t> head(kFmdIndexOffset);
  file_.seekg(0);
  if (!file_.read(reinterpret_cast<char*>(head.data()),
                  static_cast<std::streamsize>(head.size())) ||
      !std::equal(kFmdSignature.begin(), kFmdSignature.end(), head.begin())) {
    CloseLibrary();
    return false;
  }
  const auto count = LoadLe<std::int32_t>(head.data() + kFmdCountOffset);
  const std::uint64_t records = count < 1 ? 1 : static_cast<std::uint64_t>(count);
  const std::uint64_t wanted =
      std::min<std::uint64_t>(kFmdIndexOffset + records * kFmdIndexRecordSize, fileSize_);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(wanted));
  file_.seekg(0);
  if (!file_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(wanted)) ||
      !ParseFmdIndex(bytes.data(), bytes.size(), index_)) {
    CloseLibrary();
    return false;
  }
  return true;
}

void Fmdu::CloseLibrary() {
  if (file_.is_open()) file_.close();
  file_.clear();
  index_.clear();
  found_ = nullptr;
  fileSize_ = 0;
}

std::int32_t Fmdu::FindRecord(const std::string& name) {
  std::int32_t length = 0;
  found_ = nullptr;
  if (file_.is_open()) {
    const FmdIndexRecord* record = FindFmdRecord(index_, name);
    // A record whose data does not lie in the file counts as missing.
    if (record != nullptr && record->dataLength > 0 && FmdRecordInFile(*record, fileSize_)) {
      file_.seekg(record->dataOffset);
      if (file_) {
        found_ = record;
        length = record->dataLength;
      }
    }
  }
  if (length == 0) ui_.MessageBox(MessageKind::Error, GetMessage(831) + ": " + name);
  return length;
}

void Fmdu::LoadImage(const std::string& name) {
  imageLength_ = 0;
  OpenLibrary();
  const std::int32_t length = FindRecord(name);
  if (length == 0 || found_ == nullptr) {
    CloseLibrary();
    return;
  }
  // Never read past the image buffer: a longer record is refused as damaged.
  if (static_cast<std::uint64_t>(length) > image_.size()) {
    ui_.MessageBox(MessageKind::Error, GetMessage(831) + ": " + name);
    CloseLibrary();
    return;
  }
  const std::int32_t mode = found_->scrambleMode;
  if (!file_.read(reinterpret_cast<char*>(image_.data()), length)) {
    CloseLibrary();
    return;
  }
  for (std::int32_t i = 0; i < length; ++i) image_[i] = Descramble(mode, image_[i]);
  CloseLibrary();
  // The record's last byte is read but not counted.
  imageLength_ = length - 1;
}

// ---- pod and emulator -----------------------------------------------------

const PodSlot* Fmdu::SelectedPod() const {
  const std::int32_t index = config_.PodIndex;
  if (index < 0 || index >= kPodSlotCount) return nullptr;
  return &pods_[static_cast<std::size_t>(index)];
}

std::string Fmdu::ConfigurationName() const {
  const PodSlot* pod = SelectedPod();
  const char* base = pod != nullptr && pod->PodConfigName != nullptr ? pod->PodConfigName : "";
  return ConfigNamePrefix(config_.EmulatorIndex, alternateBoard_) + base;
}

std::uint32_t Fmdu::ReadFpgaIdentificationCode() {
  std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
  if (alternateBoard_) {
    cmd_.InstructionScan(8, 0x16);
  } else {
    cmd_.InstructionScan(5, 9);
  }
  if (!ScanOk(cmd_.DataScan(32, image_.data()))) return 0;
  const auto& rep = cmd_.Link().Reply();
  return static_cast<std::uint32_t>(rep[0]) << 24 | static_cast<std::uint32_t>(rep[1]) << 16 |
         static_cast<std::uint32_t>(rep[2]) << 8 | rep[3];
}

void Fmdu::MonitorCheck(const std::string& monitorName, std::uint8_t podCode,
                        std::uint8_t monitorKind) {
  // An index outside the model table (a damaged settings file) counts as an
  // emulator without this monitor, like the models beyond the table.
  const std::int32_t emulator = config_.EmulatorIndex;
  if (emulator < 0 || emulator >= kEmulatorModelCount) return;
  auto& m = state_.paramMirror;
  for (std::uint16_t i = 0; i <= 8; ++i) cmd_.ReadParamByte(i);
  cmd_.ReadParamByte(kMonitorNameLengthAt);
  std::string stored;
  const std::uint8_t n = m[kMonitorNameLengthAt];
  if (n >= 1 && n <= kMaxHeaderName) {
    for (std::uint16_t i = 0; i < n; ++i) {
      cmd_.ReadParamByte(static_cast<std::uint16_t>(kMonitorNameAt + i));
      stored.push_back(static_cast<char>(m[kMonitorNameAt + i]));
    }
  }
  if (MonitorHeaderValid(m.data()) && m[4] == podCode && m[5] == monitorKind &&
      stored == monitorName) {
    return;
  }

  // From here the header is invalid until the new monitor is complete.
  for (std::uint16_t i = 0; i < 4; ++i) {
    m[i] = 0;
    cmd_.WriteParamByte(i);
  }
  LoadImage(monitorName);
  if (imageLength_ == 0) return;
  imageLength_ = std::min(imageLength_, kMonitorImageLimit);
  WriteMonitorImage();

  const std::size_t nameLength = std::min<std::size_t>(
      monitorName.size(), std::min<std::size_t>(255, m.size() - kMonitorNameAt));
  m[kMonitorNameLengthAt] = static_cast<std::uint8_t>(nameLength);
  cmd_.WriteParamByte(kMonitorNameLengthAt);
  for (std::size_t i = 0; i < nameLength; ++i) {
    m[kMonitorNameAt + i] = static_cast<std::uint8_t>(monitorName[i]);
    cmd_.WriteParamByte(static_cast<std::uint16_t>(kMonitorNameAt + i));
  }

  std::copy(kHeaderMagic.begin(), kHeaderMagic.end(), m.begin());
  m[4] = podCode;
  m[5] = monitorKind;
  m[8] = SumOf(m.data(), 8);  // positions 6 and 7 as read
  for (std::uint16_t i = 0; i <= 8; ++i) cmd_.WriteParamByte(i);
}

void Fmdu::WriteMonitorImage() {
  for (std::int32_t page = 0; page * kMonitorPage < imageLength_; ++page) {
    const std::int32_t pageStart = page * kMonitorPage;
    const std::int32_t pageLength = std::min(kMonitorPage, imageLength_ - pageStart);
    for (std::int32_t offset = 0; offset < pageLength; offset += kMonitorPiece) {
      const std::int32_t count = std::min(kMonitorPiece, pageLength - offset);
      cmd_.LoadPagePiece(static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(count),
                         image_.data() + pageStart + offset);
    }
    cmd_.StorePage(static_cast<std::uint16_t>(kMonitorBase + pageStart));
  }
}

void Fmdu::PodConfigurationCheck() {
  Transport& link = cmd_.Link();
  if (link.LinkFailed()) return;
  const std::string name = ConfigurationName();

  bool stale = !cmd_.QueryLogicConfigured();
  cmd_.ReadConfigHeader();
  if (!ConfigHeaderMatches(state_.configHeader, name)) stale = true;

  if (stale) {
    state_.podConfigured = false;
    if (!ScanOk(cmd_.ResetScanChain())) return;
    if (!alternateBoard_ && !ScanOk(cmd_.InstructionScan(5, 0xFF))) return;
    LoadImage(name);
    // An image shorter than one piece has no valid piece sequence.
    if (imageLength_ > 0 && imageLength_ < kImagePiece) imageLength_ = 0;
    bool sent = false;
    if (imageLength_ != 0) sent = alternateBoard_ ? AlternateDownload() : StandardDownload();
    // Whether the FPGA took the configuration is decided by command 32.
    link.SetLinkFailed(false);
    link.SetErrorKind(kErrorMcuReset);
    if (cmd_.QueryLogicConfigured()) {
      // The header names only a configuration this attempt sent: logic still
      // running an earlier one must not be claimed to hold this one, or no
      // later connection would download it.
      if (sent) {
        BuildConfigHeader(state_.configHeader, name);
        cmd_.WriteConfigHeader();
      }
      state_.podConfigured = true;
    }
  } else {
    state_.podConfigured = true;
  }

  const int pod = config_.PodNumber();
  if (pod == 2 || pod == 3 || pod == 5 || pod == 6 || pod == 7) cmd_.ReadStatus(true);
  // Debugging works without calibrated timing, but the user should know that
  // the target is sampled with untested timing.
  if (!clock_.ClockAndTimingSetup())
    ui_.MessageBox(MessageKind::Warning, ConnectionFailureText(kErrorNoMcu, std::string()));
  prep_.UploadMemoryMap();
  prep_.UpdateRunIndicator();
}

void Fmdu::SendImagePieces() {
  for (const ImagePiece& piece : ImagePieces(imageLength_)) {
    cmd_.DataScanPiece(piece.kind, piece.bits, image_.data() + piece.offset);
    if (piece.offset != 0) progress_.Step();
  }
}

bool Fmdu::StandardDownload() {
  std::array<std::uint8_t, kKeptImageBytes> kept{};
  std::copy_n(image_.begin(), kept.size(), kept.begin());
  progress_.Start(static_cast<std::uint16_t>(imageLength_ / kImagePiece), GetMessage(1673));

  if (!ScanOk(cmd_.ResetScanChain())) return false;
  if (!ScanOk(cmd_.InstructionScan(5, 0xFF))) return false;
  if (!IsAcceptedStandardId(ReadFpgaIdentificationCode())) return false;

  for (const FpgaSequence& sequence : StandardSequences()) {
    cmd_.InstructionScan(5, 5);
    std::copy(sequence.bytes.begin(), sequence.bytes.end(), image_.begin());
    cmd_.DataScan(sequence.bits, image_.data());
    cmd_.InstructionScan(5, 12);
    image_[0] = image_[1] = 0;
    cmd_.DataScan(13, image_.data());
  }
  std::copy(kept.begin(), kept.end(), image_.begin());

  if (!ScanOk(cmd_.InstructionScan(5, 5))) return false;
  SendImagePieces();

  cmd_.InstructionScan(5, 12);
  image_[0] = image_[1] = 0;
  cmd_.DataScan(13, image_.data());

  image_[0] = 0;
  for (int i = 0; i < 4; ++i)
    if (!ScanOk(cmd_.InstructionScan(5, 0xFF))) break;
  cmd_.DataScan(1, image_.data());
  progress_.Reset();
  return true;
}

bool Fmdu::AlternateDownload() {
  std::array<std::uint8_t, kKeptImageBytes> kept{};
  std::copy_n(image_.begin(), kept.size(), kept.begin());
  progress_.Start(static_cast<std::uint16_t>(imageLength_ / kImagePiece), GetMessage(1673));

  if (!ScanOk(cmd_.ResetScanChain())) return false;
  if (ReadFpgaIdentificationCode() != kFpgaIdAlternate) return false;

  auto idle = [this](int times) {
    for (int i = 0; i < times; ++i) cmd_.ScanIdle();
  };
  cmd_.InstructionScan(8, 0x1C);
  std::fill_n(image_.begin(), 31, 0xFF);
  cmd_.DataScan(234, image_.data());
  cmd_.InstructionScan(8, 0x23);
  idle(1);
  cmd_.InstructionScan(8, 0x15);
  idle(20);
  cmd_.InstructionScan(8, 0x03);
  idle(1);
  cmd_.InstructionScan(8, 0x1A);
  std::fill_n(image_.begin(), 4, 0x00);
  cmd_.DataScan(32, image_.data());
  idle(1);
  cmd_.InstructionScan(8, 0x21);
  idle(1);
  cmd_.InstructionScan(8, 0x02);
  std::copy(kept.begin(), kept.end(), image_.begin());
  SendImagePieces();
  idle(1);
  // The user code is read as the device expects it; its value is not used.
  cmd_.InstructionScan(8, 0x17);
  cmd_.DataScan(32, image_.data());
  cmd_.InstructionScan(8, 0x1E);
  idle(2);
  cmd_.InstructionScan(8, 0xFF);
  idle(1);
  cmd_.InstructionScan(8, 0x1C);
  std::fill_n(image_.begin(), 31, 0xFF);
  cmd_.DataScan(234, image_.data());
  progress_.Reset();
  return true;
}

}  // namespace kz
