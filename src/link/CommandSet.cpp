#include "link/CommandSet.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <mutex>
#include <span>
#include <utility>

#include "config/ByteOrder.h"

namespace kz {

namespace {

using Packet = std::array<std::uint8_t, Transport::kPacketSize>;

// Fixed payload positions of the command packet.
constexpr std::size_t kParamAt = 1;      // parameter bytes
constexpr std::size_t kWriteDataAt = 8;  // bulk data of the write blocks and command 36
constexpr std::size_t kPageDataAt = 16;  // bulk data of the parameter, page and scan commands
constexpr std::size_t kWriteDataMax = Transport::kPacketSize - kWriteDataAt;  // 56
constexpr std::size_t kPageDataMax = Transport::kPacketSize - kPageDataAt;    // 48
constexpr std::size_t kReadMax = Transport::kPacketSize;                      // 64
static_assert(kWriteDataMax == 56 && kPageDataMax == 48);

constexpr std::size_t kConfigHeaderAt = 1;
static_assert(kConfigHeaderAt + std::tuple_size_v<decltype(EmulatorState::configHeader)> <=
              kWriteDataAt + kWriteDataMax);
static_assert(std::tuple_size_v<decltype(EmulatorState::emulatorIdentity)> <= kReadMax);
static_assert(std::tuple_size_v<decltype(EmulatorState::configHeader)> <= kReadMax);

constexpr std::size_t kClockImageAt = 16;
static_assert(kClockImageAt + 23 == 39);

constexpr std::uint16_t kUpperIdata = 0x80;  // idata image from here, data image below

// Image accesses are bounded by the image: a byte beyond it reads as 0 and a
// store beyond it is dropped, so a caller that oversteps cannot run past a
// buffer (the images may also still be unallocated).
template <typename Image>
std::uint8_t ByteAt(const Image& image, std::size_t index) {
  return index < image.size() ? image[index] : 0;
}
template <typename Image>
void StoreAt(Image& image, std::size_t index, std::uint8_t value) {
  if (index < image.size()) image[index] = value;
}

void PutU16(Packet& cmd, std::size_t at, std::uint16_t value) {
  StoreLe<std::uint16_t>(cmd.data() + at, value);
}

// One command: test the link-failed flag (without the lock), then under the
// link lock fill the packet, exchange it and decode the reply. The reply is
// decoded only when the exchange went through, so a failing exchange leaves the
// driver's images as they were instead of filling them with stale reply bytes.
// Returns false when the link had failed before or during the exchange.
template <typename Fill, typename Decode>
bool Transact(Transport& link, std::uint8_t code, Fill&& fill, Decode&& decode) {
  if (link.LinkFailed()) return false;
  std::lock_guard<std::recursive_mutex> hold(link.Lock());
  Packet& cmd = link.Command();
  cmd[0] = code;
  fill(cmd);
  link.Exchange();
  if (link.LinkFailed()) return false;
  decode(static_cast<const Packet&>(link.Reply()));
  return true;
}

template <typename Fill>
bool Send(Transport& link, std::uint8_t code, Fill&& fill) {
  return Transact(link, code, std::forward<Fill>(fill), [](const Packet&) {});
}

bool SendCode(Transport& link, std::uint8_t code) {
  return Send(link, code, [](Packet&) {});
}

std::uint8_t ScanResult(bool exchanged) {
  return exchanged ? kScanDone : 0;
}

// Register layouts of commands 79 and 80, byte for byte from byte 1 of the
// request (80) and byte 0 of the reply (79).
enum class Reg : std::uint8_t {
  kAcc,
  kPsw,
  kSfrA2,
  kDph,
  kDpl,
  kPcLo,
  kPcHi,
  kR0,
  kR1,
  kR2,
  kR3,
  kR4,
  kR5,
  kTcon,
  kT2con,
  kB,
  kIe,
  kSp,
};

constexpr Reg kPod3Layout[] = {Reg::kAcc,  Reg::kPsw,   Reg::kSfrA2, Reg::kDph,
                               Reg::kDpl,  Reg::kPcLo,  Reg::kPcHi,  Reg::kR0,
                               Reg::kTcon, Reg::kT2con, Reg::kB,     Reg::kIe};
constexpr Reg kPodGroupLayout[] = {Reg::kAcc,  Reg::kPsw, Reg::kDph, Reg::kDpl, Reg::kPcLo,
                                   Reg::kPcHi, Reg::kR0,  Reg::kB,   Reg::kIe};
constexpr Reg kPod1Layout[] = {Reg::kAcc,  Reg::kPsw,  Reg::kDph, Reg::kDpl,
                               Reg::kPcLo, Reg::kPcHi, Reg::kR0,  Reg::kSfrA2};
constexpr Reg kPod8Layout[] = {Reg::kAcc, Reg::kPsw, Reg::kPcHi, Reg::kPcLo, Reg::kSp, Reg::kDph,
                               Reg::kDpl, Reg::kR0,  Reg::kR1,   Reg::kR2,   Reg::kR3};
constexpr Reg kPod9Layout[] = {Reg::kAcc, Reg::kPsw, Reg::kTcon, Reg::kPcHi, Reg::kPcLo,
                               Reg::kSp,  Reg::kDph, Reg::kDpl,  Reg::kR0,   Reg::kR1,
                               Reg::kR2,  Reg::kR3,  Reg::kR4,   Reg::kR5};
static_assert(std::size(kPod3Layout) == 12 && std::size(kPodGroupLayout) == 9 &&
              std::size(kPod1Layout) == 8 && std::size(kPod8Layout) == 11 &&
              std::size(kPod9Layout) == 14);
static_assert(1 + std::size(kPod9Layout) <= Transport::kPacketSize);

// Empty for a pod that has no register layout (no exchange then).
std::span<const Reg> RegisterLayout(int pod) {
  switch (pod) {
    case 1:
      return kPod1Layout;
    case 2:
    case 4:
    case 5:
    case 6:
    case 7:
      return kPodGroupLayout;
    case 3:
      return kPod3Layout;
    case 8:
      return kPod8Layout;
    case 9:
      return kPod9Layout;
    default:
      return {};
  }
}

std::uint8_t* ShadowFor(RegisterShadows& s, Reg reg) {
  switch (reg) {
    case Reg::kAcc:
      return &s.ACC;
    case Reg::kPsw:
      return &s.PSW;
    case Reg::kSfrA2:
      return &s.SfrA2;
    case Reg::kDph:
      return &s.DPH;
    case Reg::kDpl:
      return &s.DPL;
    case Reg::kR0:
    case Reg::kR1:
    case Reg::kR2:
    case Reg::kR3:
    case Reg::kR4:
    case Reg::kR5:
      return &s.R[static_cast<std::size_t>(reg) - static_cast<std::size_t>(Reg::kR0)];
    case Reg::kTcon:
      return &s.TCON;
    case Reg::kT2con:
      return &s.T2CON;
    case Reg::kB:
      return &s.B;
    case Reg::kIe:
      return &s.IE;
    case Reg::kSp:
      return &s.SP;
    case Reg::kPcLo:
    case Reg::kPcHi:
      break;
  }
  return nullptr;
}

// Pod 3 writes back only the timer-run bits: TR0/TR1 of TCON and TR2 of T2CON.
constexpr std::uint8_t kPod3TconMask = 0x50;
constexpr std::uint8_t kPod3T2conMask = 0x04;

}  // namespace

void CommandSet::Identify() {
  Transact(
      link_, 1, [](Packet&) {},
      [this](const Packet& rep) {
        if (rep[0] != 0x56 || rep[1] != 0x31) link_.Fail(kErrorUsb);
      });
}

// Commands 2 and 3 skip the link-failed test and rely on the exchange doing
// nothing on a failed link.
void CommandSet::WriteParamByte(std::uint16_t index) {
  std::lock_guard<std::recursive_mutex> hold(link_.Lock());
  Packet& cmd = link_.Command();
  cmd[0] = 2;
  PutU16(cmd, kParamAt, index);
  cmd[kPageDataAt] = ByteAt(state_.paramMirror, index);
  link_.Exchange();
}

void CommandSet::ReadParamByte(std::uint16_t index) {
  std::lock_guard<std::recursive_mutex> hold(link_.Lock());
  Packet& cmd = link_.Command();
  cmd[0] = 3;
  PutU16(cmd, kParamAt, index);
  link_.Exchange();
  // Stored even when the exchange did nothing: the caller tests the flag.
  StoreAt(state_.paramMirror, index, link_.Reply()[0]);
}

void CommandSet::ReadEmulatorIdentity() {
  Transact(
      link_, 4, [](Packet&) {},
      [this](const Packet& rep) {
        std::copy_n(rep.begin(), state_.emulatorIdentity.size(), state_.emulatorIdentity.begin());
      });
}

void CommandSet::ReadPodIdentity() {
  Transact(
      link_, 5, [](Packet&) {},
      [this](const Packet& rep) {
        std::copy_n(rep.begin(), state_.podIdentity.size(), state_.podIdentity.begin());
      });
}

void CommandSet::WriteConfiguration() {
  Send(link_, 9, [this](Packet& cmd) {
    for (std::size_t i = 0; i < state_.W.size(); ++i) PutU16(cmd, kParamAt + 2 * i, state_.W[i]);
  });
}

void CommandSet::ReadStatus(bool full) {
  Transact(
      link_, 10, [](Packet&) {},
      [this, full](const Packet& rep) {
        state_.status[0] = LoadLe<std::uint16_t>(rep.data());
        state_.status[1] = LoadLe<std::uint16_t>(rep.data() + 2);
        if (!full) return;
        for (std::size_t i = 0; i < state_.W.size(); ++i)
          state_.W[i] = LoadLe<std::uint16_t>(rep.data() + 4 + 2 * i);
      });
}

void CommandSet::ProgramClock(std::uint8_t subFunction,
                              const std::array<std::uint8_t, 23>& registers) {
  Send(link_, 14, [&](Packet& cmd) {
    cmd[kParamAt] = subFunction;
    std::copy(registers.begin(), registers.end(), cmd.begin() + kClockImageAt);
  });
}

void CommandSet::Control(std::uint8_t subFunction, std::uint8_t value) {
  Transact(
      link_, 15,
      [=](Packet& cmd) {
        cmd[1] = subFunction;
        // Only the write carries a value; the other sub-functions leave the
        // byte as the previous command left it.
        if (subFunction == 2) cmd[2] = value;
      },
      [this](const Packet& rep) { state_.control = rep[0]; });
}

void CommandSet::ScanIdle() {
  SendCode(link_, 16);
}

void CommandSet::LoadPagePiece(std::uint8_t pageOffset, std::uint8_t count,
                               const std::uint8_t* src48) {
  Send(link_, 17, [=](Packet& cmd) {
    cmd[1] = pageOffset;
    cmd[2] = count;
    // Always the full 48 bytes; the count says how many belong to the page.
    if (src48 != nullptr) std::copy_n(src48, kPageDataMax, cmd.begin() + kPageDataAt);
  });
}

void CommandSet::StorePage(std::uint16_t address) {
  Send(link_, 18, [=](Packet& cmd) {
    PutU16(cmd, kParamAt, address);
    for (std::size_t n = 3; n < cmd.size(); ++n) cmd[n] = static_cast<std::uint8_t>(n + 2);
  });
}

bool CommandSet::QueryLogicConfigured() {
  bool configured = false;
  Transact(
      link_, 32, [](Packet&) {}, [&](const Packet& rep) { configured = rep[0] != 0; });
  return configured;
}

std::uint8_t CommandSet::ResetScanChain() {
  return ScanResult(SendCode(link_, 33));
}

std::uint8_t CommandSet::InstructionScan(std::uint8_t lengthBits, std::uint8_t instruction) {
  return ScanResult(Send(link_, 34, [=](Packet& cmd) {
    cmd[1] = lengthBits;
    cmd[2] = instruction;
  }));
}

std::uint8_t CommandSet::DataScan(std::uint16_t bits, const std::uint8_t* src) {
  return ScanResult(Send(link_, 35, [=](Packet& cmd) {
    PutU16(cmd, kParamAt, bits);
    // At most 384 bits fit; a larger count must not run past the packet.
    std::size_t bytes = std::min<std::size_t>((bits + 7u) / 8u, kPageDataMax);
    if (src != nullptr) std::copy_n(src, bytes, cmd.begin() + kPageDataAt);
  }));
}

std::uint8_t CommandSet::DataScanPiece(std::uint8_t kind, std::uint16_t bits,
                                       const std::uint8_t* src) {
  return ScanResult(Send(link_, 36, [=](Packet& cmd) {
    std::size_t bytes = std::min<std::size_t>((bits + 7u) / 8u, kWriteDataMax);
    cmd[1] = kind;
    PutU16(cmd, 2, bits);
    cmd[4] = static_cast<std::uint8_t>(bytes);  // the count of the bytes carried
    if (src != nullptr) std::copy_n(src, bytes, cmd.begin() + kWriteDataAt);
  }));
}

void CommandSet::WriteConfigHeader() {
  Send(link_, 37, [this](Packet& cmd) {
    std::copy(state_.configHeader.begin(), state_.configHeader.end(),
              cmd.begin() + kConfigHeaderAt);
  });
}

void CommandSet::ReadConfigHeader() {
  Transact(
      link_, 38, [](Packet&) {},
      [this](const Packet& rep) {
        std::copy_n(rep.begin(), state_.configHeader.size(), state_.configHeader.begin());
      });
}

// The write blocks carry at most 56 bytes from cmd[8]; a larger count is cut to
// 56 so that count and payload agree.
namespace {
template <typename Source>
void FillWriteBlock(Packet& cmd, std::uint8_t count, std::uint16_t address, Source byteFor) {
  std::size_t n = std::min<std::size_t>(count, kWriteDataMax);
  cmd[1] = static_cast<std::uint8_t>(n);
  PutU16(cmd, 2, address);
  for (std::size_t i = 0; i < n; ++i) cmd[kWriteDataAt + i] = byteFor(address + i);
}
std::size_t ReadCount(std::uint8_t count) {
  return std::min<std::size_t>(count, kReadMax);
}
}  // namespace

void CommandSet::WriteCodeBlock(std::uint8_t count, std::uint16_t address) {
  Send(link_, 65, [&](Packet& cmd) {
    FillWriteBlock(cmd, count, address,
                   [this](std::size_t a) { return ByteAt(state_.codeImage, a); });
  });
}

void CommandSet::WriteXdataBlock(std::uint8_t count, std::uint16_t address) {
  Send(link_, 66, [&](Packet& cmd) {
    FillWriteBlock(cmd, count, address,
                   [this](std::size_t a) { return ByteAt(state_.xdataImage, a); });
  });
}

void CommandSet::WriteIdataBlock(std::uint8_t count, std::uint16_t address) {
  Send(link_, 68, [&](Packet& cmd) {
    FillWriteBlock(cmd, count, address, [this](std::size_t a) {
      return a >= kUpperIdata ? ByteAt(state_.idataImage, a) : ByteAt(state_.dataImage, a);
    });
  });
}

void CommandSet::WriteDataBlock(std::uint8_t count, std::uint16_t address) {
  Send(link_, 69, [&](Packet& cmd) {
    FillWriteBlock(cmd, count, address,
                   [this](std::size_t a) { return ByteAt(state_.dataImage, a); });
  });
}

void CommandSet::WriteBreakpointBytes(std::uint8_t count, std::uint16_t address,
                                      std::uint8_t value) {
  Send(link_, 70, [&](Packet& cmd) {
    FillWriteBlock(cmd, count, address, [value](std::size_t) { return value; });
  });
}

void CommandSet::ReadXdataBlock(std::uint8_t count, std::uint16_t address) {
  Transact(
      link_, 72,
      [&](Packet& cmd) {
        cmd[1] = count;
        PutU16(cmd, 2, address);
      },
      [&](const Packet& rep) {
        for (std::size_t i = 0; i < ReadCount(count); ++i)
          StoreAt(state_.xdataImage, address + i, rep[i]);
      });
}

void CommandSet::ReadIdataBlock(std::uint8_t count, std::uint16_t address) {
  Transact(
      link_, 74,
      [&](Packet& cmd) {
        cmd[1] = count;
        PutU16(cmd, 2, address);
      },
      [&](const Packet& rep) {
        for (std::size_t i = 0; i < ReadCount(count); ++i) {
          std::size_t a = address + i;
          if (a >= kUpperIdata)
            StoreAt(state_.idataImage, a, rep[i]);
          else
            StoreAt(state_.dataImage, a, rep[i]);
        }
        // Lower idata is the same RAM as direct data: keep the copy current.
        std::copy_n(state_.dataImage.begin(), kUpperIdata, state_.idataImage.begin());
      });
}

void CommandSet::ReadDataBlock(std::uint8_t count, std::uint16_t address) {
  Transact(
      link_, 75,
      [&](Packet& cmd) {
        cmd[1] = count;
        PutU16(cmd, 2, address);
      },
      [&](const Packet& rep) {
        for (std::size_t i = 0; i < ReadCount(count); ++i)
          StoreAt(state_.dataImage, address + i, rep[i]);
      });
}

void CommandSet::FillMemoryMap(std::uint16_t start, std::uint16_t count, std::uint8_t value) {
  Send(link_, 76, [=](Packet& cmd) {
    // The count travels twice: its low byte and the whole word.
    cmd[1] = static_cast<std::uint8_t>(count & 0xFF);
    PutU16(cmd, 2, start);
    PutU16(cmd, 4, count);
    cmd[6] = value;
  });
}

void CommandSet::Step() {
  SendCode(link_, 77);
}

void CommandSet::Run() {
  SendCode(link_, 78);
}

void CommandSet::ReadRegisters() {
  std::span<const Reg> layout = RegisterLayout(config_.PodNumber());
  if (layout.empty()) return;  // no register layout for this pod: nothing is sent
  // Pods 8 and 9 send the program counter high byte first; the byte order is
  // part of the layout.
  Transact(
      link_, 79, [](Packet&) {},
      [&](const Packet& rep) {
        std::uint8_t pcLo = 0, pcHi = 0;
        for (std::size_t i = 0; i < layout.size(); ++i) {
          if (layout[i] == Reg::kPcLo)
            pcLo = rep[i];
          else if (layout[i] == Reg::kPcHi)
            pcHi = rep[i];
          else
            *ShadowFor(state_.shadows, layout[i]) = rep[i];
        }
        state_.pcShadow =
            static_cast<std::uint32_t>(pcLo) | (static_cast<std::uint32_t>(pcHi) << 8);
      });
}

void CommandSet::WriteRegisters() {
  const int pod = config_.PodNumber();
  std::span<const Reg> layout = RegisterLayout(pod);
  if (layout.empty()) return;
  Send(link_, 80, [&](Packet& cmd) {
    RegisterShadows& s = state_.shadows;
    for (std::size_t i = 0; i < layout.size(); ++i) {
      std::uint8_t v = 0;
      switch (layout[i]) {
        case Reg::kPcLo:
          v = static_cast<std::uint8_t>(state_.pcShadow & 0xFF);
          break;
        case Reg::kPcHi:
          v = static_cast<std::uint8_t>((state_.pcShadow >> 8) & 0xFF);
          break;
        case Reg::kTcon:
          v = pod == 3 ? static_cast<std::uint8_t>(s.TCON & kPod3TconMask) : s.TCON;
          break;
        case Reg::kT2con:
          v = pod == 3 ? static_cast<std::uint8_t>(s.T2CON & kPod3T2conMask) : s.T2CON;
          break;
        default:
          v = *ShadowFor(s, layout[i]);
          break;
      }
      cmd[kParamAt + i] = v;
    }
  });
}

void CommandSet::SetClockClass(std::uint8_t clockClass, std::uint8_t factor) {
  Send(link_, 81, [=](Packet& cmd) {
    cmd[1] = clockClass;
    cmd[2] = factor;
  });
}

void CommandSet::OptionAccess() {
  SendCode(link_, 83);
}

void CommandSet::WriteOptionByte(std::uint8_t index, std::uint8_t value) {
  Send(link_, 84, [=](Packet& cmd) {
    cmd[1] = index;
    cmd[2] = value;
  });
}

}  // namespace kz
