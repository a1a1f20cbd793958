#pragma once
// The stack frames of the stopped target, innermost first, walked with what
// SDCC records and what its code does:
//  - each function's code is followed from its entry (CodeAnalysis) to know
//    how many bytes it has pushed above its return address at the PC, so the
//    return address the call pushed is found exactly;
//  - under an interrupt handler the frame below is the interrupted one, at
//    the instruction it will resume (its registers as the handler pushed
//    them);
//  - a caller's registers are found where they can be: unchanged by the
//    called code, saved by the called code's PUSHes at its entry (interrupt
//    handlers, _bp), or saved by the caller's own PUSHes right before the
//    call (SDCC's caller-saves); otherwise they are lost.
// The walk ends at code without a caller the program's symbols know (the
// startup code that calls main), or where the code cannot be followed.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "debug/CodeAnalysis.h"
#include "debug/Program.h"
#include "debug/Target.h"

namespace kz51::debug {

// Where a frame's register (by direct address: R0..R7 of each bank, A, B,
// DPL, DPH, PSW, _bp) is.
struct RegisterHome {
  enum class Kind : std::uint8_t { Live, Memory, Lost };
  Kind kind = Kind::Lost;
  std::string reg;  // Live: the register view's name ("r7", "a", "dpl", ...)
  MemorySpace space = MemorySpace::Data;
  std::uint32_t address = 0;  // Memory
  std::string why;            // Lost: the sentence
};

struct Frame {
  int level = 0;
  // Frame 0: the stop address; a caller: its call instruction; an
  // interrupted frame: the instruction it resumes with.
  std::uint32_t pc = 0;
  bool interrupted = false;
  const cdb::Function* function = nullptr;
  std::string name;  // the function, else the nearest code label, else "0x1234"
  std::optional<SourceLine> line;
  std::uint8_t sp = 0;  // SP before the instruction at pc
  int bank = 0;         // register bank the frame's code runs in
  std::shared_ptr<const CodeAnalysis> analysis;
  const CodeState* state = nullptr;  // the analysis at pc; null when unknown
  std::map<int, RegisterHome> homes;

  // The home of direct address `direct` (R's by their bank address).
  RegisterHome Home(int direct) const;
};

// Analyses of the code around an address, kept until the target changes.
class CodeCache {
 public:
  CodeCache(Target& target, const Program& program) : target_(target), program_(program) {}
  // The analysis of the function (or library routine) holding `pc` run in
  // `bank`; null when no code symbol holds it. `function` receives the .cdb
  // function (null for a library routine), `name` its name.
  std::shared_ptr<const CodeAnalysis> For(std::uint32_t pc, int bank,
                                          const cdb::Function** function, std::string* name);
  // The analysis of a .cdb function from its entry.
  std::shared_ptr<const CodeAnalysis> ForFunction(const cdb::Function& f, int bank);
  // Code bytes (reads through the target once per range).
  Result<std::vector<std::uint8_t>> Code(std::uint32_t address, std::uint32_t length);
  void Clear();

 private:
  std::shared_ptr<const CodeAnalysis> Analyse(std::uint32_t start, std::uint32_t end, int bank,
                                              const std::vector<std::uint32_t>& lines,
                                              unsigned paramBytes);
  Target& target_;
  const Program& program_;
  std::map<std::pair<std::uint32_t, int>, std::shared_ptr<const CodeAnalysis>> analyses_;
  std::map<std::uint32_t, std::vector<std::uint8_t>> code_;
};

class FrameWalker {
 public:
  FrameWalker(Target& target, const Program& program, CodeCache& code)
      : target_(target), program_(program), code_(code) {}
  // Starts again from the target's registers.
  void Reset();
  // Frames up to `level` (walked on demand); fewer when the stack has fewer.
  Result<Done> WalkTo(int level);
  const std::deque<Frame>& frames() const { return frames_; }
  bool Complete() const { return complete_; }
  // Why the walk ended where it did ("" at the program's outermost frame).
  const std::string& EndReason() const { return endReason_; }
  // The registers as read at the stop.
  const Registers& registers() const { return registers_; }
  // A frame's register value through its home.
  Result<std::uint8_t> ReadHome(const RegisterHome& home);

 private:
  Result<Done> First();
  bool Next();  // false when the walk ends
  void Analyse(Frame& f);

  Target& target_;
  const Program& program_;
  CodeCache& code_;
  bool started_ = false;
  bool complete_ = false;
  std::string endReason_;
  Registers registers_{};
  std::vector<std::uint8_t> iram_;
  std::deque<Frame> frames_;  // a deque: frames keep their address as the walk grows
};

// The kept-in-registers sentence shown for a caller's lost register.
extern const char* const kRegistersReused;

}  // namespace kz51::debug
