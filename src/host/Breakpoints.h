#pragma once
// Breakpoints: AG_BreakFunc and AG_BpInfo on the break markers of the shadow
// memory's attribute cells, the breakpoint address list armed in the
// emulator with breakpoint bytes, and the queries execution control asks
// while running (is there a breakpoint here, does a stop here end the run).
//
// The host owns its breakpoint records and the list linking them; every walk
// starts at the record the registered anchor points to, and visits each
// record once even when a damaged list links back onto itself.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/AG_DLL_DEF.h"
#include "host/MemoryAccess.h"
#include "link/MemoryTransfers.h"

namespace kz {

class Breakpoints {
 public:
  static constexpr std::size_t kCapacity = 1000;  // addresses in the list
  static constexpr std::uint16_t kBreakMarker = 0x08;
  static constexpr std::uint16_t kDisabledMarker = 0x40;
  static constexpr std::uint16_t kReportedBit = 0x10;
  static constexpr std::int32_t kNoCell = static_cast<std::int32_t>(0x80000000u);
  static constexpr std::uint8_t kArmed = 4;  // breakpoint byte value

  // Outcomes of breakpoint evaluation.
  enum Evaluation : int { kContinue = 0, kStop = 1, kNoBreakpoint = 2 };

  // `anchor` and `callback` are the host's registrations, read at every use.
  Breakpoints(MemoryAccess& memory, MemoryTransfers& transfers, BreakpointRecord** const& anchor,
              const HostCallback& callback);
  Breakpoints(const Breakpoints&) = delete;
  Breakpoints& operator=(const Breakpoints&) = delete;

  // ---- entry points (the caller has checked the abandon flag) ----
  // `ended` tells whether the common end runs after this answer.
  void* BreakFunc(std::uint16_t code, std::uint32_t* address, BreakpointRecord* record,
                  bool& ended);
  std::int32_t BpInfo(std::uint16_t code, std::uint32_t* address, bool& ended);

  // ---- the address list ----
  // False when the address was listed already or the list is full (then it
  // is not armed).
  bool ListAdd(std::uint16_t address);
  void ListRemove(std::uint16_t address);
  void ListEmpty() { list_.clear(); }
  bool Listed(std::uint16_t address) const;
  const std::vector<std::uint16_t>& List() const { return list_; }
  void ArmAllInEmulator();
  void DisarmAllInEmulator();

  // ---- operations for execution control ----
  void Arm(std::uint32_t key);
  void Disarm(std::uint32_t key);
  bool BreakpointAt(std::uint32_t address);
  Evaluation Evaluate(std::uint32_t address);
  // Enabled breakpoints of kinds 1 or 2 found by the last arm or disarm:
  // runs then proceed by single steps.
  bool OtherKindsCounted() const { return counts_[1] != 0 || counts_[2] != 0; }
  std::int32_t Count(int kind) const { return counts_[kind]; }
  std::int32_t ArmingDepth() const { return depth_; }
  BreakpointRecord* HitRecord() const { return hit_; }
  void SetHitRecord(BreakpointRecord* r) { hit_ = r; }

  // Records a walk visits: every record once, at most the distinct records
  // of a list that links back onto itself.
  static std::size_t DistinctRecords(BreakpointRecord* head);

 private:
  template <typename Visit>
  void Walk(Visit&& visit);
  void CountKinds();

  MemoryAccess& memory_;
  MemoryTransfers& transfers_;
  BreakpointRecord** const& anchor_;
  const HostCallback& callback_;

  std::vector<std::uint16_t> list_;
  std::int32_t depth_ = 0;
  std::int32_t counts_[3] = {0, 0, 0};
  BreakpointRecord* hit_ = nullptr;
};

}  // namespace kz
