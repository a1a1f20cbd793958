#pragma once
// The configuration library KZ.FMD and the two downloads it feeds: the
// emulator's monitor program and the pod's FPGA configuration. Each side keeps
// a header naming what it holds, so a download happens only when the header
// does not name the wanted image.
#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "config/PodTable.h"
#include "config/TargetConfig.h"
#include "connect/FmdIndex.h"
#include "connect/ProgBar.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"
#include "platform/Ui.h"

namespace kz {

class ClockGenerator;
class TargetPrep;

inline constexpr std::size_t kImageBufferSize = 200004;
inline constexpr int kMonitorImageLimit = 6144;
inline constexpr int kMonitorPage = 128;
inline constexpr int kMonitorPiece = 48;
inline constexpr std::uint16_t kMonitorBase = 0x2000;
inline constexpr int kImagePiece = 56;  // bytes per data scan piece (448 bits)

inline constexpr std::uint32_t kFpgaIdStandardA = 0x93C06120;
inline constexpr std::uint32_t kFpgaIdStandardB = 0x93006180;
inline constexpr std::uint32_t kFpgaIdAlternate = 0x43002411;

inline constexpr std::array<std::uint8_t, 4> kHeaderMagic = {0xA5, 0x5A, 0x00, 0xFF};

// The logic configuration name prefix for an emulator model row and the
// alternate-board flag.
std::string ConfigNamePrefix(std::int32_t emulatorIndex, bool alternateBoard);

// The 32-byte configuration header names `name` and is intact (magic,
// byte 30, checksum, name length 1..16).
bool ConfigHeaderMatches(const std::array<std::uint8_t, 32>& header, const std::string& name);
// Fills magic, length, name, byte 30 and checksum; other bytes stay.
void BuildConfigHeader(std::array<std::uint8_t, 32>& header, const std::string& name);

// Monitor header positions 0..8: magic and the checksum over 0..7.
bool MonitorHeaderValid(const std::uint8_t* positions0to8);

// One data scan piece as the image goes out: kind, bits, buffer offset.
struct ImagePiece {
  std::uint8_t kind;
  std::uint16_t bits;
  std::int32_t offset;
  bool operator==(const ImagePiece&) const = default;
};
// The pieces of an image of `length` bytes (at least one piece long).
std::vector<ImagePiece> ImagePieces(std::int32_t length);

class Fmdu {
 public:
  Fmdu(CommandSet& commands, EmulatorState& state, TargetConfig& config, const PodTable& pods,
       Ui& ui, TProgForm& progress, ClockGenerator& clock, TargetPrep& prep,
       const std::string& dataDirectory);

  // ---- library reader ----
  bool OpenLibrary();
  void CloseLibrary();
  bool LibraryOpen() const { return file_.is_open(); }
  // Data length of the named record (0 when missing, with the message box),
  // the file positioned at its data.
  std::int32_t FindRecord(const std::string& name);
  // Reads and descrambles the named record into the image buffer.
  void LoadImage(const std::string& name);
  std::int32_t ImageLength() const { return imageLength_; }
  const std::vector<std::uint8_t>& ImageBuffer() const { return image_; }

  // ---- pod and emulator ----
  std::uint32_t ReadFpgaIdentificationCode();
  void MonitorCheck(const std::string& monitorName, std::uint8_t podCode, std::uint8_t monitorKind);
  void PodConfigurationCheck();
  std::string ConfigurationName() const;

  // Set by the connection sequence from the emulator's identity.
  void SetAlternateBoard(bool on) { alternateBoard_ = on; }
  bool AlternateBoard() const { return alternateBoard_; }

 private:
  const PodSlot* SelectedPod() const;
  bool ScanOk(std::uint8_t result) const { return result == kScanDone; }
  void SendImagePieces();
  // True when the procedure got as far as sending the image, which replaces
  // whatever configuration the logic held.
  bool StandardDownload();
  bool AlternateDownload();
  void WriteMonitorImage();

  CommandSet& cmd_;
  EmulatorState& state_;
  TargetConfig& config_;
  const PodTable& pods_;
  Ui& ui_;
  TProgForm& progress_;
  ClockGenerator& clock_;
  TargetPrep& prep_;
  const std::string& dataDirectory_;

  std::ifstream file_;
  std::uint64_t fileSize_ = 0;
  std::vector<FmdIndexRecord> index_;
  const FmdIndexRecord* found_ = nullptr;

  std::vector<std::uint8_t> image_;
  std::int32_t imageLength_ = 0;
  bool alternateBoard_ = false;
};

}  // namespace kz
