// libFuzzer target: the input decides every reply of the emulator while the
// driver connects and runs a short debugging session (registers, memory in
// every space, a code download, a step, a go until an address).
//
// The first byte chooses the pod. Then each command packet the driver writes
// takes one directive byte from the input, saying what comes back: the
// virtual emulator's own reply (its firmware runs in process and sees every
// packet), no reply at all, 64 bytes from the input, the real reply with one
// byte changed, a short read, a failing read, or a failing write. An input
// that runs out leaves the rest to the virtual emulator, so short inputs still
// reach the end of the session. The driver runs on fake ports with real data
// files (KZ.MDB and KZ.FMD that kz51-mkdata wrote) in a private directory.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "config/Settings.h"
#include "fakes/FakeUi.h"
#include "firmware/Firmware.h"
#include "host/Driver.h"

namespace {

namespace fs = std::filesystem;

// Pod slot -> emulator model code it is usually found in.
constexpr int kModelOfPod[11] = {0, 0, 0, 1, 2, 3, 4, 5, 0, 1, 0x20};
// Once the session has made this many exchanges, status reads say "stopped"
// so that a run whose stop was fuzzed away still ends.
constexpr int kStopAfterExchanges = 20000;

class Input {
 public:
  Input(const std::uint8_t* d, std::size_t n) : d_(d), n_(n) {}
  bool Empty() const { return pos_ >= n_; }
  std::uint8_t Byte() { return pos_ < n_ ? d_[pos_++] : 0; }

 private:
  const std::uint8_t* d_;
  std::size_t n_, pos_ = 0;
};

class FuzzedPipes : public kz::UsbPipes {
 public:
  FuzzedPipes(Input& in, const kzemu::FirmwareConfig& cfg) : in_(in), firmware_(cfg) {}

  kz::PipeHandle OpenReadPipe() override { return 3; }
  kz::PipeHandle OpenWritePipe() override { return 4; }
  bool Write(kz::PipeHandle, const std::uint8_t* data, std::uint32_t len) override {
    kzemu::Packet cmd{};
    std::memcpy(cmd.data(), data, len < cmd.size() ? len : cmd.size());
    kzemu::Packet genuine{};
    const bool answered = firmware_.Serve(cmd, genuine);
    ++exchanges_;
    if (exchanges_ > kStopAfterExchanges && cmd[0] == 10) {
      genuine[0] = 0x08;  // status word 0: stopped
      genuine[1] = 0x00;
    }
    pending_ = answered;
    reply_ = genuine;
    replyBytes_ = 64;
    readFails_ = false;
    const std::uint8_t directive = in_.Empty() ? 0 : in_.Byte();
    switch (directive % 16) {
      case 8:  // no reply: the exchange runs out of reads
        pending_ = false;
        break;
      case 9:  // 64 bytes of the input
        for (auto& b : reply_) b = in_.Byte();
        pending_ = true;
        break;
      case 10:
      case 11: {  // the real reply with one byte changed
        const std::uint8_t at = in_.Byte();
        reply_[at % 64] = in_.Byte();
        pending_ = true;
        break;
      }
      case 12:  // a short read
        replyBytes_ = in_.Byte() % 64;
        break;
      case 13:  // the read reports failure after delivering
        readFails_ = true;
        break;
      case 14:  // the write fails
        pending_ = false;
        return false;
      default:  // the virtual emulator's reply
        break;
    }
    return true;
  }
  bool Read(kz::PipeHandle, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) override {
    got = 0;
    if (!pending_) return true;  // nothing yet
    pending_ = false;
    got = replyBytes_ < len ? replyBytes_ : len;
    std::memcpy(data, reply_.data(), got);
    return !readFails_;
  }
  void Close(kz::PipeHandle) override {}
  void SleepMs(std::uint32_t) override {}

 private:
  Input& in_;
  kzemu::Firmware firmware_;
  kzemu::Packet reply_{};
  bool pending_ = false, readFails_ = false;
  std::uint32_t replyBytes_ = 64;
  int exchanges_ = 0;
};

std::string& DataDirectory() {
  static std::string dir;
  return dir;
}

std::uint32_t KZ_CDECL IgnoreCallback(std::uint32_t, void*) {
  return 0;
}

void WriteSettings(int podIndex) {
  kz::TargetConfig rec{};
  std::memcpy(rec.Signature, kz::kSettingsSignature.data(), kz::kSettingsSignature.size());
  rec.PodIndex = podIndex;
  rec.Reserved1080 = 1;
  rec.CrystalHz = 11'059'200;
  if (std::FILE* f = std::fopen((DataDirectory() + kz::kSettingsFileName).c_str(), "wb")) {
    std::fwrite(rec.Bytes(), 1, sizeof rec, f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path dir = fs::temp_directory_path() / ("kz51-fuzz-" + std::to_string(getpid()));
  fs::create_directories(dir);
  for (const char* name : {"KZ.MDB", "KZ.FMD"})
    fs::copy_file(fs::path(KZ_OUT_DIR) / name, dir / name, fs::copy_options::overwrite_existing);
  DataDirectory() = dir.string() + "/";
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(DataDirectory(), ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const int pod = 1 + in.Byte() % 10;
  kzemu::FirmwareConfig cfg;
  cfg.pod = pod;
  cfg.modelCode = static_cast<std::uint8_t>(kModelOfPod[pod]);
  WriteSettings(pod - 1);

  FuzzedPipes pipes(in, cfg);
  kz::fake::FakeUi ui;  // every dialog is cancelled
  kz::fake::FakeSystem system;
  system.commandLine = DataDirectory() + "host";
  kz::Driver driver(kz::Ports{pipes, ui, system});
  if (!driver.Startup()) __builtin_trap();  // the data files are there

  std::uint32_t pcCell = 0;
  kz::BreakpointRecord* first = nullptr;
  driver.AgInit(0x30A, 1);
  driver.AgInit(0x312, reinterpret_cast<std::uintptr_t>(&IgnoreCallback));
  driver.AgInit(0x30E, reinterpret_cast<std::uintptr_t>(&first));
  driver.AgInit(0x30F, reinterpret_cast<std::uintptr_t>(&pcCell));
  driver.AgInit(0x100, 0);
  const std::int32_t connected = driver.EnumUv351(nullptr, 2);
  if (connected != 0 && connected != 8051) __builtin_trap();

  // A short debugging session; every answer is one its entry point may give.
  std::uint8_t value[4] = {};
  if (driver.AgRegAcc(1, 0x500, value) != 0) __builtin_trap();
  if (driver.AgAllReg(1, nullptr) != 0) __builtin_trap();
  std::uint8_t buffer[256];
  for (std::uint32_t a :
       {0xF0000030u, 0xF0000080u, 0xF3000080u, 0x01000100u, 0xFE000010u, 0xFF000000u}) {
    kz::AddressRecord r{a, 0, 0};
    const auto answer = driver.AgMemAcc(1, buffer, &r, 40);
    if (answer > 2) __builtin_trap();
  }
  std::uint8_t program[] = {0x74, 0x01, 0x04, 0x80, 0xFD};  // MOV A,#1; INC A; SJMP $-1
  kz::AddressRecord code{0xFF000000u, 0, 0};
  if (driver.AgMemAcc(2, program, &code, sizeof program) > 5) __builtin_trap();
  kz::AddressRecord xdata{0x01000200u, 0, 0};
  std::memset(buffer, 0xA5, sizeof buffer);
  if (driver.AgMemAcc(2, buffer, &xdata, 100) > 5) __builtin_trap();
  std::uint32_t pc = 0xFF000000u;
  driver.AgRegAcc(2, 0x500, &pc);
  driver.AgGoStep(2, 2, nullptr);
  kz::AddressRecord until{0xFF000003u, 0, 0};
  driver.AgGoStep(3, 0, &until);
  if (driver.AgRegAcc(1, 0x500, value) != 0) __builtin_trap();
  driver.AgInit(0x40C, 0);
  return 0;
}
