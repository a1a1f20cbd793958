#pragma once
// The C-level model of the stopped target that every front end uses: stack
// frames, the variables in scope at each with the locations valid at its
// PC, the C expression evaluator (with assignment) and value formatting
// (Format.h). One answer for all: a value that cannot be known at a place is
// unavailable, with the sentence saying why, never a number.
//
// Use, with the target stopped:
//   kz51::debug::SessionTarget target(session);
//   kz51::debug::DebugModel model(target, session.symbols());
//   auto v = model.Evaluate("p->x + 1");          // in the selected frame
//   if (!v) ...v.error()...                        // a syntax or type error
//   else if (!v->Available()) ...v->unavailable... // no value here, and why
//   else ...FormatValue(model, *v)... / ...ValueJson(model, *v)...
// The model reads the target again by itself after a run, a reset, a load or
// a write (Target::Changes); after a run the selected frame is frame 0.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "debug/Frames.h"
#include "debug/Program.h"
#include "debug/Target.h"
#include "debug/Value.h"

namespace kz51::debug {

struct NamedValue {
  std::string name;
  Value value;
};

class DebugModel {
 public:
  DebugModel(Target& target, const Symbols& symbols);
  DebugModel(const DebugModel&) = delete;
  DebugModel& operator=(const DebugModel&) = delete;

  // ---- frames ----
  // The frame at `level` (0 innermost); fails when the stack holds fewer.
  Result<const Frame*> FrameAt(int level);
  // Every frame, innermost first.
  Result<std::vector<const Frame*>> Backtrace();
  // Why the walk ended above the last frame ("" when that frame is the
  // program's outermost, main).
  std::string BacktraceEnd();
  int Selected();
  // Selects a frame for Evaluate, Locals and Args.
  Result<const Frame*> Select(int level);
  // True when frame `level` has a caller to return to.
  Result<bool> HasCaller(int level);
  // Where frame `level` returns to: the address after the caller's call
  // (or the interrupted instruction) and SP there; fails for the outermost.
  struct ReturnPoint {
    std::uint32_t address = 0;
    std::uint8_t sp = 0;
  };
  Result<ReturnPoint> ReturnOf(int level);

  // ---- values ----
  // A C expression in the selected frame, or in frame `level`. Fails with a
  // sentence naming the offending token; an expression whose value cannot
  // be known here gives a value with `unavailable` set.
  Result<Value> Evaluate(const std::string& expression);
  Result<Value> EvaluateAt(const std::string& expression, int level);
  // Parameters (in declaration order) and locals in scope of a frame.
  Result<std::vector<NamedValue>> Args(int level);
  Result<std::vector<NamedValue>> Locals(int level);
  // Globals and file statics.
  std::vector<NamedValue> Globals();
  // A variable of the .cdb as seen from frame `level`.
  Result<Value> Variable(const cdb::Variable& v, int level);
  // A register by its $name ("$a", "$r7", "$pc", ...) in frame `level`.
  Result<Value> RegisterValue(const std::string& name, int level);
  // The members of a structure or the elements of an array.
  std::vector<NamedValue> Children(const Value& v);
  // Reads the bytes of `v` if not yet read.
  Result<Done> Load(Value& v);
  // Writes `source` (converted to the object's type) into `object`; the
  // answer is the object read back.
  Result<Value> Assign(const Value& object, const Value& source);
  // As Assign, but a number the conversion would change (70000 into an
  // int, 2.5 into a char) is refused: a value typed into an editor.
  Result<Value> AssignExactly(const Value& object, const Value& source);

  // ---- code ----
  // Where a breakpoint on a function goes: after its prologue, at its first
  // C line when no jump comes before it.
  Result<std::uint32_t> FunctionBreakAddress(const cdb::Function& f);
  // A code location as `break` and `go until` take it (a function means
  // after its prologue); `description` as Symbols::ResolveCode gives it.
  Result<std::uint32_t> ResolveLocation(const std::string& text, std::string* description);
  // A C line's address for a breakpoint: the line that starts a function
  // (sdcc puts the prologue into the first line of the body) stops after
  // the prologue, as the function's breakpoint does.
  std::uint32_t LineBreakAddress(std::uint32_t address);

  const Program& program() const { return program_; }
  Target& target() { return target_; }
  // Reads the target's register, memory or saved copy of one byte.
  Result<std::uint8_t> ReadHome(const RegisterHome& home) { return walker_.ReadHome(home); }

 private:
  friend class Evaluator;
  void Refresh();
  Result<Value> Resolve(const cdb::Variable& v, const Frame& frame);
  // Why the instruction at `site` is not an assignment of `v` ("" when it
  // is one).
  std::string NotAssigning(const cdb::Variable& v, const Frame& frame, const FunctionInfo& info,
                           std::uint32_t site, const std::string& regs, int depth = 0);
  // Where register `n` (R0..R7) of frame `frame` holds `v`'s byte: the
  // register itself when only assignments of `v` reach it, else a PUSH of it
  // made while it held `v`, with no assignment of `v` since; or why not.
  std::string RegisterByte(const cdb::Variable& v, const Frame& frame, const FunctionInfo& info,
                           int n, const std::string& regs, RegisterHome& home);
  Result<Done> Store(const Value& object, std::vector<std::uint8_t> bytes);

  Target& target_;
  Program program_;
  CodeCache code_;
  FrameWalker walker_;
  std::uint64_t changes_ = ~0ull;
  std::uint64_t runs_ = ~0ull;
  int selected_ = 0;
};

}  // namespace kz51::debug
