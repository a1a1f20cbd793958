#pragma once
// What the code of one function does to the stack and to its registers, for
// every instruction, found by following its control flow from the entry:
//  - the bytes it has pushed above its return address (the stack height),
//    and for each pushed byte which register it came from, whether that was
//    the register's value at entry (a callee's save) and whether the register
//    still holds it (a caller's save before a call);
//  - the frame pointer _bp: whether this function has set it, and where;
//  - which direct addresses may have been written since entry (a call
//    counts as writing every register the called code may use);
//  - for R0..R7 of its bank, the instructions whose value they may hold
//    (reaching definitions; a POP of a saved register passes the pushed
//    value's on);
//  - where the prologue ends: the frame is set up and the first parameter
//    has been moved from DPL/DPH/B/A to where the debug file says it lives.
// SDCC keeps the stack height the same on every path to an instruction; a
// place where paths disagree, or SP is set in a way not followed, is unknown.
#include <bitset>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "debug/Instruction.h"

namespace kz51::debug {

// A set of definition sites (instruction addresses), kept sorted. kEntry
// stands for "the value the register had when the function was entered".
class DefSet {
 public:
  static constexpr std::uint32_t kEntry = 0xFFFFFFFFu;
  static DefSet Of(std::uint32_t site) {
    DefSet d;
    d.sites_.push_back(site);
    return d;
  }
  bool Merge(const DefSet& other);  // union; true when it grew
  const std::vector<std::uint32_t>& Sites() const { return sites_; }
  bool operator==(const DefSet& o) const { return sites_ == o.sites_; }

 private:
  std::vector<std::uint32_t> sites_;
};

struct StackSlot {
  std::int16_t source = -1;  // direct address pushed, -1 for space reserved otherwise
  bool entryValue = false;   // the source's value at function entry
  bool intact = false;       // the source still holds the pushed value
  DefSet defs;               // for R0..R7: the definitions the pushed value came from
  DefSet since;              // for R0..R7: the source's definitions since the push
};

struct CodeState {
  int height = 0;                // bytes above the return address
  std::vector<StackSlot> slots;  // slots[i] lies at entry SP + 1 + i
  std::bitset<256> written;      // direct addresses maybe written since entry
  std::vector<DefSet> registerDefs = std::vector<DefSet>(8);  // R0..R7 of the bank
  DefSet accumulatorDefs;  // the instructions whose value A may hold
  bool bpSet = false;      // _bp = entry SP + bpHeight
  int bpHeight = 0;
  // A holds entry SP + aOffset (after MOV A,SP or MOV A,_bp, with ADD A,#).
  bool aIsStackAddress = false;
  int aOffset = 0;
  std::optional<std::uint16_t> dptr;  // DPTR loaded with a constant
  bool conflict = false;              // paths disagree: nothing here can be trusted
};

class CodeAnalysis {
 public:
  // `code` holds the bytes from `start` on (at least up to `end` + 2, and
  // is copied);
  // `bank` is the register bank the code runs in; `bp` the address of
  // SDCC's frame pointer _bp (or -1 when the program has none);
  // `extraTargets` the C line addresses (used as the targets of jump tables
  // the analysis cannot read); `paramBytes` the size of the first parameter
  // passed in DPL, DPH, B and A (0 when there is none).
  CodeAnalysis(std::uint32_t start, std::uint32_t end, const std::vector<std::uint8_t>& code,
               int bank, int bp, const std::vector<std::uint32_t>& extraTargets,
               unsigned paramBytes);

  std::uint32_t Start() const { return start_; }
  std::uint32_t End() const { return end_; }
  int Bank() const { return bank_; }
  // The state before the instruction at `pc` executes; null when no path of
  // the analysis reaches it or the paths there disagree.
  const CodeState* At(std::uint32_t pc) const;
  // The instruction at `pc` (decoded when the analysis reached it).
  const Instruction* InstructionAt(std::uint32_t pc) const;
  // The first instruction after the prologue.
  std::uint32_t PrologueEnd() const { return prologueEnd_; }
  // True when a control transfer (jump, branch, call, return) lies in
  // [from, to) on the straight line from `from`.
  bool TransferBetween(std::uint32_t from, std::uint32_t to) const;
  // For an instruction that reads A at `site` (MOV Rn,A, ADD A,#...): the
  // instructions whose value A held there (sdcc often leaves the last steps
  // of an assignment to the next line).
  const DefSet* AccumulatorBefore(std::uint32_t site) const;

 private:
  void Run(const std::vector<std::uint32_t>& extraTargets);
  void FindPrologueEnd(unsigned paramBytes);
  bool Decode(std::uint32_t pc, Instruction& out) const;
  CodeState Apply(const Instruction& in, const CodeState& s) const;
  static bool Merge(CodeState& into, const CodeState& from);

  std::uint32_t start_, end_;
  std::vector<std::uint8_t> code_;
  int bank_;
  int bp_;
  std::uint32_t prologueEnd_;
  std::map<std::uint32_t, CodeState> states_;
  std::map<std::uint32_t, Instruction> decoded_;
  std::map<std::uint32_t, DefSet> accumulatorBefore_;
};

}  // namespace kz51::debug
