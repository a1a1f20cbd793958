#include "cpu/ExecutionCounts.h"

#include <algorithm>

namespace kzemu {

ExecutionCounts::ExecutionCounts(const std::vector<std::uint32_t>& regions) {
  if (regions.size() == kAddresses) std::copy(regions.begin(), regions.end(), regions_.begin());
}

void ExecutionCounts::Call(std::uint16_t site, std::uint16_t target, std::uint8_t spAfter,
                           bool interrupt, std::uint64_t cycles, std::uint64_t instructions) {
  const std::uint64_t key = std::uint64_t{interrupt} << 32 | std::uint64_t{site} << 16 | target;
  auto [it, added] = edgeIndex_.try_emplace(key, edges_.size());
  if (added) {
    CallEdge e;
    e.site = site;
    e.target = target;
    e.interrupt = interrupt;
    edges_.push_back(e);
  }
  ++edges_[it->second].count;
  if (frames_.size() == kMaxFrames) {
    // A stack deeper than the 8051's can be: the oldest frame was abandoned.
    Close(frames_.front(), cycles, instructions);
    frames_.erase(frames_.begin());
  }
  frames_.push_back(Frame{it->second, spAfter, current_, cycles, instructions});
  current_ = kOutside;  // the target is entered, whatever its region
}

void ExecutionCounts::Return(std::uint8_t spAfter, std::uint64_t cycles,
                             std::uint64_t instructions) {
  bool ended = false;
  std::uint32_t caller = current_;
  while (!frames_.empty() && frames_.back().spAfter > spAfter) {
    Close(frames_.back(), cycles, instructions);
    caller = frames_.back().callerRegion;
    frames_.pop_back();
    ended = true;
  }
  if (ended) current_ = caller;
}

void ExecutionCounts::Close(const Frame& f, std::uint64_t cycles, std::uint64_t instructions) {
  CallEdge& e = edges_[f.edge];
  e.cycles += cycles - f.cycles;
  e.instructions += instructions - f.instructions;
}

void ExecutionCounts::Abandon(std::uint64_t cycles, std::uint64_t instructions) {
  for (const Frame& f : frames_) Close(f, cycles, instructions);
  frames_.clear();
  current_ = kOutside;
}

std::uint64_t ExecutionCounts::ExtraCyclesAt(std::uint16_t address) const {
  const auto it = extraCycles_.find(address);
  return it == extraCycles_.end() ? 0 : it->second;
}

std::vector<CallEdge> ExecutionCounts::Calls(std::uint64_t cycles,
                                             std::uint64_t instructions) const {
  std::vector<CallEdge> out = edges_;
  for (const Frame& f : frames_) {
    out[f.edge].cycles += cycles - f.cycles;
    out[f.edge].instructions += instructions - f.instructions;
  }
  return out;
}

}  // namespace kzemu
