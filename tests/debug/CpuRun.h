#pragma once
// An SDCC program on the virtual emulator's CPU core as the C model's
// target, run instruction by instruction to a stop. Every call and every
// interrupt keeps a copy of the CPU as it was at the call instruction (or at
// the interrupted instruction) until the matching return: the caller's own
// view of its variables, which a caller frame of the model must match.
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cpu/Cpu8051.h"
#include "debug/Target.h"

namespace kz51::debug::test {

class CpuTarget final : public Target {
 public:
  explicit CpuTarget(kzemu::Cpu8051& cpu) : cpu_(cpu) {}

  Result<std::vector<std::uint8_t>> Read(MemorySpace space, std::uint32_t address,
                                         std::uint32_t length) override {
    std::vector<std::uint8_t> out;
    for (std::uint32_t i = 0; i < length; ++i) {
      const std::uint32_t a = address + i;
      switch (space) {
        case MemorySpace::Code:
          out.push_back(cpu_.code[a & 0xFFFF]);
          break;
        case MemorySpace::Xdata:
          out.push_back(cpu_.xdata[a & 0xFFFF]);
          break;
        case MemorySpace::Pdata:
          out.push_back(cpu_.xdata[a & 0xFF]);
          break;
        case MemorySpace::Data:
        case MemorySpace::Idata:
          out.push_back(cpu_.iram[a & 0xFF]);
          break;
        case MemorySpace::Sfr:
          out.push_back(cpu_.ReadSfr(static_cast<std::uint8_t>(a)));
          break;
      }
    }
    return out;
  }
  Result<Done> Write(MemorySpace space, std::uint32_t address,
                     const std::vector<std::uint8_t>& bytes) override {
    ++changes_;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const std::uint32_t a = address + static_cast<std::uint32_t>(i);
      switch (space) {
        case MemorySpace::Code:
          cpu_.code[a & 0xFFFF] = bytes[i];
          break;
        case MemorySpace::Xdata:
          cpu_.xdata[a & 0xFFFF] = bytes[i];
          break;
        case MemorySpace::Pdata:
          cpu_.xdata[a & 0xFF] = bytes[i];
          break;
        case MemorySpace::Data:
        case MemorySpace::Idata:
          cpu_.iram[a & 0xFF] = bytes[i];
          break;
        case MemorySpace::Sfr:
          cpu_.WriteSfr(static_cast<std::uint8_t>(a), bytes[i]);
          break;
      }
    }
    return Done{};
  }
  Result<Registers> ReadRegisters() override {
    Registers r;
    for (int i = 0; i < 8; ++i) r.r[i] = cpu_.R(i);
    r.a = cpu_.A();
    r.b = cpu_.ReadSfr(0xF0);
    r.sp = cpu_.Sp();
    r.psw = cpu_.Psw();
    r.dptr = cpu_.Dptr();
    r.pc = cpu_.pc;
    return r;
  }
  Result<Done> SetRegister(const std::string& name, std::uint32_t value) override {
    ++changes_;
    if (name.size() == 2 && name[0] == 'r') {
      cpu_.iram[(cpu_.Psw() & 0x18) + (name[1] - '0')] = static_cast<std::uint8_t>(value);
    } else if (name == "a") {
      cpu_.WriteSfr(0xE0, static_cast<std::uint8_t>(value));
    } else if (name == "b") {
      cpu_.WriteSfr(0xF0, static_cast<std::uint8_t>(value));
    } else if (name == "sp") {
      cpu_.WriteSfr(0x81, static_cast<std::uint8_t>(value));
    } else if (name == "psw") {
      cpu_.WriteSfr(0xD0, static_cast<std::uint8_t>(value));
    } else if (name == "dptr") {
      cpu_.WriteSfr(0x82, static_cast<std::uint8_t>(value));
      cpu_.WriteSfr(0x83, static_cast<std::uint8_t>(value >> 8));
    } else if (name == "pc") {
      cpu_.pc = static_cast<std::uint16_t>(value);
    } else {
      return Result<Done>::Fail("no register " + name);
    }
    return Done{};
  }
  std::uint64_t Changes() const override { return changes_; }
  std::uint64_t Runs() const override { return runs_; }
  void Ran() {
    ++runs_;
    ++changes_;
  }

 private:
  kzemu::Cpu8051& cpu_;
  std::uint64_t changes_ = 0, runs_ = 0;
};

inline std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The program run from reset with its shadow of callers.
class CpuRun {
 public:
  explicit CpuRun(const std::string& ihx) {
    std::string error;
    loaded_ = cpu.LoadIntelHex(ReadText(ihx), &error);
    cpu.Reset();
  }
  bool Loaded() const { return loaded_; }

  // Runs until the PC reaches `address` for the `hits`-th time (counting
  // from now); false when `limit` instructions pass first.
  bool RunTo(std::uint32_t address, int hits, std::uint64_t limit = 5'000'000) {
    target.Ran();
    for (std::uint64_t n = 0; n < limit; ++n) {
      if (cpu.pc == address && --hits == 0) return true;
      Step();
    }
    return false;
  }

  // One step with the shadow kept. A whole copy of the CPU is made only
  // before a call; an interrupt is found after the step, so internal RAM,
  // the SFRs and the PC of before the step are kept for it every time.
  void Step() {
    const std::uint8_t op = cpu.code[cpu.pc];
    const bool call = op == 0x12 || (op & 0x1F) == 0x11;
    const std::uint64_t interrupts = cpu.interrupts;
    const auto iram = cpu.iram;
    std::array<std::uint8_t, 128> sfr;
    for (int i = 0; i < 128; ++i) sfr[i] = cpu.ReadSfr(static_cast<std::uint8_t>(0x80 + i));
    const std::uint16_t pc = cpu.pc;
    std::optional<kzemu::Cpu8051> before;
    if (call) before = cpu;
    cpu.Step();
    if (cpu.interrupts != interrupts) {
      kzemu::Cpu8051 s = cpu;
      for (int i = 0; i < 128; ++i) s.WriteSfr(static_cast<std::uint8_t>(0x80 + i), sfr[i]);
      s.iram = iram;
      s.pc = pc;
      shadow.push_back(std::move(s));
    } else if (call) {
      shadow.push_back(std::move(*before));
    } else if ((op == 0x22 || op == 0x32) && !shadow.empty()) {
      shadow.pop_back();
    }
  }

  kzemu::Cpu8051 cpu;
  CpuTarget target{cpu};
  std::vector<kzemu::Cpu8051> shadow;  // innermost last

 private:
  bool loaded_ = false;
};

}  // namespace kz51::debug::test
