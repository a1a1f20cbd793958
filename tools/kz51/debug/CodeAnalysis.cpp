#include "debug/CodeAnalysis.h"

#include <algorithm>
#include <deque>

namespace kz51::debug {

namespace {

// Limits that keep a malformed or hostile program from hanging the analysis.
constexpr int kMaxUpdates = 200000;
constexpr int kMaxPrologue = 64;
constexpr int kMaxTableEntries = 256;

bool IsBankRegister(int bank, int direct) {
  return direct >= bank * 8 && direct < bank * 8 + 8;
}

}  // namespace

bool DefSet::Merge(const DefSet& other) {
  bool grew = false;
  for (std::uint32_t s : other.sites_) {
    auto it = std::lower_bound(sites_.begin(), sites_.end(), s);
    if (it == sites_.end() || *it != s) {
      sites_.insert(it, s);
      grew = true;
    }
  }
  return grew;
}

CodeAnalysis::CodeAnalysis(std::uint32_t start, std::uint32_t end,
                           const std::vector<std::uint8_t>& code, int bank, int bp,
                           const std::vector<std::uint32_t>& extraTargets, unsigned paramBytes)
    : start_(start), end_(end), code_(code), bank_(bank & 3), bp_(bp), prologueEnd_(start) {
  Run(extraTargets);
  FindPrologueEnd(paramBytes);
}

bool CodeAnalysis::Decode(std::uint32_t pc, Instruction& out) const {
  if (pc < start_ || pc > end_ || pc - start_ >= code_.size()) return false;
  std::uint8_t bytes[3] = {};
  for (std::uint32_t i = 0; i < 3; ++i)
    bytes[i] = pc - start_ + i < code_.size() ? code_[pc - start_ + i] : 0;
  out = DecodeInstruction(static_cast<std::uint16_t>(pc), bytes, bank_);
  return true;
}

CodeState CodeAnalysis::Apply(const Instruction& in, const CodeState& s) const {
  CodeState n = s;
  auto lose = [&] { n.conflict = true; };
  auto writeRegister = [&](int d) {
    n.written.set(static_cast<std::size_t>(d));
    for (auto& slot : n.slots) {
      if (slot.source != d) continue;
      slot.intact = false;
      slot.since.Merge(DefSet::Of(in.address));
    }
    if (IsBankRegister(bank_, d)) n.registerDefs[d - bank_ * 8] = DefSet::Of(in.address);
    if (d == kDpl || d == kDph) n.dptr.reset();
    if (d == kAcc) {
      n.aIsStackAddress = false;
      n.accumulatorDefs = DefSet::Of(in.address);
    }
    if (d == bp_) n.bpSet = false;
  };
  for (auto w : in.writes)
    if (w >= 0) writeRegister(w);
  // A copy into A keeps what A now holds traceable: MOV A,Rn from the
  // register's definitions.
  if (in.copyTo == kAcc && in.copyFrom >= 0 && IsBankRegister(bank_, in.copyFrom))
    n.accumulatorDefs = s.registerDefs[static_cast<std::size_t>(in.copyFrom - bank_ * 8)];

  const std::uint8_t op = in.opcode;
  // Stack arithmetic through A, the frame pointer and SP itself.
  if (op == 0xE5 && in.b1 == kSp) {  // MOV A,SP
    n.aIsStackAddress = true;
    n.aOffset = s.height;
  } else if (op == 0xE5 && bp_ >= 0 && in.b1 == bp_ && s.bpSet) {  // MOV A,_bp
    n.aIsStackAddress = true;
    n.aOffset = s.bpHeight;
  } else if (op == 0x24 && s.aIsStackAddress) {  // ADD A,#
    n.aIsStackAddress = true;
    n.aOffset = s.aOffset + static_cast<std::int8_t>(in.b1);
  } else if ((op == 0x04 || op == 0x14) && s.aIsStackAddress) {  // INC A, DEC A
    n.aIsStackAddress = true;
    n.aOffset = s.aOffset + (op == 0x04 ? 1 : -1);
  }
  if (op == 0xF5 && bp_ >= 0 && in.b1 == bp_) {  // MOV _bp,A
    n.bpSet = s.aIsStackAddress;
    n.bpHeight = s.aOffset;
  }
  if (op == 0x85 && bp_ >= 0 && in.b2 == bp_ && in.b1 == kSp) {  // MOV _bp,SP
    n.bpSet = true;
    n.bpHeight = s.height;
  }
  if (op == 0x90) n.dptr = static_cast<std::uint16_t>(in.b1 << 8 | in.b2);

  auto setHeight = [&](int h) {
    if (h < 0) {
      lose();
      return;
    }
    n.height = h;
    n.slots.resize(static_cast<std::size_t>(h));
  };
  switch (in.stack) {
    case Instruction::Stack::None:
      break;
    case Instruction::Stack::Push: {
      StackSlot slot;
      slot.source = in.operand;
      slot.entryValue = !s.written.test(in.operand);
      slot.intact = true;
      if (IsBankRegister(bank_, in.operand)) slot.defs = s.registerDefs[in.operand - bank_ * 8];
      n.height = s.height + 1;
      n.slots.push_back(std::move(slot));
      break;
    }
    case Instruction::Stack::Pop: {
      if (s.height <= 0 || s.slots.empty()) {
        lose();
        break;
      }
      const StackSlot slot = s.slots.back();
      n.slots.pop_back();
      n.height = s.height - 1;
      const int d = in.operand;
      if (d == kSp) {
        lose();
        break;
      }
      const bool same = slot.source == d;
      for (auto& other : n.slots) {
        if (other.source != d) continue;
        other.intact = false;
        // Popping the register's own copy gives back a value it held since:
        // no new one. Another byte popped into it is one.
        if (!same) other.since.Merge(DefSet::Of(in.address));
      }
      n.written.set(static_cast<std::size_t>(d), !(same && slot.entryValue));
      if (IsBankRegister(bank_, d))
        n.registerDefs[d - bank_ * 8] = same ? slot.defs : DefSet::Of(in.address);
      if (d == kDpl || d == kDph) n.dptr.reset();
      if (d == kAcc) {
        n.aIsStackAddress = false;
        n.accumulatorDefs = DefSet::Of(in.address);
      }
      if (d == bp_) n.bpSet = false;  // the caller's _bp again
      break;
    }
    case Instruction::Stack::SpWrite:
      if (op == 0x05) {  // INC SP
        setHeight(s.height + 1);
      } else if (op == 0x15) {  // DEC SP
        setHeight(s.height - 1);
      } else if (op == 0xF5 && s.aIsStackAddress) {  // MOV SP,A
        setHeight(s.aOffset);
      } else if (op == 0x85 && bp_ >= 0 && in.b1 == bp_ && s.bpSet) {  // MOV SP,_bp
        setHeight(s.bpHeight);
      } else {
        lose();
      }
      break;
  }
  if (in.flow == Instruction::Flow::Call) {
    // The called code may use every register of the bank and A, B, DPTR and
    // PSW; it keeps SP, and SDCC's functions give the caller its _bp back.
    for (int r = 0; r < 8; ++r) writeRegister(bank_ * 8 + r);
    for (int d : {kAcc, kB, kDpl, kDph, kPsw}) writeRegister(d);
  }
  return n;
}

bool CodeAnalysis::Merge(CodeState& into, const CodeState& from) {
  if (into.conflict) return false;
  if (from.conflict || into.height != from.height || into.bpSet != from.bpSet ||
      (into.bpSet && into.bpHeight != from.bpHeight) || into.slots.size() != from.slots.size()) {
    into.conflict = true;
    return true;
  }
  bool changed = false;
  for (std::size_t i = 0; i < into.slots.size(); ++i) {
    StackSlot& a = into.slots[i];
    const StackSlot& b = from.slots[i];
    if (a.source != b.source) {
      if (a.source != -1) {
        a = StackSlot{};
        changed = true;
      }
      continue;
    }
    if (a.entryValue && !b.entryValue) {
      a.entryValue = false;
      changed = true;
    }
    if (a.intact && !b.intact) {
      a.intact = false;
      changed = true;
    }
    changed = a.defs.Merge(b.defs) || changed;
    changed = a.since.Merge(b.since) || changed;
  }
  const auto written = into.written | from.written;
  if (written != into.written) {
    into.written = written;
    changed = true;
  }
  for (std::size_t r = 0; r < into.registerDefs.size(); ++r)
    changed = into.registerDefs[r].Merge(from.registerDefs[r]) || changed;
  changed = into.accumulatorDefs.Merge(from.accumulatorDefs) || changed;
  if (into.aIsStackAddress && (!from.aIsStackAddress || into.aOffset != from.aOffset)) {
    into.aIsStackAddress = false;
    changed = true;
  }
  if (into.dptr && into.dptr != from.dptr) {
    into.dptr.reset();
    changed = true;
  }
  return changed;
}

void CodeAnalysis::Run(const std::vector<std::uint32_t>& extraTargets) {
  CodeState entry;
  for (auto& d : entry.registerDefs) d = DefSet::Of(DefSet::kEntry);
  entry.accumulatorDefs = DefSet::Of(DefSet::kEntry);
  states_[start_] = entry;
  std::deque<std::uint32_t> work{start_};
  int updates = 0;
  while (!work.empty() && updates < kMaxUpdates) {
    const std::uint32_t pc = work.front();
    work.pop_front();
    Instruction in;
    if (!Decode(pc, in)) continue;
    decoded_[pc] = in;
    const CodeState here = states_[pc];
    if (here.conflict) continue;
    if (in.Writes(kAcc) || in.copyFrom == kAcc) accumulatorBefore_[pc].Merge(here.accumulatorDefs);
    const CodeState after = Apply(in, here);
    std::vector<std::uint32_t> next;
    const std::uint32_t fall = pc + in.length;
    auto inside = [&](std::uint32_t a) { return a >= start_ && a <= end_; };
    switch (in.flow) {
      case Instruction::Flow::Next:
      case Instruction::Flow::Call:
        next.push_back(fall);
        break;
      case Instruction::Flow::Jump:
        next.push_back(in.target);  // outside: a jump into other code ends the path
        break;
      case Instruction::Flow::Branch:
        next.push_back(in.target);
        next.push_back(fall);
        break;
      case Instruction::Flow::Return:
        break;
      case Instruction::Flow::Indirect: {
        // A table of jumps at a constant DPTR (sdcc's switch), else every C
        // line after the dispatch: sdcc keeps the stack height across it.
        bool table = false;
        if (here.dptr) {
          std::uint32_t at = *here.dptr;
          for (int k = 0; k < kMaxTableEntries && inside(at); ++k) {
            Instruction j;
            if (!Decode(at, j) || j.flow != Instruction::Flow::Jump) break;
            next.push_back(at);
            table = true;
            at += j.length;
          }
        }
        if (!table)
          for (std::uint32_t t : extraTargets)
            if (t > pc) next.push_back(t);
        break;
      }
    }
    for (std::uint32_t t : next) {
      if (!inside(t)) continue;
      auto it = states_.find(t);
      if (it == states_.end()) {
        states_.emplace(t, after);
        work.push_back(t);
        ++updates;
      } else if (Merge(it->second, after)) {
        work.push_back(t);
        ++updates;
      }
    }
  }
}

void CodeAnalysis::FindPrologueEnd(unsigned paramBytes) {
  // Straight on from the entry while the instructions set up the frame
  // (PUSH, _bp, SP, PSW's bank) or move the first parameter out of
  // DPL/DPH/B/A.
  auto isParamRegister = [&](int d) {
    return (d == kDpl && paramBytes >= 1) || (d == kDph && paramBytes >= 2) ||
           (d == kB && paramBytes >= 3) || (d == kAcc && paramBytes >= 4);
  };
  bool aParam = paramBytes >= 4;
  bool aStack = false;
  std::uint32_t pc = start_;
  for (int k = 0; k < kMaxPrologue; ++k) {
    Instruction in;
    if (!Decode(pc, in)) break;
    const std::uint8_t op = in.opcode;
    bool ok = false;
    if (in.stack == Instruction::Stack::Push) {
      ok = true;
    } else if (op == 0x85 && in.b1 == kSp && bp_ >= 0 && in.b2 == bp_) {  // MOV _bp,SP
      ok = true;
    } else if (op == 0xE5 && in.b1 == kSp) {  // MOV A,SP
      ok = aStack = true;
      aParam = false;
    } else if (op == 0x24 && aStack) {  // ADD A,#
      ok = true;
    } else if (op == 0xF5 && aStack && (in.b1 == kSp || (bp_ >= 0 && in.b1 == bp_))) {
      ok = true;
    } else if (op == 0x05 && in.b1 == kSp) {  // INC SP
      ok = true;
    } else if (op == 0x75 && in.b1 == kPsw) {  // MOV PSW,#
      ok = true;
    } else if ((op & 0xF8) == 0xA8 && isParamRegister(in.b1)) {  // MOV Rn,DPL
      ok = true;
    } else if ((op & 0xF8) == 0xF8 && aParam) {  // MOV Rn,A
      ok = true;
    } else if (op == 0xE5 && isParamRegister(in.b1)) {  // MOV A,DPL
      ok = aParam = true;
      aStack = false;
    } else if (op == 0x85 && isParamRegister(in.b1) && in.b2 != kSp) {  // MOV x,DPL
      ok = true;
    } else if (op == 0xF5 && aParam && in.b1 != kSp) {  // MOV x,A
      ok = true;
    }
    if (!ok) break;
    pc += in.length;
  }
  prologueEnd_ = pc;
}

const CodeState* CodeAnalysis::At(std::uint32_t pc) const {
  const auto it = states_.find(pc);
  if (it == states_.end() || it->second.conflict) return nullptr;
  return &it->second;
}

const Instruction* CodeAnalysis::InstructionAt(std::uint32_t pc) const {
  const auto it = decoded_.find(pc);
  return it == decoded_.end() ? nullptr : &it->second;
}

const DefSet* CodeAnalysis::AccumulatorBefore(std::uint32_t site) const {
  const auto it = accumulatorBefore_.find(site);
  return it == accumulatorBefore_.end() ? nullptr : &it->second;
}

bool CodeAnalysis::TransferBetween(std::uint32_t from, std::uint32_t to) const {
  std::uint32_t pc = from;
  while (pc < to) {
    Instruction in;
    if (!Decode(pc, in) || in.flow != Instruction::Flow::Next) return true;
    pc += in.length;
  }
  return pc != to;
}

}  // namespace kz51::debug
