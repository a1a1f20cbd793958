#pragma once
// A small stateful emulator with a pod for the connection tests: identities,
// parameter memory (monitor header), configuration header, a logic device
// that becomes configured after the last image piece, echoed configuration
// words and a status that passes every timing trial. Built on the recording
// emulator, so every packet is kept.
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "connect/FmdIndex.h"
#include "connect/FmdScramble.h"
#include "fakes/FakeUsbPipes.h"

namespace kz::test {

inline std::uint32_t IdentityWordOf(std::uint8_t code, std::uint8_t yearField, std::uint8_t month,
                                    std::uint16_t serial) {
  return static_cast<std::uint32_t>(code) << 22 | static_cast<std::uint32_t>(yearField) << 19 |
         static_cast<std::uint32_t>(month) << 15 | serial;
}

class PodEmulator {
 public:
  // What the hardware reports.
  std::uint32_t emulatorWord = IdentityWordOf(0x01, 1, 3, 123);
  std::uint32_t podWord = IdentityWordOf(0x01, 2, 5, 42);
  std::uint32_t fpgaId = 0x93C06120;
  std::array<std::uint8_t, 2> identifyAnswer = {'V', '1'};  // after the link's own open
  bool takesConfiguration = true;  // the logic is configured after the last image piece
  std::uint16_t status1 = 0x0583;  // CPU type 3, every trial passes

  // What it holds.
  std::array<std::uint8_t, 512> param{};
  std::array<std::uint8_t, 32> configHeader{};
  bool configured = false;
  std::array<std::uint16_t, 4> W{};
  std::uint8_t control = 0;
  std::uint8_t lastInstruction = 0;

  fake::RecordingEmulator rec;

  PodEmulator() {
    rec.respond = [this](const fake::Packet& c, fake::Packet& r) { return Answer(c, r); };
  }

  std::vector<fake::Packet> Sent(std::uint8_t code) const {
    std::vector<fake::Packet> out;
    for (const auto& p : rec.Sent())
      if (p[0] == code) out.push_back(p);
    return out;
  }
  std::size_t Count(std::uint8_t code) const { return Sent(code).size(); }

 private:
  bool Answer(const fake::Packet& c, fake::Packet& r) {
    r.fill(0);
    switch (c[0]) {
      case 1:
        if (identifies_++ == 0) {
          r[0] = 'V';  // the link's own identification
          r[1] = '1';
        } else {
          r[0] = identifyAnswer[0];
          r[1] = identifyAnswer[1];
        }
        return true;
      case 2:
        param[U16(c, 1) % param.size()] = c[16];
        return true;
      case 3:
        r[0] = param[U16(c, 1) % param.size()];
        return true;
      case 4:
      case 5: {
        const std::uint32_t w = c[0] == 4 ? emulatorWord : podWord;
        for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<std::uint8_t>(w >> (8 * i));
        return true;
      }
      case 9:
        for (int i = 0; i < 4; ++i) W[i] = U16(c, 1 + 2 * i);
        return true;
      case 10: {
        const std::uint16_t words[6] = {0x0008, status1, W[0], W[1], W[2], W[3]};
        for (int i = 0; i < 6; ++i) {
          r[2 * i] = static_cast<std::uint8_t>(words[i]);
          r[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
        }
        return true;
      }
      case 15:
        if (c[1] == 2) control = c[2];
        r[0] = control;
        return true;
      case 32:
        r[0] = configured ? 1 : 0;
        return true;
      case 34:
        lastInstruction = c[2];
        return true;
      case 35:
        if (lastInstruction == 9 || lastInstruction == 0x16) {
          for (int i = 0; i < 4; ++i) r[i] = static_cast<std::uint8_t>(fpgaId >> (24 - 8 * i));
        }
        return true;
      case 36:
        if (c[1] == 2 && takesConfiguration) configured = true;
        return true;
      case 37:
        std::copy_n(c.begin() + 1, 32, configHeader.begin());
        return true;
      case 38:
        std::copy(configHeader.begin(), configHeader.end(), r.begin());
        return true;
      default:
        return true;
    }
  }
  static std::uint16_t U16(const fake::Packet& p, int at) {
    return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
  }
  int identifies_ = 0;
};

// A KZ.FMD written into a fresh temporary directory.
struct LibraryEntry {
  std::string name;
  std::vector<std::uint8_t> image;  // the counted bytes; one more byte is stored
  std::int32_t mode = 0;
  std::int32_t lengthOverride = -1;  // stored data length when not -1
};

class TempLibrary {
 public:
  TempLibrary() {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("kz51conn-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
  }
  ~TempLibrary() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempLibrary(const TempLibrary&) = delete;
  TempLibrary& operator=(const TempLibrary&) = delete;

  // The data directory string as the driver keeps it (separator at the end).
  std::string Dir() const { return dir_.string() + "/"; }
  std::string Path() const { return Dir() + kFmdFileName; }

  void Write(const std::vector<LibraryEntry>& entries, std::int32_t count = -1,
             bool goodSignature = true) {
    std::vector<std::uint8_t> file(kFmdIndexOffset, 0);
    std::copy(kFmdSignature.begin(), kFmdSignature.end(), file.begin());
    if (!goodSignature) file[3] = 'X';
    const std::int32_t n = count < 0 ? static_cast<std::int32_t>(entries.size()) : count;
    for (int i = 0; i < 4; ++i) file[kFmdCountOffset + i] = static_cast<std::uint8_t>(n >> (8 * i));
    std::size_t dataAt = kFmdIndexOffset + entries.size() * kFmdIndexRecordSize;
    std::vector<std::uint8_t> data;
    for (const auto& e : entries) {
      FmdIndexRecord r;
      r.nameLength = static_cast<std::uint8_t>(e.name.size());
      r.name = e.name;
      r.dataOffset = static_cast<std::int32_t>(dataAt + data.size());
      r.dataLength =
          e.lengthOverride >= 0 ? e.lengthOverride : static_cast<std::int32_t>(e.image.size() + 1);
      r.scrambleMode = e.mode;
      const auto bytes = EncodeFmdIndexRecord(r);
      file.insert(file.end(), bytes.begin(), bytes.end());
      for (std::uint8_t b : e.image) data.push_back(Scramble(e.mode, b));
      data.push_back(Scramble(e.mode, 0xEE));  // the uncounted last byte
    }
    file.insert(file.end(), data.begin(), data.end());
    WriteRaw(file);
  }
  void WriteRaw(const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::filesystem::path dir_;
};

inline std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7);
  return v;
}

}  // namespace kz::test
