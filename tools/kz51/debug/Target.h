#pragma once
// What the C model reads and writes: the stopped target's memory by space
// and its registers. The session is the target of both front ends; tests
// put a CPU core behind the same interface.
#include <cstdint>
#include <string>
#include <vector>

#include "session/Session.h"

namespace kz51::debug {

class Target {
 public:
  virtual ~Target() = default;
  virtual Result<std::vector<std::uint8_t>> Read(MemorySpace space, std::uint32_t address,
                                                 std::uint32_t length) = 0;
  virtual Result<Done> Write(MemorySpace space, std::uint32_t address,
                             const std::vector<std::uint8_t>& bytes) = 0;
  virtual Result<Registers> ReadRegisters() = 0;
  // Register names as the session's `set`: r0..r7, a, b, sp, dptr, pc, psw.
  virtual Result<Done> SetRegister(const std::string& name, std::uint32_t value) = 0;
  // Changes whenever the target may have changed by other hands (a run, a
  // reset, a load, a write): the model then reads it again. `Runs` changes
  // only with runs, resets and loads: the selected frame goes back to 0.
  virtual std::uint64_t Changes() const = 0;
  virtual std::uint64_t Runs() const = 0;
};

// The session as the model's target.
class SessionTarget final : public Target {
 public:
  explicit SessionTarget(Session& session) : session_(session) {}
  Result<std::vector<std::uint8_t>> Read(MemorySpace space, std::uint32_t address,
                                         std::uint32_t length) override {
    return session_.Read(space, address, length);
  }
  Result<Done> Write(MemorySpace space, std::uint32_t address,
                     const std::vector<std::uint8_t>& bytes) override {
    return session_.Write(space, address, bytes);
  }
  Result<Registers> ReadRegisters() override { return session_.ReadRegisters(); }
  Result<Done> SetRegister(const std::string& name, std::uint32_t value) override {
    return session_.SetRegister(name, value);
  }
  std::uint64_t Changes() const override { return session_.Changes(); }
  std::uint64_t Runs() const override { return session_.Runs(); }

 private:
  Session& session_;
};

}  // namespace kz51::debug
