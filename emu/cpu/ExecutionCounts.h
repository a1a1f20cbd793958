#pragma once
// What the CPU executed, for coverage and profiles: per code address the
// instructions executed there and the arrivals there from another region,
// and the calls between addresses with their inclusive cost.
//
// Regions are the host's: a table giving every code address a 32-bit region,
// the function in the high 16 bits and the C line in the low 16 (0 where the
// host knows none). An arrival at an address from an instruction of another
// region is a line entry; from another function, a function entry too. A
// call (LCALL, ACALL, an interrupt's vectoring) always enters its target, and
// its return resumes the caller's region, so returning into the middle of
// the calling line is not a new entry (calls do not split lines).
//
// Calls are followed on a shadow stack matched against SP: a RET or RETI that
// leaves SP below a frame's return address ends that frame (and any deeper
// one abandoned by a stack switch) and adds the cycles and instructions
// since the call to the frame's edge. A RET that ends no frame (a computed
// jump through the stack) is an ordinary jump.
#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace kzemu {

struct CallEdge {
  std::uint16_t site = 0;    // address of the call instruction, or the interrupted address
  std::uint16_t target = 0;  // called address; an interrupt's vector address
  bool interrupt = false;
  std::uint64_t count = 0;         // calls made (including those not yet returned)
  std::uint64_t cycles = 0;        // inclusive machine cycles (vectoring and RET included)
  std::uint64_t instructions = 0;  // inclusive instructions
};

class ExecutionCounts {
 public:
  static constexpr std::size_t kAddresses = 65536;
  static constexpr std::uint32_t kOutside = 0xFFFFFFFFu;  // the region of no address
  // Frames kept at most: an 8051 stack of 256 bytes holds 128 return addresses.
  static constexpr std::size_t kMaxFrames = 256;

  // `regions`: kAddresses entries, or empty for one region everywhere (then
  // only calls enter anything).
  explicit ExecutionCounts(const std::vector<std::uint32_t>& regions);

  // The instruction at `pc` is about to execute. The hot path: two counters
  // and one compare.
  void Instruction(std::uint16_t pc) {
    ++executions_[pc];
    const std::uint32_t r = regions_[pc];
    if (r != current_) {
      ++lineEntries_[pc];
      if ((r ^ current_) >> 16) ++functionEntries_[pc];
      current_ = r;
    }
  }
  // A call made: `spAfter` is SP with the return address pushed; `cycles`
  // and `instructions` the CPU's totals just after the call instruction (for
  // an interrupt, before its vectoring).
  void Call(std::uint16_t site, std::uint16_t target, std::uint8_t spAfter, bool interrupt,
            std::uint64_t cycles, std::uint64_t instructions);
  // A RET or RETI executed, leaving SP at `spAfter`; totals include it.
  void Return(std::uint8_t spAfter, std::uint64_t cycles, std::uint64_t instructions);
  // Machine cycles spent at `address` beyond its instructions' own (an
  // interrupt's vectoring is charged to its vector address).
  void ExtraCycles(std::uint16_t address, std::uint64_t n) { extraCycles_[address] += n; }
  // The CPU was reset: every open call ends where it stands.
  void Abandon(std::uint64_t cycles, std::uint64_t instructions);

  // An arrival at `pc` that has not executed yet (the target stopped there):
  // the line and function entries it makes, 0 or 1 each.
  void PendingArrival(std::uint16_t pc, std::uint64_t& line, std::uint64_t& function) const {
    const std::uint32_t r = regions_[pc];
    line = r != current_ ? 1 : 0;
    function = ((r ^ current_) >> 16) != 0 ? 1 : 0;
  }

  const std::array<std::uint64_t, kAddresses>& Executions() const { return executions_; }
  const std::array<std::uint64_t, kAddresses>& LineEntries() const { return lineEntries_; }
  const std::array<std::uint64_t, kAddresses>& FunctionEntries() const { return functionEntries_; }
  std::uint64_t ExtraCyclesAt(std::uint16_t address) const;
  // The call edges, with the calls still open counted up to the totals given.
  std::vector<CallEdge> Calls(std::uint64_t cycles, std::uint64_t instructions) const;
  std::size_t OpenFrames() const { return frames_.size(); }

  // The CPU's totals when counting started.
  struct Totals {
    std::uint64_t cycles = 0, instructions = 0, interrupts = 0;
  };
  Totals start;

 private:
  struct Frame {
    std::size_t edge;
    std::uint8_t spAfter;
    std::uint32_t callerRegion;
    std::uint64_t cycles, instructions;
  };
  void Close(const Frame& f, std::uint64_t cycles, std::uint64_t instructions);

  // Arrays inside the object, so the hot path reaches them from the one
  // pointer the CPU holds.
  std::array<std::uint32_t, kAddresses> regions_{};
  std::uint32_t current_ = kOutside;
  std::array<std::uint64_t, kAddresses> executions_{};
  std::array<std::uint64_t, kAddresses> lineEntries_{};
  std::array<std::uint64_t, kAddresses> functionEntries_{};
  std::unordered_map<std::uint16_t, std::uint64_t> extraCycles_;
  std::vector<CallEdge> edges_;
  std::unordered_map<std::uint64_t, std::size_t> edgeIndex_;  // kind, site, target -> edges_
  std::vector<Frame> frames_;
};

}  // namespace kzemu
