#include "firmware/Firmware.h"

#include <algorithm>
#include <charconv>

#include "config/ByteOrder.h"

namespace kzemu {

namespace {

using kz::LoadLe;
using kz::StoreLe;

// Command codes.
enum : std::uint8_t {
  kIdentify = 1,
  kWriteParam = 2,
  kReadParam = 3,
  kEmulatorIdentity = 4,
  kPodIdentity = 5,
  kWriteConfig = 9,
  kReadStatus = 10,
  kClockGenerator = 14,
  kControl = 15,
  kScanIdle = 16,
  kLoadPagePiece = 17,
  kStorePage = 18,
  kLogicConfigured = 32,
  kScanReset = 33,
  kInstructionScan = 34,
  kDataScan = 35,
  kDataScanPiece = 36,
  kWriteConfigHeader = 37,
  kReadConfigHeader = 38,
  kWriteCode = 65,
  kWriteXdata = 66,
  kWriteIdata = 68,
  kWriteData = 69,
  kWriteBreakpoints = 70,
  kReadXdata = 72,
  kReadIdata = 74,
  kReadData = 75,
  kFillMap = 76,
  kStep = 77,
  kRun = 78,
  kReadRegisters = 79,
  kWriteRegisters = 80,
  kClockClass = 81,
  kOptionAccess = 83,
  kWriteOption = 84,
};

constexpr std::uint8_t kTcon = sfr::TCON, kT2con = 0xC8, kSfrA2 = 0xA2;
constexpr std::uint16_t kStopRequest = 0x0010;  // W1 bit 4

// The three fixed command sequences of the standard device's configuration.
constexpr std::uint8_t kSeq1[28] = {0x0C, 0x80, 0x04, 0x80, 0x00, 0x05, 0xFD, 0xBC, 0x0C, 0x00,
                                    0x01, 0x80, 0x00, 0x00, 0x00, 0xA0, 0x0C, 0x00, 0x01, 0x80,
                                    0x00, 0x00, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00};
constexpr std::uint8_t kSeq2[36] = {0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0x10, 0x0C,
                                    0x80, 0x04, 0x80, 0x00, 0x05, 0xFC, 0xFF, 0x0C, 0x00,
                                    0x01, 0x80, 0x00, 0x00, 0x00, 0xA0, 0x0C, 0x00, 0x01,
                                    0x80, 0x00, 0x00, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00};
constexpr std::uint8_t kSeq3[28] = {0x0C, 0x80, 0x04, 0x80, 0x00, 0x05, 0xFD, 0xB4, 0x0C, 0x00,
                                    0x01, 0x80, 0x00, 0x00, 0x00, 0xA0, 0x0C, 0x00, 0x01, 0x80,
                                    0x00, 0x00, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00};
constexpr std::uint8_t kZeros[4] = {0, 0, 0, 0};
constexpr std::uint8_t kOnes[30] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

std::uint32_t Ceil8(std::uint32_t bits) {
  return (bits + 7) / 8;
}

}  // namespace

// ---------------------------------------------------------------- config --

std::uint8_t PodCodeOfSlot(int pod) {
  static constexpr std::uint8_t kCodes[11] = {0,    0x01, 0x00, 0x00, 0x07, 0x04,
                                              0x02, 0x03, 0x05, 0x06, 0x22};
  return pod >= 1 && pod <= 10 ? kCodes[pod] : 0;
}

// -------------------------------------------------------------- firmware --

// The tables below are never destroyed: the provider's server thread may
// serve a packet while the process exits and runs the static destructors.

const std::vector<std::uint8_t>& Firmware::ShadowedAddresses(int pod) {
  // ACC comes before PSW so that restoring them leaves PSW as saved.
  static const auto& kPod1 =
      *new std::vector<std::uint8_t>{0x00, sfr::DPL, sfr::DPH, kSfrA2, sfr::ACC, sfr::PSW};
  static const auto& kPod3 = *new std::vector<std::uint8_t>{
      0x00, sfr::DPL, sfr::DPH, kTcon, kSfrA2, sfr::IE, kT2con, sfr::ACC, sfr::PSW, sfr::B};
  static const auto& kGroup =
      *new std::vector<std::uint8_t>{0x00, sfr::DPL, sfr::DPH, sfr::IE, sfr::ACC, sfr::PSW, sfr::B};
  static const auto& kPod8 = *new std::vector<std::uint8_t>{
      0x00, 0x01, 0x02, 0x03, sfr::SP, sfr::DPL, sfr::DPH, sfr::ACC, sfr::PSW};
  static const auto& kPod9 = *new std::vector<std::uint8_t>{
      0x00, 0x01, 0x02, 0x03, 0x04, 0x05, sfr::SP, sfr::DPL, sfr::DPH, kTcon, sfr::ACC, sfr::PSW};
  static const auto& kNone = *new std::vector<std::uint8_t>;
  switch (pod) {
    case 1:
      return kPod1;
    case 2:
    case 4:
    case 5:
    case 6:
    case 7:
      return kGroup;
    case 3:
      return kPod3;
    case 8:
      return kPod8;
    case 9:
      return kPod9;
    default:
      return kNone;
  }
}

Firmware::Firmware(FirmwareConfig cfg)
    : cfg_(std::move(cfg)), rng_(cfg_.seed == 0 ? 1 : cfg_.seed) {
  param_.fill(0xFF);  // erased: no monitor header yet
  configHeader_.fill(0xFF);
  map_.assign(0x10000, 0);
  bp_.assign(0x10000, 0);
  logicConfigured_ = cfg_.logicConfigured;
  if (cfg_.serialOut == "stdout") {
    serialFile_ = stdout;
  } else if (cfg_.serialOut == "stderr") {
    serialFile_ = stderr;
  } else if (!cfg_.serialOut.empty()) {
    serialFile_ = std::fopen(cfg_.serialOut.c_str(), "ab");
    ownsSerialFile_ = serialFile_ != nullptr;
  }
  if (serialFile_ != nullptr) {
    cpu_.onSerialTx = [this](std::uint8_t b) {
      std::fputc(b, serialFile_);
      std::fflush(serialFile_);
    };
  }
  cpu_.Reset();
  // Power-on: the monitor owns the CPU until the first step or run.
  EnterMonitor(StopReason::kNone);
}

Firmware::~Firmware() {
  if (ownsSerialFile_) std::fclose(serialFile_);
}

std::uint32_t Firmware::ReplyDelayMs() const {
  return (cfg_.faults & kFaultSlow) != 0 ? cfg_.delayMs : 0;
}

void Firmware::SetFaults(std::uint32_t faults, std::uint32_t disconnectAfter, std::uint32_t delayMs,
                         std::uint32_t seed) {
  cfg_.faults = faults;
  cfg_.disconnectAfter = disconnectAfter;
  cfg_.delayMs = delayMs;
  cfg_.seed = seed;
  rng_ = seed == 0 ? 1 : seed;
  served_ = 0;
  unplugged_ = false;
}

bool Firmware::Serve(const Packet& cmd, Packet& reply) {
  if (unplugged_) return false;
  if ((cfg_.faults & kFaultDisconnect) != 0 && served_ >= cfg_.disconnectAfter) {
    unplugged_ = true;
    return false;
  }
  ++served_;
  if ((cfg_.faults & kFaultSilent) != 0) return false;
  if ((cfg_.faults & kFaultGarbage) != 0) {
    Garbage(cmd, reply);
    return true;
  }
  reply.fill(0);
  Answer(cmd, reply);
  if ((cfg_.faults & kFaultWrongId) != 0 && cmd[0] == kIdentify) {
    reply[0] = 'V';
    reply[1] = '2';
  }
  return true;
}

void Firmware::Garbage(const Packet& cmd, Packet& rep) {
  for (auto& b : rep) {
    rng_ ^= rng_ << 13;  // xorshift32: repeatable for a given seed
    rng_ ^= rng_ >> 17;
    rng_ ^= rng_ << 5;
    b = static_cast<std::uint8_t>(rng_);
  }
  if (cmd[0] == kIdentify && rep[0] == 'V' && rep[1] == '1') rep[1] = '0';
}

std::uint32_t Firmware::IdentityWord(bool pod) const {
  const std::uint32_t serial = pod ? cfg_.podSerial : cfg_.serial;
  const std::uint32_t month = static_cast<std::uint32_t>(pod ? cfg_.podMonth : cfg_.month);
  const std::uint32_t year = static_cast<std::uint32_t>((pod ? cfg_.podYear : cfg_.year) - 2005);
  const std::uint32_t code =
      pod ? static_cast<std::uint32_t>(cfg_.podCode >= 0 ? cfg_.podCode : PodCodeOfSlot(cfg_.pod))
          : cfg_.modelCode;
  return (serial & 0x7FFF) | (month & 0xF) << 15 | (year & 7) << 19 | (code & 0x3F) << 22;
}

bool Firmware::Alternate() const {
  switch (cfg_.logic) {
    case LogicDevice::kAlternate:
      return true;
    case LogicDevice::kAuto:
      return cfg_.modelCode >= 5 && cfg_.modelCode <= 7 && cfg_.serial >= 3000;
    default:
      return false;
  }
}

std::uint32_t Firmware::DeviceId() const {
  if (cfg_.logic == LogicDevice::kNone) return 0;
  return Alternate() ? kAlternateId : kStandardId;
}

std::uint8_t Firmware::CpuTypeCode() const {
  if (cfg_.cpuType >= 0) return static_cast<std::uint8_t>(cfg_.cpuType & 7);
  switch (cfg_.pod) {
    case 1:
    case 8:
      return (w_[3] & 0x0040) != 0 ? 3 : 6;  // W3 bit 6: six-clock mode
    case 2:
    case 3:
    case 5:
    case 6:
    case 7:
      return (w_[0] & 0x0200) != 0 ? 3 : 6;  // W0 bit 9
    case 4:
      return 4;
    case 9:
      return 1;
    default:
      return 6;
  }
}

std::uint16_t Firmware::Status0() const {
  return executing_ ? 0x0001 : 0x0008;
}

std::uint16_t Firmware::Status1() const {
  // Without its logic configuration the pod's CPU cannot be sampled at all.
  if (!logicConfigured_) return 0;
  const int a = (w_[1] >> 5) & 3, b = (w_[1] >> 7) & 1, c = (w_[1] >> 8) & 31,
            x = (w_[1] >> 13) & 1;
  const bool pass = a >= cfg_.aMin && a <= cfg_.aMax && b >= cfg_.bMin && b <= cfg_.bMax &&
                    c >= cfg_.cMin && c <= cfg_.cMax && (cfg_.x < 0 || x == cfg_.x);
  const std::uint16_t type = CpuTypeCode();
  return static_cast<std::uint16_t>(type | (pass ? 0x0580 : 0x0028));
}

// ---------------------------------------------------------------- answer --

void Firmware::Answer(const Packet& cmd, Packet& rep) {
  const std::uint8_t n = cmd[1];
  const std::uint16_t addr = LoadLe<std::uint16_t>(&cmd[2]);
  switch (cmd[0]) {
    case kIdentify:
      rep[0] = 'V';
      rep[1] = '1';
      break;
    case kWriteParam: {
      const auto i = LoadLe<std::uint16_t>(&cmd[1]);
      if (i < kParamSize) param_[i] = cmd[16];
      break;
    }
    case kReadParam: {
      const auto i = LoadLe<std::uint16_t>(&cmd[1]);
      rep[0] = i < kParamSize ? param_[i] : 0xFF;
      break;
    }
    case kEmulatorIdentity:
      StoreLe<std::uint32_t>(&rep[4], IdentityWord(false));
      break;
    case kPodIdentity:
      // Models 6 and 7 carry no separate pod; neither does an empty socket.
      if (cfg_.modelCode != 6 && cfg_.modelCode != 7 && cfg_.pod != 0)
        StoreLe<std::uint32_t>(&rep[4], IdentityWord(true));
      break;
    case kWriteConfig:
      WriteConfiguration(cmd);
      break;
    case kReadStatus:
      if (executing_) RunBudget();
      StoreLe<std::uint16_t>(&rep[0], Status0());
      StoreLe<std::uint16_t>(&rep[2], Status1());
      for (int i = 0; i < 4; ++i) StoreLe<std::uint16_t>(&rep[4 + 2 * i], w_[i]);
      break;
    case kClockGenerator:
      if (n >= 1 && n <= 3) std::copy_n(&cmd[16], 23, clock_[n].begin());
      break;
    case kControl:
      if (n == 2) control_ = cmd[2];
      rep[0] = control_;
      rep[1] = 0;
      break;
    case kScanIdle:
      ScanIdle();
      break;
    case kLoadPagePiece: {
      const std::uint8_t off = cmd[1], cnt = cmd[2];
      if ((off == 0 || off == 48 || off == 96) && cnt >= 1 && cnt <= 48 && off + cnt <= 128) {
        std::copy_n(&cmd[16], cnt, page_.begin() + off);
        pageFill_ = std::max<std::size_t>(pageFill_, off + cnt);
      } else {
        ++pagesRejected_;
      }
      break;
    }
    case kStorePage: {
      const auto target = LoadLe<std::uint16_t>(&cmd[1]);
      bool ok = target >= kMonitorBase && target < kMonitorBase + kMonitorSize &&
                (target - kMonitorBase) % 128 == 0 && pageFill_ > 0;
      for (int i = 3; i < 64 && ok; ++i) ok = cmd[static_cast<std::size_t>(i)] == i + 2;
      if (ok) {
        std::copy_n(page_.begin(), pageFill_, monitor_.begin() + (target - kMonitorBase));
        ++pagesStored_;
      } else {
        ++pagesRejected_;
      }
      pageFill_ = 0;
      break;
    }
    case kLogicConfigured:
      rep[0] = logicConfigured_ ? 1 : 0;
      break;
    case kScanReset:
      ScanReset();
      break;
    case kInstructionScan:
      ScanInstruction(cmd[1], cmd[2]);
      break;
    case kDataScan:
      ScanData(cmd, rep);
      break;
    case kDataScanPiece:
      ScanPiece(cmd);
      break;
    case kWriteConfigHeader:
      std::copy_n(&cmd[1], 32, configHeader_.begin());
      break;
    case kReadConfigHeader:
      std::copy_n(configHeader_.begin(), 32, rep.begin());
      break;
    case kWriteCode:
    case kWriteXdata: {
      auto& mem = cmd[0] == kWriteCode ? cpu_.code : cpu_.xdata;
      const int count = std::min<int>(n, 56);
      for (int i = 0; i < count; ++i)
        mem[static_cast<std::uint16_t>(addr + i)] = cmd[static_cast<std::size_t>(8 + i)];
      break;
    }
    case kWriteIdata:
    case kWriteData: {
      const int count = std::min<int>(n, 56);
      for (int i = 0; i < count && addr + i < 0x100; ++i)
        WriteDirectBlock(static_cast<std::uint8_t>(addr + i), cmd[static_cast<std::size_t>(8 + i)],
                         cmd[0] == kWriteIdata);
      break;
    }
    case kWriteBreakpoints: {
      const int count = std::min<int>(n, 56);
      for (int i = 0; i < count; ++i)
        bp_[static_cast<std::uint16_t>(addr + i)] = cmd[static_cast<std::size_t>(8 + i)];
      break;
    }
    case kReadXdata: {
      const int count = std::min<int>(n, 64);
      for (int i = 0; i < count; ++i)
        rep[static_cast<std::size_t>(i)] = cpu_.xdata[static_cast<std::uint16_t>(addr + i)];
      break;
    }
    case kReadIdata:
    case kReadData: {
      const int count = std::min<int>(n, 64);
      for (int i = 0; i < count && addr + i < 0x100; ++i)
        rep[static_cast<std::size_t>(i)] =
            ReadDirectBlock(static_cast<std::uint8_t>(addr + i), cmd[0] == kReadIdata);
      break;
    }
    case kFillMap: {
      const auto count = LoadLe<std::uint16_t>(&cmd[4]);
      const auto start = addr;
      if (count >= 1 && count <= 4096 && cmd[1] == (count & 0xFF))
        for (std::uint32_t i = 0; i < count && start + i < 0x10000; ++i) map_[start + i] = cmd[6];
      break;
    }
    case kStep:
      if (!executing_) {
        LeaveMonitor();
        cpu_.Step();
        EnterMonitor(StopReason::kStep);
      }
      break;
    case kRun:
      if (!executing_) {
        LeaveMonitor();
        executing_ = true;
      }
      break;
    case kReadRegisters:
      ReadRegisters(rep);
      break;
    case kWriteRegisters:
      if (!executing_) WriteRegisters(cmd);
      break;
    case kClockClass:
      clockClass_ = cmd[1];
      clockFactor_ = cmd[2];
      // A new clock class restarts the target chip, as the pod's reset line
      // does: every target reset of the driver sends it.
      if (!executing_) ResetChip();
      break;
    case kOptionAccess:
      ++optionAccesses_;
      break;
    case kWriteOption:
      option_[cmd[1] & 1] = cmd[2];
      break;
    default:
      break;  // unknown codes are answered with zeros
  }
}

void Firmware::WriteConfiguration(const Packet& cmd) {
  for (int i = 0; i < 4; ++i) w_[i] = LoadLe<std::uint16_t>(&cmd[1 + 2 * i]);
  // The stop request is a pulse: acted upon (or not) and not kept, so the next
  // run does not start with a stale request.
  if ((w_[1] & kStopRequest) != 0) {
    w_[1] = static_cast<std::uint16_t>(w_[1] & ~kStopRequest);
    if (executing_ && (cfg_.faults & kFaultNeverStop) == 0) EnterMonitor(StopReason::kRequest);
  }
}

// ------------------------------------------------------------ scan chain --

const std::vector<Firmware::ScanOp>& Firmware::Script() const {
  using K = ScanOp::Kind;
  auto I = [](std::uint8_t len, std::uint8_t v) { return ScanOp{K::kInstr, len, v, 0, nullptr}; };
  auto D = [](std::uint16_t bits, const std::uint8_t* b) {
    return ScanOp{K::kData, 0, 0, bits, b};
  };
  const ScanOp R{K::kReset, 0, 0, 0, nullptr}, P{K::kPieces, 0, 0, 0, nullptr},
      Idle{K::kIdle, 0, 0, 0, nullptr};
  static const auto& kStandard = *new std::vector<ScanOp>{
      R,           I(5, 0xFF),    I(5, 9),    D(32, nullptr), I(5, 5),    D(224, kSeq1),
      I(5, 12),    D(13, kZeros), I(5, 5),    D(288, kSeq2),  I(5, 12),   D(13, kZeros),
      I(5, 5),     D(224, kSeq3), I(5, 12),   D(13, kZeros),  I(5, 5),    P,
      I(5, 12),    D(13, kZeros), I(5, 0xFF), I(5, 0xFF),     I(5, 0xFF), I(5, 0xFF),
      D(1, kZeros)};
  static const auto& kAlternate = *[&] {
    auto* s = new std::vector<ScanOp>{
        R, I(8, 0x16), D(32, nullptr), I(8, 0x1C), D(234, kOnes), I(8, 0x23), Idle, I(8, 0x15)};
    for (int i = 0; i < 20; ++i) s->push_back(Idle);
    for (const ScanOp& op : {I(8, 0x03), Idle, I(8, 0x1A), D(32, kZeros), Idle, I(8, 0x21), Idle,
                             I(8, 0x02), P, Idle, I(8, 0x17), D(32, nullptr), I(8, 0x1E), Idle,
                             Idle, I(8, 0xFF), Idle, I(8, 0x1C), D(234, kOnes)})
      s->push_back(op);
    return s;
  }();
  static const auto& kEmpty = *new std::vector<ScanOp>;
  if (cfg_.logic == LogicDevice::kNone) return kEmpty;
  return Alternate() ? kAlternate : kStandard;
}

bool Firmware::Matches(const ScanOp& want, const ScanOp& got, const Packet* cmd) const {
  if (want.kind != got.kind) return false;
  switch (want.kind) {
    case ScanOp::kInstr:
      return want.len == got.len && want.value == got.value;
    case ScanOp::kData:
      if (want.bits != got.bits) return false;
      return want.bytes == nullptr ||
             std::equal(want.bytes, want.bytes + Ceil8(want.bits), cmd->begin() + 16);
    default:
      return true;
  }
}

// Follows the driver's download procedure step by step; the logic becomes
// configured only at the end of a complete, well-formed sequence. Anything
// out of order restarts the matching (a reset of the chain may start over).
void Firmware::Track(const ScanOp& op, const Packet* cmd) {
  const auto& s = Script();
  if (s.empty()) return;
  if (scriptPos_ < s.size() && s[scriptPos_].kind == ScanOp::kPieces) {
    if (op.kind == ScanOp::kPieces) {
      const std::uint8_t kind = (*cmd)[1];
      const std::uint16_t bits = LoadLe<std::uint16_t>(&(*cmd)[2]);
      const bool bytesOk = bits >= 1 && bits <= 448 && (*cmd)[4] == Ceil8(bits);
      // A piece may follow a kind 0 or kind 1 piece that was full (448 bits).
      const bool more =
          lastPieceKind_ >= 0 && lastPieceKind_ != 2 && pendingImage_.size() % 56 == 0;
      bool ok = bytesOk && ((kind == 0 && lastPieceKind_ < 0) ||
                            (kind == 1 && more && bits == 448) || (kind == 2 && more));
      if (ok) {
        if (kind == 0) {
          pendingImage_.clear();
          logicConfigured_ = false;  // the device is being reprogrammed
        }
        pendingImage_.insert(pendingImage_.end(), cmd->begin() + 8, cmd->begin() + 8 + Ceil8(bits));
        if (bits % 8 != 0)
          pendingImage_.back() &= static_cast<std::uint8_t>((1u << (bits % 8)) - 1);
        lastPieceKind_ = kind;
        return;
      }
      scriptPos_ = 0;
      lastPieceKind_ = -1;
    } else {
      // The pieces are complete after a kind 2 piece or a single kind 0 one.
      if (lastPieceKind_ == 0 || lastPieceKind_ == 2) {
        ++scriptPos_;
      } else {
        scriptPos_ = 0;
      }
      lastPieceKind_ = -1;
    }
  }
  if (scriptPos_ < s.size() && Matches(s[scriptPos_], op, cmd)) {
    ++scriptPos_;
  } else {
    scriptPos_ = Matches(s[0], op, cmd) ? 1 : 0;
  }
  if (scriptPos_ == s.size()) {
    logicConfigured_ = true;
    logicImage_ = pendingImage_;
    ++logicDownloads_;
    scriptPos_ = 0;
  }
}

void Firmware::ScanReset() {
  irLen_ = 0;
  ir_ = 0;
  Track(ScanOp{ScanOp::kReset, 0, 0, 0, nullptr}, nullptr);
}

void Firmware::ScanInstruction(std::uint8_t len, std::uint8_t value) {
  irLen_ = len;
  ir_ = value;
  Track(ScanOp{ScanOp::kInstr, len, value, 0, nullptr}, nullptr);
}

void Firmware::ScanData(const Packet& cmd, Packet& rep) {
  const std::uint16_t bits = LoadLe<std::uint16_t>(&cmd[1]);
  if (bits < 1 || bits > 384) {
    Track(ScanOp{ScanOp::kData, 0, 0, 0, nullptr}, &cmd);  // malformed: breaks a download
    return;
  }
  std::uint32_t out = 0;
  const bool alt = Alternate();
  if (cfg_.logic != LogicDevice::kNone) {
    if ((!alt && irLen_ == 5 && ir_ == 9) || (alt && irLen_ == 8 && ir_ == 0x16)) {
      out = DeviceId();
    } else if (alt && irLen_ == 8 && ir_ == 0x17) {
      out = logicConfigured_ ? 0x4B5A3531 : 0xFFFFFFFF;  // user code
    }
  }
  // The first bits shifted out, most significant byte first.
  rep[0] = static_cast<std::uint8_t>(out >> 24);
  rep[1] = static_cast<std::uint8_t>(out >> 16);
  rep[2] = static_cast<std::uint8_t>(out >> 8);
  rep[3] = static_cast<std::uint8_t>(out);
  Track(ScanOp{ScanOp::kData, 0, 0, bits, nullptr}, &cmd);
}

void Firmware::ScanPiece(const Packet& cmd) {
  Track(ScanOp{ScanOp::kPieces, 0, 0, 0, nullptr}, &cmd);
}

void Firmware::ScanIdle() {
  Track(ScanOp{ScanOp::kIdle, 0, 0, 0, nullptr}, nullptr);
}

// --------------------------------------------------------------- memory --

void Firmware::WriteDirectBlock(std::uint8_t a, std::uint8_t v, bool indirect) {
  if (a < 0x80 || indirect) {
    cpu_.iram[a] = v;
  } else {
    cpu_.WriteSfr(a, v);
  }
}

std::uint8_t Firmware::ReadDirectBlock(std::uint8_t a, bool indirect) {
  if (a < 0x80 || indirect) return cpu_.iram[a];
  return cpu_.ReadSfr(a);
}

// ---------------------------------------------------- registers, running --

void Firmware::ReadRegisters(Packet& rep) const {
  const auto& v = user_.v;
  const std::uint8_t lo = static_cast<std::uint8_t>(user_.pc),
                     hi = static_cast<std::uint8_t>(user_.pc >> 8);
  std::vector<std::uint8_t> r;
  switch (cfg_.pod) {
    case 3:
      r = {v[sfr::ACC], v[sfr::PSW], v[kSfrA2], v[sfr::DPH], v[sfr::DPL], lo,
           hi,          v[0],        v[kTcon],  v[kT2con],   v[sfr::B],   v[sfr::IE]};
      break;
    case 2:
    case 4:
    case 5:
    case 6:
    case 7:
      r = {v[sfr::ACC], v[sfr::PSW], v[sfr::DPH], v[sfr::DPL], lo, hi, v[0], v[sfr::B], v[sfr::IE]};
      break;
    case 1:
      r = {v[sfr::ACC], v[sfr::PSW], v[sfr::DPH], v[sfr::DPL], lo, hi, v[0], v[kSfrA2]};
      break;
    case 8:
      // The two trailing bytes: the monitor's own stack depth and a marker.
      r = {v[sfr::ACC], v[sfr::PSW], hi,   lo,   v[sfr::SP], v[sfr::DPH], v[sfr::DPL],
           v[0],        v[1],        v[2], v[3], 0x02,       0x5A};
      break;
    case 9:
      r = {v[sfr::ACC], v[sfr::PSW], v[kTcon], hi,   lo,   v[sfr::SP], v[sfr::DPH], v[sfr::DPL],
           v[0],        v[1],        v[2],     v[3], v[4], v[5],       0x02,        0x5A};
      break;
    default:
      break;
  }
  std::copy(r.begin(), r.end(), rep.begin());
}

void Firmware::WriteRegisters(const Packet& cmd) {
  auto& v = user_.v;
  auto pcLoHi = [&](std::size_t i) {
    user_.pc = static_cast<std::uint16_t>(cmd[i] | cmd[i + 1] << 8);
  };
  auto pcHiLo = [&](std::size_t i) {
    user_.pc = static_cast<std::uint16_t>(cmd[i] << 8 | cmd[i + 1]);
  };
  switch (cfg_.pod) {
    case 3:
      v[sfr::ACC] = cmd[1];
      v[sfr::PSW] = cmd[2];
      v[kSfrA2] = cmd[3];
      v[sfr::DPH] = cmd[4];
      v[sfr::DPL] = cmd[5];
      pcLoHi(6);
      v[0] = cmd[8];
      // Only the timer run bits travel; the rest stay as the monitor saved them.
      v[kTcon] = static_cast<std::uint8_t>((v[kTcon] & ~0x50) | (cmd[9] & 0x50));
      v[kT2con] = static_cast<std::uint8_t>((v[kT2con] & ~0x04) | (cmd[10] & 0x04));
      v[sfr::B] = cmd[11];
      v[sfr::IE] = cmd[12];
      break;
    case 2:
    case 4:
    case 5:
    case 6:
    case 7:
      v[sfr::ACC] = cmd[1];
      v[sfr::PSW] = cmd[2];
      v[sfr::DPH] = cmd[3];
      v[sfr::DPL] = cmd[4];
      pcLoHi(5);
      v[0] = cmd[7];
      v[sfr::B] = cmd[8];
      v[sfr::IE] = cmd[9];
      break;
    case 1:
      v[sfr::ACC] = cmd[1];
      v[sfr::PSW] = cmd[2];
      v[sfr::DPH] = cmd[3];
      v[sfr::DPL] = cmd[4];
      pcLoHi(5);
      v[0] = cmd[7];
      v[kSfrA2] = cmd[8];
      break;
    case 8:
      v[sfr::ACC] = cmd[1];
      v[sfr::PSW] = cmd[2];
      pcHiLo(3);
      v[sfr::SP] = cmd[5];
      v[sfr::DPH] = cmd[6];
      v[sfr::DPL] = cmd[7];
      for (int i = 0; i < 4; ++i)
        v[static_cast<std::size_t>(i)] = cmd[static_cast<std::size_t>(8 + i)];
      break;
    case 9:
      v[sfr::ACC] = cmd[1];
      v[sfr::PSW] = cmd[2];
      v[kTcon] = cmd[3];
      pcHiLo(4);
      v[sfr::SP] = cmd[6];
      v[sfr::DPH] = cmd[7];
      v[sfr::DPL] = cmd[8];
      for (int i = 0; i < 6; ++i)
        v[static_cast<std::size_t>(i)] = cmd[static_cast<std::size_t>(9 + i)];
      break;
    default:
      break;
  }
}

// The monitor takes the CPU: it saves the user's program counter and the
// registers it is about to use, and then really uses them (their chip values
// become the complement of the user's, so nothing can read them by accident).
void Firmware::EnterMonitor(StopReason why) {
  executing_ = false;
  user_.pc = cpu_.pc;
  // Pods 8 and 9 stop one byte past the breakpoint address.
  if (why == StopReason::kBreakpoint && (cfg_.pod == 8 || cfg_.pod == 9))
    user_.pc = static_cast<std::uint16_t>(cpu_.pc + 1);
  for (const std::uint8_t a : ShadowedAddresses(cfg_.pod)) {
    const std::uint8_t v = a < 0x80 ? cpu_.iram[a] : cpu_.ReadSfr(a);
    user_.v[a] = v;
    WriteDirectBlock(a, static_cast<std::uint8_t>(~v), false);
  }
}

// The monitor hands the CPU back: the user's registers (as last written with
// command 80) return to the chip.
void Firmware::LeaveMonitor() {
  for (const std::uint8_t a : ShadowedAddresses(cfg_.pod)) WriteDirectBlock(a, user_.v[a], false);
  cpu_.pc = user_.pc;
}

// The chip comes out of reset with the 8051's reset values in its SFRs and PC
// 0; internal RAM keeps its contents. The monitor's save area then holds the
// reset values of the registers it owns.
void Firmware::ResetChip() {
  LeaveMonitor();
  cpu_.Reset();
  EnterMonitor(StopReason::kNone);
}

void Firmware::RunBudget() {
  cpu_.RunToMark(cfg_.budget, bp_.data(), 0x04, cycleLimit_);
  const bool atBreakpoint = (bp_[cpu_.pc] & 0x04) != 0;
  // A breakpoint reached with the limit used up exactly still counts as
  // reached; one reached by an instruction that went past the limit not.
  if (cpu_.cycles > cycleLimit_ || (cpu_.cycles == cycleLimit_ && !atBreakpoint)) {
    cycleLimit_ = UINT64_MAX;
    limitReached_ = true;
    EnterMonitor(StopReason::kRequest);
  } else if (atBreakpoint) {
    EnterMonitor(StopReason::kBreakpoint);
  }
}

// ---------------------------------------------------------------- counts --

void Firmware::StartCounts(const std::vector<std::uint32_t>& regions) {
  cpu_.SetCounts(nullptr);
  counts_ = std::make_unique<ExecutionCounts>(regions);
  counts_->start = {cpu_.cycles, cpu_.instructions, cpu_.interrupts};
  cpu_.SetCounts(counts_.get());
}

void Firmware::StopCounts() {
  cpu_.SetCounts(nullptr);
  counts_.reset();
}

void Firmware::SetCycleLimit(std::uint64_t cycles) {
  limitReached_ = false;
  cycleLimit_ =
      cycles == 0 || cycles > UINT64_MAX - cpu_.cycles ? UINT64_MAX : cpu_.cycles + cycles;
}

}  // namespace kzemu
