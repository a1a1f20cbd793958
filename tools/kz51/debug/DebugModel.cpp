#include "debug/DebugModel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "debug/Evaluator.h"

namespace kz51::debug {

namespace {

std::string Hex4(std::uint32_t v) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%04X", v);
  return s;
}

Value Unavailable(TypeRef type, std::string why) {
  Value v;
  v.type = std::move(type);
  v.unavailable = std::move(why);
  return v;
}

ByteHome HomeByte(const RegisterHome& h) {
  ByteHome b;
  if (h.kind == RegisterHome::Kind::Live) {
    b.isRegister = true;
    b.reg = h.reg;
  } else {
    b.space = h.space;
    b.address = h.address;
  }
  return b;
}

// R0..R7 by the name the .cdb gives ("r7"), or -1.
int RegisterNumber(const std::string& name) {
  if (name.size() == 2 && (name[0] == 'r' || name[0] == 'R') && name[1] >= '0' && name[1] <= '7')
    return name[1] - '0';
  return -1;
}

// True when `in` passes A's value on with at most a constant or a byte
// other than v's registers mixed in: MOV Rn,A, ADD A,#, INC A, ...
bool AccumulatorCarries(const Instruction& in, const cdb::Variable& v, int bank) {
  const std::uint8_t op = in.opcode;
  auto ownRegister = [&](int direct) {
    for (const auto& r : v.registers)
      if (RegisterNumber(r) >= 0 && bank * 8 + RegisterNumber(r) == direct) return true;
    return false;
  };
  if ((op & 0xF8) == 0xF8) return true;  // MOV Rn,A
  switch (op) {
    case 0x04:  // INC A
    case 0x14:  // DEC A
    case 0xF4:  // CPL A
    case 0x03:
    case 0x13:
    case 0x23:
    case 0x33:  // rotates
    case 0xC4:  // SWAP A
      return true;
    default:
      break;
  }
  const std::uint8_t hi = op & 0xF0, lo = op & 0x0F;
  const bool arithmetic =
      hi == 0x20 || hi == 0x30 || hi == 0x40 || hi == 0x50 || hi == 0x60 || hi == 0x90;
  if (!arithmetic || lo < 4) return false;
  if (lo == 4) return true;                               // #data
  if (lo == 5) return !ownRegister(in.b1);                // direct
  if (lo >= 8) return !ownRegister(bank * 8 + (op & 7));  // Rn
  return true;                                            // @Ri: memory
}

}  // namespace

DebugModel::DebugModel(Target& target, const Symbols& symbols)
    : target_(target),
      program_(symbols),
      code_(target, program_),
      walker_(target, program_, code_) {}

void DebugModel::Refresh() {
  program_.Refresh();
  if (target_.Runs() != runs_) {
    runs_ = target_.Runs();
    selected_ = 0;
  }
  if (target_.Changes() != changes_) {
    changes_ = target_.Changes();
    walker_.Reset();
    code_.Clear();
  }
}

// ---- frames -------------------------------------------------------------------

Result<const Frame*> DebugModel::FrameAt(int level) {
  Refresh();
  if (level < 0) return Result<const Frame*>::Fail("frame numbers start at 0");
  if (auto r = walker_.WalkTo(level); !r) return Result<const Frame*>::Fail(r.error());
  const auto& frames = walker_.frames();
  if (level >= static_cast<int>(frames.size())) {
    std::string why = "no frame " + std::to_string(level) + ": the stack holds " +
                      std::to_string(frames.size()) + " frame" + (frames.size() == 1 ? "" : "s");
    if (!walker_.EndReason().empty()) why += " (" + walker_.EndReason() + ")";
    return Result<const Frame*>::Fail(why);
  }
  return &frames[static_cast<std::size_t>(level)];
}

Result<std::vector<const Frame*>> DebugModel::Backtrace() {
  Refresh();
  if (auto r = walker_.WalkTo(1 << 20); !r)
    return Result<std::vector<const Frame*>>::Fail(r.error());
  std::vector<const Frame*> out;
  for (const auto& f : walker_.frames()) out.push_back(&f);
  return out;
}

std::string DebugModel::BacktraceEnd() {
  Refresh();
  walker_.WalkTo(1 << 20);
  return walker_.EndReason();
}

int DebugModel::Selected() {
  Refresh();
  return selected_;
}

Result<const Frame*> DebugModel::Select(int level) {
  auto f = FrameAt(level);
  if (f) selected_ = level;
  return f;
}

Result<bool> DebugModel::HasCaller(int level) {
  auto f = FrameAt(level);
  if (!f) return Result<bool>::Fail(f.error());
  walker_.WalkTo(level + 1);
  return static_cast<int>(walker_.frames().size()) > level + 1;
}

Result<DebugModel::ReturnPoint> DebugModel::ReturnOf(int level) {
  auto has = HasCaller(level);
  if (!has) return Result<ReturnPoint>::Fail(has.error());
  const Frame& callee = walker_.frames()[static_cast<std::size_t>(level)];
  if (!*has) {
    std::string why = callee.name + " (frame " + std::to_string(level) +
                      ") is the outermost frame: there is no caller to return to";
    if (!walker_.EndReason().empty()) why += " (" + walker_.EndReason() + ")";
    return Result<ReturnPoint>::Fail(why);
  }
  const Frame& caller = walker_.frames()[static_cast<std::size_t>(level + 1)];
  ReturnPoint r;
  r.sp = caller.sp;
  r.address = caller.pc;
  if (!caller.interrupted) {
    auto op = code_.Code(caller.pc, 1);
    if (!op) return Result<ReturnPoint>::Fail(op.error());
    r.address += (*op)[0] == 0x12 ? 3 : 2;  // after the LCALL or ACALL
  }
  return r;
}

// ---- variables ------------------------------------------------------------------

std::string DebugModel::NotAssigning(const cdb::Variable& v, const Frame& frame,
                                     const FunctionInfo& info, std::uint32_t site,
                                     const std::string& regs, int depth) {
  if (site == DefSet::kEntry) return "it has not been given a value on every path to here";
  const Instruction* in = frame.analysis->InstructionAt(site);
  if (in != nullptr && in->flow == Instruction::Flow::Call)
    return "its registers (" + regs + ") hold what a call left there";
  if (site < frame.analysis->PrologueEnd())
    return info.firstParam == &v ? "" : "its registers (" + regs + ") hold another value here";
  const auto assigns = program_.LineAssigns(site, v.name);
  if (assigns.has_value() && !*assigns) {
    // The last steps of an assignment computed in A, left to the next line:
    // MOV Rn,A, or A changed by a constant or another byte (not by v's own
    // registers, which would make it a value computed from v).
    const DefSet* from = frame.analysis->AccumulatorBefore(site);
    bool finishes = in != nullptr && from != nullptr && depth < 4 && !from->Sites().empty() &&
                    AccumulatorCarries(*in, v, frame.bank);
    if (finishes)
      for (std::uint32_t s : from->Sites())
        finishes = finishes && NotAssigning(v, frame, info, s, regs, depth + 1).empty();
    if (!finishes) return "its registers (" + regs + ") hold another value here";
  }
  // An inner block's variable of the same name: the line assigns that one.
  for (const cdb::Variable* other : info.locals)
    if (other != &v && other->name == v.name && other->scope.level > v.scope.level &&
        program_.Visible(*other, info, site))
      return "its registers (" + regs + ") hold another value here";
  return "";
}

std::string DebugModel::RegisterByte(const cdb::Variable& v, const Frame& frame,
                                     const FunctionInfo& info, int n, const std::string& regs,
                                     RegisterHome& home) {
  const CodeState* state = frame.state;
  if (state == nullptr || !frame.analysis)
    return "kz51 cannot follow the code of " + frame.name + " to this address";
  std::string why;
  for (std::uint32_t site : state->registerDefs[static_cast<std::size_t>(n)].Sites()) {
    why = NotAssigning(v, frame, info, site, regs);
    if (!why.empty()) break;
  }
  const int direct = frame.bank * 8 + n;
  const RegisterHome own = frame.Home(direct);
  if (why.empty() && own.kind != RegisterHome::Kind::Lost) {
    home = own;
    return "";
  }
  if (own.kind == RegisterHome::Kind::Lost) why = own.why;
  // Saved by a PUSH while it held v, and v not assigned since.
  const int entry = int{frame.sp} - state->height;
  for (std::size_t j = state->slots.size(); j-- > 0;) {
    const StackSlot& slot = state->slots[j];
    if (slot.source != direct) continue;
    bool held = true;
    for (std::uint32_t site : slot.defs.Sites())
      held = held && NotAssigning(v, frame, info, site, regs).empty();
    for (std::uint32_t site : slot.since.Sites()) {
      const Instruction* in = frame.analysis->InstructionAt(site);
      const bool call = in != nullptr && in->flow == Instruction::Flow::Call;
      held = held && (call || !NotAssigning(v, frame, info, site, regs).empty());
    }
    if (!held) break;
    home.kind = RegisterHome::Kind::Memory;
    home.space = MemorySpace::Idata;
    home.address = static_cast<std::uint32_t>(entry + 1 + static_cast<int>(j));
    return "";
  }
  return why;
}

namespace {

// A variable's memory: data (or idata above 7Fh), idata, xdata, pdata,
// code and SFRs; bits by the byte that holds them.
bool MemoryOf(const cdb::Variable& v, TypeRef& type, Location& where, std::string& why) {
  if (!v.address) {
    why = "the linker recorded no address for it";
    return false;
  }
  const std::uint32_t a = *v.address;
  switch (v.space) {
    case cdb::Space::Data:
      where = Location::InMemory(a >= 0x80 ? MemorySpace::Idata : MemorySpace::Data, a);
      return true;
    case cdb::Space::Idata:
      where = Location::InMemory(MemorySpace::Idata, a);
      return true;
    case cdb::Space::Xdata:
      where = Location::InMemory(MemorySpace::Xdata, a);
      return true;
    case cdb::Space::Pdata:
      where = Location::InMemory(MemorySpace::Pdata, a);
      return true;
    case cdb::Space::Code:
    case cdb::Space::CodeStatic:
      where = Location::InMemory(MemorySpace::Code, a);
      return true;
    case cdb::Space::Sfr:
      where = Location::InMemory(MemorySpace::Sfr, a);
      return true;
    case cdb::Space::Bit:
    case cdb::Space::Sbit: {
      if (a > 0xFF) {
        why = "its bit address " + Hex4(a) + " is not a bit address";
        return false;
      }
      const std::uint8_t bit = static_cast<std::uint8_t>(a);
      where = Location::InMemory(bit < 0x80 ? MemorySpace::Data : MemorySpace::Sfr, BitByte(bit));
      type = AsBitfield(type->kind == CType::Kind::Bit ? type : BitType(), bit & 7u, 1);
      return true;
    }
    default:
      why = std::string("it lies in ") + SpaceName(v.space) + " space, which kz51 cannot read";
      return false;
  }
}

}  // namespace

Result<Value> DebugModel::Resolve(const cdb::Variable& v, const Frame& frame) {
  if (v.fromLinkerOnly || v.type.Empty()) {
    std::string why = "sdcc recorded no type for it";
    if (v.address) why += " (its address is " + Hex4(*v.address) + ")";
    return Unavailable(VoidType(), why);
  }
  TypeRef type = program_.TypeOf(v.type);
  Value out;
  if (v.scope.kind != cdb::ScopeKind::Local) {
    std::string why;
    if (!MemoryOf(v, type, out.where, why)) return Unavailable(type, why);
    out.type = type;
    return out;
  }
  const cdb::Function* f = frame.function;
  if (f == nullptr || f->name != v.scope.function)
    return Unavailable(type, "it is a variable of " + v.scope.function + ", not of " + frame.name);
  const FunctionInfo& info = program_.Info(*f);
  const bool first = info.firstParam == &v;
  const bool beforePrologue = frame.analysis && frame.pc < frame.analysis->PrologueEnd();
  const std::string notYet = "the prologue of " + f->name + " has not stored it yet";
  out.type = type;
  if (v.space == cdb::Space::Register) {
    if (v.registers.empty())
      return Unavailable(type, "sdcc recorded no location for it here (an empty register list)");
    if (beforePrologue) return Unavailable(type, notYet);
    out.where.kind = Location::Kind::Bytes;
    std::string regs;
    for (const auto& r : v.registers) regs += (regs.empty() ? "" : " ") + r;
    for (const auto& r : v.registers) {
      const int n = RegisterNumber(r);
      RegisterHome home;
      if (n >= 0) {
        const std::string why = RegisterByte(v, frame, info, n, regs, home);
        if (!why.empty()) return Unavailable(type, why);
      } else if (frame.level == 0 && (r == "a" || r == "b" || r == "dpl" || r == "dph")) {
        home.kind = RegisterHome::Kind::Live;
        home.reg = r;
      } else {
        return Unavailable(type, "it is kept in " + r + ", which kz51 does not follow");
      }
      out.where.bytes.push_back(HomeByte(home));
    }
    if (out.where.bytes.size() < type->size)
      return Unavailable(type, "sdcc recorded fewer registers than its size");
    return out;
  }
  if (v.onStack || v.space == cdb::Space::InternalStack) {
    const auto bp = program_.BpAddress();
    if (!bp) return Unavailable(type, "the program has no frame pointer _bp");
    if (frame.state == nullptr)
      return Unavailable(type, "kz51 cannot follow the code of " + frame.name + " to this address");
    if (!frame.state->bpSet)
      return Unavailable(type, f->name + " has not set its frame pointer _bp here");
    auto value = walker_.ReadHome(frame.Home(*bp));
    if (!value) return Unavailable(type, "its frame pointer _bp is lost: " + value.error());
    const int address = int{*value} + v.stackOffset;
    if (address < 0 || address + static_cast<int>(type->size) > 0x100)
      return Unavailable(type, "_bp" + std::string(v.stackOffset < 0 ? "" : "+") +
                                   std::to_string(v.stackOffset) + " lies outside internal RAM");
    out.where = Location::InMemory(MemorySpace::Idata, static_cast<std::uint32_t>(address));
    return out;
  }
  if (v.space == cdb::Space::ExternalStack)
    return Unavailable(type,
                       "it lives on the external stack (--xstack), which kz51 does not follow");
  if (beforePrologue && first) return Unavailable(type, notYet);
  if (!info.reentrant) {
    for (const auto& inner : walker_.frames()) {
      if (inner.level >= frame.level) break;
      if (inner.function == f)
        return Unavailable(type, "every call of " + f->name +
                                     " keeps it in the same place, and the call in frame " +
                                     std::to_string(inner.level) + " has overwritten it");
    }
  }
  std::string why;
  if (!MemoryOf(v, type, out.where, why)) return Unavailable(type, why);
  out.type = type;
  return out;
}

Result<Value> DebugModel::Variable(const cdb::Variable& v, int level) {
  auto frame = FrameAt(level);
  if (!frame) return Result<Value>::Fail(frame.error());
  walker_.WalkTo(level);  // the frames below, for storage shared by recursion
  return Resolve(v, **frame);
}

Result<std::vector<NamedValue>> DebugModel::Args(int level) {
  auto frame = FrameAt(level);
  if (!frame) return Result<std::vector<NamedValue>>::Fail(frame.error());
  std::vector<NamedValue> out;
  if ((*frame)->function == nullptr) return out;
  for (const cdb::Variable* v : program_.Info(*(*frame)->function).params) {
    auto value = Resolve(*v, **frame);
    if (!value) return Result<std::vector<NamedValue>>::Fail(value.error());
    out.push_back({v->name, *value});
  }
  return out;
}

Result<std::vector<NamedValue>> DebugModel::Locals(int level) {
  auto frame = FrameAt(level);
  if (!frame) return Result<std::vector<NamedValue>>::Fail(frame.error());
  std::vector<NamedValue> out;
  if ((*frame)->function == nullptr) return out;
  const FunctionInfo& info = program_.Info(*(*frame)->function);
  for (const cdb::Variable* v : info.locals) {
    if (!program_.Visible(*v, info, (*frame)->pc)) continue;
    auto value = Resolve(*v, **frame);
    if (!value) return Result<std::vector<NamedValue>>::Fail(value.error());
    out.push_back({v->name, *value});
  }
  return out;
}

std::vector<NamedValue> DebugModel::Globals() {
  Refresh();
  std::vector<NamedValue> out;
  const Frame none;
  for (const cdb::Variable* v : program_.Globals()) {
    auto value = Resolve(*v, none);
    if (value) out.push_back({v->name, *value});
  }
  return out;
}

Result<Value> DebugModel::RegisterValue(const std::string& text, int level) {
  std::string name = text.size() > 1 && text[0] == '$' ? text.substr(1) : text;
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto frame = FrameAt(level);
  if (!frame) return Result<Value>::Fail(frame.error());
  const Frame& f = **frame;
  const TypeRef byte = ByteType();
  const TypeRef word = IntegerType(2, false);
  auto number = [](TypeRef t, std::uint32_t v) {
    Value out;
    out.type = std::move(t);
    out.bytes = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    out.bytes.resize(out.type->size);
    out.loaded = true;
    return out;
  };
  auto live = [](TypeRef t, std::vector<std::string> regs) {
    Value out;
    out.type = std::move(t);
    out.where.kind = Location::Kind::Bytes;
    for (auto& r : regs) {
      ByteHome b;
      b.isRegister = true;
      b.reg = std::move(r);
      out.where.bytes.push_back(std::move(b));
    }
    return out;
  };
  if (name == "pc") return f.level == 0 ? live(word, {"pcl", "pch"}) : number(word, f.pc);
  if (name == "sp") return f.level == 0 ? live(byte, {"sp"}) : number(byte, f.sp);
  std::vector<int> directs;
  if (RegisterNumber(name) >= 0) {
    directs = {f.bank * 8 + RegisterNumber(name)};
  } else if (name == "a" || name == "acc") {
    directs = {kAcc};
  } else if (name == "b") {
    directs = {kB};
  } else if (name == "psw") {
    directs = {kPsw};
  } else if (name == "dptr") {
    directs = {kDpl, kDph};
  } else {
    return Result<Value>::Fail("unknown register '" + text +
                               "' (registers are $a $b $r0..$r7 $sp $dptr $pc $psw)");
  }
  Value out;
  out.type = directs.size() == 2 ? word : byte;
  out.where.kind = Location::Kind::Bytes;
  for (int d : directs) {
    const RegisterHome home = f.Home(d);
    if (home.kind == RegisterHome::Kind::Lost) return Unavailable(out.type, home.why);
    out.where.bytes.push_back(HomeByte(home));
  }
  return out;
}

// ---- reading and writing ------------------------------------------------------------

Result<Done> DebugModel::Load(Value& v) {
  if (v.loaded || !v.Available()) return Done{};
  const unsigned size = v.type ? v.type->size : 0;
  switch (v.where.kind) {
    case Location::Kind::None:
      return Result<Done>::Fail("the value has no contents");
    case Location::Kind::Memory: {
      if (size == 0) break;
      if (size > 0x10000) return Result<Done>::Fail("the object is too large to read");
      auto bytes = target_.Read(v.where.space, v.where.address, size);
      if (!bytes) return Result<Done>::Fail(bytes.error());
      v.bytes = *bytes;
      break;
    }
    case Location::Kind::Bytes: {
      // Registers are read as the walk last saw them: walk again if the
      // target changed since.
      Refresh();
      if (auto r = walker_.WalkTo(0); !r) return r;
      v.bytes.clear();
      for (unsigned i = 0; i < size && i < v.where.bytes.size(); ++i) {
        const ByteHome& b = v.where.bytes[i];
        RegisterHome h;
        if (b.isRegister) {
          h.kind = RegisterHome::Kind::Live;
          h.reg = b.reg;
          if (b.reg == "pcl" || b.reg == "pch") {
            const auto pc = walker_.registers().pc;
            v.bytes.push_back(static_cast<std::uint8_t>(b.reg == "pcl" ? pc : pc >> 8));
            continue;
          }
        } else {
          h.kind = RegisterHome::Kind::Memory;
          h.space = b.space;
          h.address = b.address;
        }
        auto byte = walker_.ReadHome(h);
        if (!byte) return Result<Done>::Fail(byte.error());
        v.bytes.push_back(*byte);
      }
      break;
    }
  }
  v.bytes.resize(size);
  v.loaded = true;
  return Done{};
}

Result<Done> DebugModel::Store(const Value& object, std::vector<std::uint8_t> bytes) {
  if (!object.Available()) return Result<Done>::Fail(object.unavailable);
  if (!object.IsLvalue()) return Result<Done>::Fail("it is a computed value, not an object");
  const CType& t = *object.type;
  if (object.where.kind == Location::Kind::Memory && object.where.space == MemorySpace::Code)
    return Result<Done>::Fail(
        "it lives in code memory, which the program cannot change (write code:ADDR changes code)");
  if (t.bitWidth != 0) {
    // Only the field's bits change.
    Value now = object;
    now.loaded = false;
    if (auto r = Load(now); !r) return r;
    std::uint64_t mask = ((t.bitWidth >= 64 ? 0 : (std::uint64_t{1} << t.bitWidth)) - 1)
                         << t.bitOffset;
    for (std::size_t i = 0; i < bytes.size() && i < now.bytes.size(); ++i) {
      const auto m = static_cast<std::uint8_t>(mask >> (8 * i));
      bytes[i] = static_cast<std::uint8_t>((now.bytes[i] & ~m) | (bytes[i] & m));
    }
  }
  if (object.where.kind == Location::Kind::Memory) {
    auto r = target_.Write(object.where.space, object.where.address, bytes);
    if (!r) return r;
  } else {
    for (std::size_t i = 0; i < bytes.size() && i < object.where.bytes.size(); ++i) {
      const ByteHome& b = object.where.bytes[i];
      Result<Done> r = Done{};
      if (!b.isRegister) {
        r = target_.Write(b.space, b.address, {bytes[i]});
      } else if (b.reg == "dpl" || b.reg == "dph" || b.reg == "pcl" || b.reg == "pch") {
        auto regs = target_.ReadRegisters();
        if (!regs) return Result<Done>::Fail(regs.error());
        const bool dptr = b.reg[0] == 'd';
        std::uint32_t word = dptr ? regs->dptr : regs->pc;
        const bool low = b.reg.back() == 'l';
        word =
            low ? (word & 0xFF00u) | bytes[i] : (word & 0x00FFu) | (std::uint32_t{bytes[i]} << 8);
        r = target_.SetRegister(dptr ? "dptr" : "pc", word);
      } else {
        r = target_.SetRegister(b.reg, bytes[i]);
      }
      if (!r) return r;
    }
  }
  Refresh();  // the write may have changed the stack: walk it again
  return Done{};
}

std::vector<NamedValue> DebugModel::Children(const Value& v) {
  std::vector<NamedValue> out;
  if (!v.type) return out;
  auto child = [&](const std::string& name, const TypeRef& type, unsigned offset) {
    Value c;
    c.type = type;
    c.unavailable = v.unavailable;
    if (v.IsLvalue()) c.where = v.where.Offset(offset);
    if (v.loaded) {
      for (unsigned i = 0; i < type->size && offset + i < v.bytes.size(); ++i)
        c.bytes.push_back(v.bytes[offset + i]);
      c.bytes.resize(type->size);
      c.loaded = true;
    }
    out.push_back({name, std::move(c)});
  };
  if (v.type->kind == CType::Kind::Array && v.type->target) {
    const TypeRef& e = v.type->target;
    for (unsigned i = 0; i < v.type->count && e->size != 0; ++i)
      child("[" + std::to_string(i) + "]", e, i * e->size);
  } else if (v.type->kind == CType::Kind::Struct) {
    for (const Member& m : program_.Members(v.type->tag)) child(m.name, m.type, m.offset);
  }
  return out;
}

// ---- code -------------------------------------------------------------------------

Result<std::uint32_t> DebugModel::FunctionBreakAddress(const cdb::Function& f) {
  Refresh();
  if (!f.start) return Result<std::uint32_t>::Fail("the linker recorded no address for " + f.name);
  auto analysis = code_.ForFunction(f, f.registerBank);
  if (!analysis) return *f.start;
  const std::uint32_t end = analysis->PrologueEnd();
  for (std::uint32_t a : program_.Info(f).lineAddresses) {
    if (a < end) continue;
    if (!analysis->TransferBetween(end, a)) return a;
    break;
  }
  return end;
}

Result<std::uint32_t> DebugModel::ResolveLocation(const std::string& text,
                                                  std::string* description) {
  Refresh();
  const Symbols& symbols = program_.symbols();
  if (text.find(':') == std::string::npos) {
    if (const cdb::Function* f = symbols.FindFunction(text)) {
      auto a = FunctionBreakAddress(*f);
      if (a && description != nullptr) *description = f->name;
      return a;
    }
  }
  std::uint32_t address = 0;
  std::string error;
  if (!symbols.ResolveCode(text, address, error, description))
    return Result<std::uint32_t>::Fail(error);
  if (text.find(':') != std::string::npos) return LineBreakAddress(address);
  return address;
}

std::uint32_t DebugModel::LineBreakAddress(std::uint32_t address) {
  Refresh();
  const cdb::Function* f = program_.symbols().FunctionAt(address);
  if (f == nullptr || !f->start || *f->start != address) return address;
  auto after = FunctionBreakAddress(*f);
  return after ? *after : address;
}

Result<Value> DebugModel::Evaluate(const std::string& expression) {
  return EvaluateAt(expression, Selected());
}

Result<Value> DebugModel::EvaluateAt(const std::string& expression, int level) {
  Refresh();
  Evaluator e(*this, level);
  return e.Evaluate(expression);
}

}  // namespace kz51::debug
