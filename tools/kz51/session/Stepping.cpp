// Stepping by C lines and over calls, interrupts taken on the way, and runs
// that end where the current function returns.
#include <algorithm>
#include <utility>

#include "Disassembler.h"
#include "session/Session.h"

namespace kz51 {

namespace {

constexpr std::uint32_t kCodeBase = 0xFF000000u;
// Limits of the stepping loops: beyond them the step ends where it is.
constexpr int kMaxLineSteps = 20000;
constexpr int kMaxRuns = 10000;
constexpr std::uint8_t kSp = 0x81, kDpl = 0x82, kDph = 0x83, kAcc = 0xE0;

bool IsCall(std::uint8_t op) {
  return op == 0x12 || (op & 0x1F) == 0x11;  // LCALL, ACALL
}

}  // namespace

std::uint8_t Session::ReadDirect(std::uint8_t address) {
  // Direct addressing: RAM below 80h, the SFRs above.
  std::uint8_t b = 0;
  kz::AddressRecord rec{0xF0000000u | address, 0, 0};
  drv_.AG_MemAcc(1, &b, &rec, 1);
  return b;
}

// The return address a call pushed with its high byte at `sp` (the low
// byte lies below it).
std::optional<std::uint32_t> Session::ReadStackWord(std::uint8_t sp) {
  if (sp < 1) return std::nullopt;
  std::uint8_t word[2] = {};
  kz::AddressRecord rec{0xF3000000u | (sp - 1u), 0, 0};
  if (drv_.AG_MemAcc(1, word, &rec, 2) != 0) return std::nullopt;
  return (std::uint32_t{word[1]} << 8) | word[0];
}

// Where the instruction at `pc` may go: on, to its target, and for RET,
// RETI and JMP @A+DPTR where the stack or A+DPTR lead.
std::vector<std::uint32_t> Session::NextPcs(std::uint32_t pc) {
  std::uint8_t bytes[3] = {ReadCodeByte(pc), ReadCodeByte(pc + 1), ReadCodeByte(pc + 2)};
  const kzhost::Instruction ins = kzhost::Disassemble(static_cast<std::uint16_t>(pc), bytes);
  std::vector<std::uint32_t> out{(pc + ins.length) & 0xFFFFu};
  if (ins.target >= 0) out.push_back(static_cast<std::uint32_t>(ins.target) & 0xFFFFu);
  if (bytes[0] == 0x22 || bytes[0] == 0x32) {  // RET, RETI
    if (auto ret = ReadStackWord(ReadDirect(kSp))) out.push_back(*ret);
  } else if (bytes[0] == 0x73) {  // JMP @A+DPTR
    const std::uint32_t dptr = (std::uint32_t{ReadDirect(kDph)} << 8) | ReadDirect(kDpl);
    out.push_back((dptr + ReadDirect(kAcc)) & 0xFFFFu);
  }
  return out;
}

// One instruction. When the PC then lies where the instruction cannot lead,
// an interrupt was taken: its hardware call pushed where the program goes
// on, and the handler runs to its RETI back there. `detoured` tells whether
// that happened.
Result<StopEvent> Session::StepOverInterrupts(bool* detoured) {
  if (detoured != nullptr) *detoured = false;
  const std::uint32_t pc = pcCell_ & 0xFFFFu;
  const std::vector<std::uint32_t> expected = NextPcs(pc);
  auto e = StepOnce();
  if (!e || e->reason == StopReason::Stopped) return e;
  const std::uint32_t now = pcCell_ & 0xFFFFu;
  if (std::find(expected.begin(), expected.end(), now) != expected.end()) return e;
  const auto resume = ReadStackWord(ReadDirect(kSp));
  if (!resume) return e;
  if (detoured != nullptr) *detoured = true;
  auto r = RunGo(3, *resume);
  if (r && r->reason == StopReason::Until) r->reason = StopReason::Step;
  return r;
}

Result<StopEvent> Session::RunLines(RunKind kind) {
  const std::uint32_t start = pcCell_ & 0xFFFFu;
  const auto startLine = symbols_.LineAt(start);
  const cdb::Function* startFunction = symbols_.FunctionAt(start);
  for (int i = 0; i < kMaxLineSteps; ++i) {
    const std::uint32_t pc = pcCell_ & 0xFFFFu;
    const std::uint8_t op = ReadCodeByte(pc);
    bool over = kind != RunKind::StepLine;
    if (IsCall(op) && !over) {
      // Stepping into code without line records would take a step per
      // instruction of a library routine: step over it instead.
      std::uint32_t target = 0;
      if (op == 0x12) {
        target = (std::uint32_t{ReadCodeByte(pc + 1)} << 8) | ReadCodeByte(pc + 2);
      } else {
        target = ((pc + 2) & 0xF800u) | ((op & 0xE0u) << 3) | ReadCodeByte(pc + 1);
      }
      over = !symbols_.LineAt(target).has_value();
    }
    if (IsCall(op) && over) {
      const std::uint32_t ret = (pc + (op == 0x12 ? 3 : 2)) & 0xFFFFu;
      auto e = RunGo(3, ret);
      if (!e || e->reason != StopReason::Until) return e;
    } else {
      bool detoured = false;
      auto e = StepOverInterrupts(&detoured);
      if (!e || e->reason == StopReason::Stopped || e->reason == StopReason::Breakpoint) return e;
      // Back where the interrupt came: the instruction is still to run.
      if (detoured && (pcCell_ & 0xFFFFu) == pc) continue;
    }
    if (StopRequested()) return MakeStop(StopReason::Stopped);
    const std::uint32_t now = pcCell_ & 0xFFFFu;
    if (!startLine) return MakeStop(StopReason::Step);  // no line info: one instruction
    if (symbols_.IsLineStart(now)) {
      const auto line = symbols_.LineAt(now);
      if (line &&
          (now == start || line->line != startLine->line || line->file != startLine->file)) {
        // `until`: a jump back inside the function (a loop) goes on.
        const bool back =
            kind == RunKind::UntilNext && now <= start && symbols_.FunctionAt(now) == startFunction;
        if (!back) return MakeStop(StopReason::Step);
      }
    }
    if (const int bp = BreakpointAt(now); bp != 0 && StopsAt(bp))
      return MakeStop(StopReason::Breakpoint);
  }
  return MakeStop(StopReason::Step);
}

// The address the current function returns to: the nearest word on the
// stack that follows a call of the function's entry. Interrupt handlers and
// code without a known function: the word at SP.
std::optional<std::uint32_t> Session::ReturnAddress() {
  const std::uint32_t pc = pcCell_ & 0xFFFFu;
  const std::uint8_t sp = ReadDirect(kSp);
  const cdb::Function* f = symbols_.FunctionAt(pc);
  if (f == nullptr || !f->start || f->isInterrupt) return ReadStackWord(sp);
  std::vector<std::uint8_t> stack(std::size_t{sp} + 1);
  kz::AddressRecord rec{0xF3000000u, 0, 0};
  if (drv_.AG_MemAcc(1, stack.data(), &rec, static_cast<std::uint32_t>(stack.size())) != 0)
    return std::nullopt;
  for (int at = sp; at >= 1; --at) {
    const std::uint32_t ret = (std::uint32_t{stack[at]} << 8) | stack[at - 1];
    if (ret < 2) continue;
    const std::uint8_t l = ReadCodeByte(ret - 3), a = ReadCodeByte(ret - 2);
    if (ret >= 3 && l == 0x12 &&
        ((std::uint32_t{ReadCodeByte(ret - 2)} << 8 | ReadCodeByte(ret - 1)) == *f->start))
      return ret;
    if ((a & 0x1F) == 0x11 &&
        ((ret & 0xF800u) | ((a & 0xE0u) << 3) | ReadCodeByte(ret - 1)) == *f->start)
      return ret;
  }
  return std::nullopt;
}

// Finish: to the return address. Advance and Until: to `address` as well,
// with a breakpoint of the run's own at the return address. A stop there
// counts only once the stack is below where it was (the function returned,
// not a deeper call of it).
Result<StopEvent> Session::RunToReturnOr(RunKind kind, std::uint32_t address) {
  const std::uint8_t startSp = ReadDirect(kSp);
  const std::optional<ReturnPoint> point = std::exchange(returnPoint_, std::nullopt);
  const auto ret = point ? std::optional<std::uint32_t>(point->address) : ReturnAddress();
  // The function has returned once SP is down to the caller's (below where
  // it was, when the caller's SP is not known).
  auto returned = [&](std::uint8_t sp) { return point ? sp <= point->sp : sp < startSp; };
  if (kind == RunKind::Finish) {
    if (!ret)
      return Result<StopEvent>::Fail(
          "cannot find where the current function returns: no call of it on the stack");
    address = *ret;
  }
  BreakpointSlot* hidden = nullptr;
  if (kind != RunKind::Finish && ret && *ret != address && BreakpointAt(*ret) == 0)
    hidden = ArmHidden(*ret);
  Result<StopEvent> e = Result<StopEvent>::Fail("");
  for (int i = 0; i < kMaxRuns; ++i) {
    e = RunGo(3, address);
    if (!e || StopRequested()) break;
    const std::uint32_t now = pcCell_ & 0xFFFFu;
    const std::uint8_t sp = ReadDirect(kSp);
    if (e->reason == StopReason::Until) {
      if (kind == RunKind::Finish) {
        if (!returned(sp)) continue;  // a deeper call returned there
        e->reason = StopReason::Step;
      } else if (kind == RunKind::Until && sp > startSp) {
        continue;  // reached in a deeper frame
      }
      break;
    }
    if (hidden != nullptr && ret && now == *ret && e->reason == StopReason::Stopped) {
      if (!returned(sp)) continue;
      e->reason = StopReason::Step;
    }
    break;
  }
  if (hidden != nullptr) Unlink(hidden);
  return e;
}

}  // namespace kz51
