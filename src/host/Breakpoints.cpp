#include "host/Breakpoints.h"

#include <algorithm>

namespace kz {

namespace {

// A bound for lists the cycle test cannot measure (a host list this long is
// not a list of breakpoints).
constexpr std::size_t kMaxRecords = std::size_t{1} << 20;

std::uint32_t KindOf(const BreakpointRecord& r) {
  return r.flags & kBpKindMask;
}
bool Enabled(const BreakpointRecord& r) {
  return (r.flags & kBpEnabled) != 0;
}
bool EnabledExecution(const BreakpointRecord& r) {
  return Enabled(r) && KindOf(r) == 0;
}

void Mark(std::uint16_t& cell, std::uint16_t set, std::uint16_t clear) {
  cell = static_cast<std::uint16_t>((cell & ~clear) | set);
}

}  // namespace

Breakpoints::Breakpoints(MemoryAccess& memory, MemoryTransfers& transfers,
                         BreakpointRecord** const& anchor, const HostCallback& callback)
    : memory_(memory), transfers_(transfers), anchor_(anchor), callback_(callback) {}

std::size_t Breakpoints::DistinctRecords(BreakpointRecord* head) {
  if (head == nullptr) return 0;
  // Brent's cycle test: the length of a cycle, if there is one.
  std::size_t power = 1, lambda = 1;
  BreakpointRecord* tortoise = head;
  BreakpointRecord* hare = head->next;
  while (hare != nullptr && hare != tortoise) {
    if (power == lambda) {
      tortoise = hare;
      power *= 2;
      lambda = 0;
      if (power > kMaxRecords) return kMaxRecords;
    }
    hare = hare->next;
    ++lambda;
  }
  if (hare == nullptr) return kMaxRecords;  // ends in 0: the walk stops there
  // Where the cycle starts: the records before it plus the cycle.
  std::size_t mu = 0;
  tortoise = hare = head;
  for (std::size_t i = 0; i < lambda; ++i) hare = hare->next;
  while (tortoise != hare) {
    tortoise = tortoise->next;
    hare = hare->next;
    ++mu;
  }
  return mu + lambda;
}

template <typename Visit>
void Breakpoints::Walk(Visit&& visit) {
  if (anchor_ == nullptr) return;
  BreakpointRecord* r = *anchor_;
  for (std::size_t left = DistinctRecords(r); r != nullptr && left > 0; --left) {
    BreakpointRecord* next = r->next;
    visit(*r);
    r = next;
  }
}

void Breakpoints::CountKinds() {
  counts_[0] = counts_[1] = counts_[2] = 0;
  Walk([this](BreakpointRecord& r) {
    const std::uint32_t kind = KindOf(r);
    if (Enabled(r) && kind <= 2) ++counts_[kind];
  });
}

void* Breakpoints::BreakFunc(std::uint16_t code, std::uint32_t* address, BreakpointRecord* record,
                             bool& ended) {
  ended = false;
  if (code == 5) {
    // The acceptance check: the host's other kind 2 is refused.
    if (record != nullptr && KindOf(*record) == 2) return nullptr;
    ended = true;
    return record;
  }
  std::uint16_t* cell = address != nullptr ? memory_.AttributeCell(*address) : nullptr;
  if (cell == nullptr) return nullptr;
  if (code == 1 || code == 4) {
    if (record == nullptr) return nullptr;
    if (Enabled(*record))
      Mark(*cell, kBreakMarker, kDisabledMarker);
    else
      Mark(*cell, kDisabledMarker, kBreakMarker);
  } else if (code == 2) {
    Mark(*cell, 0, kBreakMarker | kDisabledMarker);
  }
  ended = true;
  return record;
}

std::int32_t Breakpoints::BpInfo(std::uint16_t code, std::uint32_t* address, bool& ended) {
  ended = false;
  if (code == 5 || code == 6) {
    std::int32_t count = 0;
    Walk([&](BreakpointRecord& r) {
      if (KindOf(r) != 0) return;
      if (code == 5) {
        if (!Enabled(r)) return;
        ++count;
        std::uint16_t* cell = memory_.AttributeCell(r.address);
        if (cell != nullptr && (*cell & kBreakMarker) != 0)
          Mark(*cell, kDisabledMarker, kBreakMarker);
      } else {
        ++count;
        if (std::uint16_t* cell = memory_.AttributeCell(r.address))
          Mark(*cell, 0, kBreakMarker | kDisabledMarker);
      }
    });
    ended = true;
    return count;
  }
  std::uint16_t* cell = address != nullptr ? memory_.AttributeCell(*address) : nullptr;
  if (cell == nullptr) return kNoCell;
  ended = true;
  switch (code) {
    case 1:
    case 7:
      return *cell & (kBreakMarker | kDisabledMarker | kReportedBit);
    case 8:
      if ((*cell & kDisabledMarker) != 0) Mark(*cell, kBreakMarker, kDisabledMarker);
      return 0;
    case 9:
      if ((*cell & kBreakMarker) != 0) Mark(*cell, kDisabledMarker, kBreakMarker);
      return 0;
    case 10:
      Mark(*cell, 0, kBreakMarker | kDisabledMarker);
      return 0;
    case 11:
      Mark(*cell, kBreakMarker, kDisabledMarker);
      return 0;
    default:
      return 0;
  }
}

bool Breakpoints::ListAdd(std::uint16_t address) {
  if (Listed(address) || list_.size() >= kCapacity) return false;
  list_.push_back(address);
  return true;
}

void Breakpoints::ListRemove(std::uint16_t address) {
  const auto it = std::find(list_.begin(), list_.end(), address);
  if (it != list_.end()) list_.erase(it);  // later entries move down in order
}

bool Breakpoints::Listed(std::uint16_t address) const {
  return std::find(list_.begin(), list_.end(), address) != list_.end();
}

void Breakpoints::ArmAllInEmulator() {
  for (const std::uint16_t a : list_) transfers_.WriteBreakpointByte(a, kArmed);
}

void Breakpoints::DisarmAllInEmulator() {
  for (const std::uint16_t a : list_) transfers_.WriteBreakpointByte(a, 0);
}

void Breakpoints::Arm(std::uint32_t key) {
  CountKinds();
  if (depth_ != 0) return;
  depth_ = 1;
  if (OtherKindsCounted()) return;
  Walk([&](BreakpointRecord& r) {
    if (!EnabledExecution(r)) return;
    if (r.address == key) hit_ = &r;
    ListAdd(static_cast<std::uint16_t>(r.address & 0xFFFF));
  });
}

void Breakpoints::Disarm(std::uint32_t key) {
  CountKinds();
  if (depth_ == 0) return;
  --depth_;
  if (OtherKindsCounted()) return;
  Walk([&](BreakpointRecord& r) {
    if (!EnabledExecution(r)) return;
    if (r.address == key) hit_ = &r;
    ListRemove(static_cast<std::uint16_t>(r.address & 0xFFFF));
  });
}

bool Breakpoints::BreakpointAt(std::uint32_t address) {
  bool found = false;
  Walk(
      [&](BreakpointRecord& r) { found = found || (EnabledExecution(r) && r.address == address); });
  return found;
}

Breakpoints::Evaluation Breakpoints::Evaluate(std::uint32_t address) {
  BreakpointRecord* first = nullptr;
  Walk([&](BreakpointRecord& r) {
    if (first == nullptr && EnabledExecution(r) && r.address == address) first = &r;
  });
  if (first == nullptr) return kNoBreakpoint;
  // A count of 1 acts; so does a damaged count of 0 or below, which would
  // otherwise be decreased on every hit without ever acting.
  if (first->remainingCount <= 1) {
    if (first->commandText != nullptr) {
      if (callback_ != nullptr) callback_(4, const_cast<char*>(first->commandText));
      return kContinue;
    }
    return kStop;
  }
  --first->remainingCount;
  return kContinue;
}

}  // namespace kz
