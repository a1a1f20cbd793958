#include "debug/Frames.h"

#include <algorithm>
#include <cstdio>

namespace kz51::debug {

const char* const kRegistersReused = "kept in registers, which the called code has reused";

namespace {

constexpr int kMaxFrames = 64;
constexpr std::uint32_t kMaxRoutine = 0x800;  // bytes of a library routine analysed

std::string Hex(std::uint32_t v) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%04X", v);
  return s;
}

bool IsCodeLabel(const map::Symbol& s) {
  return s.code && s.name.find('$') == std::string::npos && s.name.rfind("l_", 0) != 0 &&
         s.name.rfind("s_", 0) != 0;
}

RegisterHome Live(const char* reg) {
  RegisterHome h;
  h.kind = RegisterHome::Kind::Live;
  h.reg = reg;
  return h;
}

RegisterHome InMemory(MemorySpace space, std::uint32_t address) {
  RegisterHome h;
  h.kind = RegisterHome::Kind::Memory;
  h.space = space;
  h.address = address;
  return h;
}

RegisterHome Lost(const std::string& why) {
  RegisterHome h;
  h.kind = RegisterHome::Kind::Lost;
  h.why = why;
  return h;
}

}  // namespace

RegisterHome Frame::Home(int direct) const {
  const auto it = homes.find(direct);
  if (it != homes.end()) return it->second;
  if (direct >= 0 && direct < 0x80)
    return InMemory(MemorySpace::Data, static_cast<std::uint32_t>(direct));
  return Lost("kz51 does not follow this register between frames");
}

// ---- code -------------------------------------------------------------------

void CodeCache::Clear() {
  analyses_.clear();
  code_.clear();
}

Result<std::vector<std::uint8_t>> CodeCache::Code(std::uint32_t address, std::uint32_t length) {
  if (address > 0xFFFF) return Result<std::vector<std::uint8_t>>::Fail("beyond the code space");
  length = std::min<std::uint32_t>(length, 0x10000 - address);
  auto it = code_.find(address);
  if (it != code_.end() && it->second.size() >= length)
    return std::vector<std::uint8_t>(it->second.begin(), it->second.begin() + length);
  auto bytes = target_.Read(MemorySpace::Code, address, length);
  if (!bytes) return bytes;
  code_[address] = *bytes;
  return bytes;
}

std::shared_ptr<const CodeAnalysis> CodeCache::Analyse(std::uint32_t start, std::uint32_t end,
                                                       int bank,
                                                       const std::vector<std::uint32_t>& lines,
                                                       unsigned paramBytes) {
  const auto key = std::make_pair(start, bank);
  if (auto it = analyses_.find(key); it != analyses_.end()) return it->second;
  auto code = Code(start, end - start + 3);
  if (!code) return nullptr;
  const auto bp = program_.BpAddress();
  auto a = std::make_shared<const CodeAnalysis>(start, end, *code, bank, bp ? int{*bp} : -1, lines,
                                                paramBytes);
  analyses_[key] = a;
  return a;
}

std::shared_ptr<const CodeAnalysis> CodeCache::ForFunction(const cdb::Function& f, int bank) {
  if (!f.start || !f.end || *f.end < *f.start) return nullptr;
  const FunctionInfo& info = program_.Info(f);
  return Analyse(*f.start, *f.end, bank, info.lineAddresses,
                 f.isInterrupt ? 0 : info.firstParamBytes);
}

std::shared_ptr<const CodeAnalysis> CodeCache::For(std::uint32_t pc, int bank,
                                                   const cdb::Function** function,
                                                   std::string* name) {
  const Symbols& symbols = program_.symbols();
  if (const cdb::Function* f = symbols.FunctionAt(pc)) {
    if (function != nullptr) *function = f;
    if (name != nullptr) *name = f->name;
    return ForFunction(*f, bank);
  }
  if (function != nullptr) *function = nullptr;
  // A library routine: from the nearest code label below to the next one.
  const map::Symbol* best = nullptr;
  std::uint32_t next = 0x10000;
  for (const auto& s : symbols.MapSymbols()) {
    if (!IsCodeLabel(s)) continue;
    if (s.value <= pc && (best == nullptr || s.value > best->value)) best = &s;
  }
  if (best == nullptr || pc - best->value >= kMaxRoutine) return nullptr;
  for (const auto& s : symbols.MapSymbols())
    if (IsCodeLabel(s) && s.value > best->value) next = std::min(next, s.value);
  for (const auto& f : symbols.Cdb().functions)
    if (f.start && *f.start > best->value) next = std::min(next, *f.start);
  if (name != nullptr) *name = best->name;
  const std::uint32_t end = std::min<std::uint32_t>(next - 1, best->value + kMaxRoutine - 1);
  return Analyse(best->value, std::max(end, pc), bank, {}, 0);
}

// ---- the walk ---------------------------------------------------------------

void FrameWalker::Reset() {
  started_ = false;
  complete_ = false;
  endReason_.clear();
  frames_.clear();
  iram_.clear();
}

void FrameWalker::Analyse(Frame& f) {
  std::string name;
  f.analysis = code_.For(f.pc, f.bank, &f.function, &name);
  f.state = f.analysis ? f.analysis->At(f.pc) : nullptr;
  if (name.empty()) name = program_.symbols().Describe(f.pc);
  f.name = name.empty() ? Hex(f.pc) : name;
  f.line = program_.symbols().LineAt(f.pc);
}

Result<Done> FrameWalker::First() {
  auto regs = target_.ReadRegisters();
  if (!regs) return Result<Done>::Fail(regs.error());
  registers_ = *regs;
  auto iram = target_.Read(MemorySpace::Idata, 0, 256);
  if (!iram) return Result<Done>::Fail(iram.error());
  iram_ = *iram;
  Frame f;
  f.pc = registers_.pc;
  f.sp = registers_.sp;
  f.bank = (registers_.psw >> 3) & 3;
  static const char* const kR[] = {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7"};
  for (int d = 0; d < 32; ++d)
    f.homes[d] = d / 8 == f.bank ? Live(kR[d % 8]) : InMemory(MemorySpace::Data, d);
  f.homes[kAcc] = Live("a");
  f.homes[kB] = Live("b");
  f.homes[kDpl] = Live("dpl");
  f.homes[kDph] = Live("dph");
  f.homes[kPsw] = Live("psw");
  if (const auto bp = program_.BpAddress()) f.homes[*bp] = InMemory(MemorySpace::Data, *bp);
  Analyse(f);
  frames_.push_back(std::move(f));
  started_ = true;
  return Done{};
}

Result<std::uint8_t> FrameWalker::ReadHome(const RegisterHome& home) {
  switch (home.kind) {
    case RegisterHome::Kind::Live: {
      const Registers& r = registers_;
      if (home.reg.size() == 2 && home.reg[0] == 'r' && home.reg[1] >= '0' && home.reg[1] <= '7')
        return r.r[home.reg[1] - '0'];
      if (home.reg == "a") return r.a;
      if (home.reg == "b") return r.b;
      if (home.reg == "psw") return r.psw;
      if (home.reg == "sp") return r.sp;
      if (home.reg == "dpl") return static_cast<std::uint8_t>(r.dptr & 0xFF);
      if (home.reg == "dph") return static_cast<std::uint8_t>(r.dptr >> 8);
      return Result<std::uint8_t>::Fail("no register " + home.reg);
    }
    case RegisterHome::Kind::Memory: {
      if ((home.space == MemorySpace::Idata || home.space == MemorySpace::Data) &&
          home.address < iram_.size())
        return iram_[home.address];
      auto b = target_.Read(home.space, home.address, 1);
      if (!b) return Result<std::uint8_t>::Fail(b.error());
      return (*b)[0];
    }
    case RegisterHome::Kind::Lost:
      break;
  }
  return Result<std::uint8_t>::Fail(home.why);
}

bool FrameWalker::Next() {
  const Frame& callee = frames_.back();
  if (callee.state == nullptr) {
    endReason_ = "kz51 cannot follow the code of " + callee.name + " back to its caller";
    return false;
  }
  const int entry = int{callee.sp} - callee.state->height;
  if (entry < 1 || entry > 0xFF) {
    endReason_ = "the stack pointer leaves no room for " + callee.name + "'s return address";
    return false;
  }
  const std::uint32_t ret = static_cast<std::uint32_t>(iram_[static_cast<std::size_t>(entry)] << 8 |
                                                       iram_[static_cast<std::size_t>(entry - 1)]);
  const bool isr = callee.function != nullptr && callee.function->isInterrupt;
  std::uint32_t pc = ret;
  if (!isr) {
    bool call = false;
    if (ret >= 3) {
      auto code = code_.Code(ret - 3, 3);
      if (code && (*code)[0] == 0x12) {
        pc = ret - 3;
        call = true;
      } else if (code && ((*code)[1] & 0x1F) == 0x11) {
        pc = ret - 2;
        call = true;
      }
    }
    if (!call) {
      // main is entered by a jump from the startup code: it is the outermost.
      if (callee.function == nullptr || callee.function->name != "main")
        endReason_ = "the return address " + Hex(ret) + " of " + callee.name + " follows no call";
      return false;
    }
    // The code that called main (the startup code) is not the program's.
    if (program_.symbols().FunctionAt(pc) == nullptr) return false;
  }
  Frame caller;
  caller.level = callee.level + 1;
  caller.pc = pc;
  caller.sp = static_cast<std::uint8_t>(entry - 2);
  caller.interrupted = isr;
  caller.bank = callee.bank;

  std::vector<int> tracked;
  for (int d = 0; d < 32; ++d) tracked.push_back(d);
  for (int d : {kAcc, kB, kDpl, kDph, kPsw}) tracked.push_back(d);
  if (const auto bp = program_.BpAddress()) tracked.push_back(*bp);
  // The caller's registers as the called code leaves them: unchanged, or
  // saved at the called code's entry.
  auto fromCallee = [&](int d) -> std::optional<RegisterHome> {
    if (!callee.state->written.test(static_cast<std::size_t>(d))) return callee.Home(d);
    const auto& slots = callee.state->slots;
    for (std::size_t i = 0; i < slots.size(); ++i)
      if (slots[i].source == d && slots[i].entryValue)
        return InMemory(MemorySpace::Idata, static_cast<std::uint32_t>(entry + 1 + i));
    return std::nullopt;
  };
  if (isr) {
    // The interrupted code's bank is in the PSW the handler saved.
    if (auto psw = fromCallee(kPsw)) {
      if (auto v = ReadHome(*psw)) caller.bank = (*v >> 3) & 3;
    } else if (const cdb::Function* f = program_.symbols().FunctionAt(pc)) {
      caller.bank = f->registerBank;
    }
  }
  Analyse(caller);
  for (int d : tracked) {
    if (auto home = fromCallee(d)) {
      caller.homes[d] = *home;
      continue;
    }
    // Saved by the caller's own PUSH before the call, and unchanged since.
    bool found = false;
    if (caller.state != nullptr) {
      const int callerEntry = int{caller.sp} - caller.state->height;
      const auto& slots = caller.state->slots;
      for (std::size_t j = 0; j < slots.size() && !found; ++j) {
        if (slots[j].source == d && slots[j].intact) {
          caller.homes[d] =
              InMemory(MemorySpace::Idata,
                       static_cast<std::uint32_t>(callerEntry + 1 + static_cast<int>(j)));
          found = true;
        }
      }
    }
    if (!found) caller.homes[d] = Lost(kRegistersReused);
  }
  frames_.push_back(std::move(caller));
  return true;
}

Result<Done> FrameWalker::WalkTo(int level) {
  if (!started_) {
    if (auto r = First(); !r) return r;
  }
  while (!complete_ && static_cast<int>(frames_.size()) <= level) {
    if (static_cast<int>(frames_.size()) >= kMaxFrames || !Next()) {
      if (static_cast<int>(frames_.size()) >= kMaxFrames)
        endReason_ = "the walk stops after " + std::to_string(kMaxFrames) + " frames";
      complete_ = true;
    }
  }
  return Done{};
}

}  // namespace kz51::debug
