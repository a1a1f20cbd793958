#pragma once
// The loaded program as the C model sees it: the types of its variables,
// structure layouts, each function's parameters (in declaration order) and
// locals, the blocks a name is visible in, and the C scopes a bare name is
// looked up in: block, function, file statics, globals.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "debug/CType.h"
#include "symbols/Symbols.h"

namespace kz51::debug {

struct Member {
  std::string name;
  unsigned offset = 0;
  TypeRef type;
};

struct FunctionInfo {
  const cdb::Function* function = nullptr;
  // Parameters in declaration order; the first one arrives in DPL, DPH, B
  // and A (`firstParamBytes` of them) and is moved by the prologue.
  std::vector<const cdb::Variable*> params;
  std::vector<const cdb::Variable*> locals;
  const cdb::Variable* firstParam = nullptr;
  unsigned firstParamBytes = 0;
  // True when its locals live on the stack (reentrant or --stack-auto), so
  // every call has its own.
  bool reentrant = false;
  std::vector<std::uint32_t> lineAddresses;  // C line starts inside it, ascending
  // Address span of each block's line records, for names of inner blocks.
  std::map<unsigned, std::pair<std::uint32_t, std::uint32_t>> blockSpans;
};

class Program final : public StructSizes {
 public:
  explicit Program(const Symbols& symbols) : symbols_(symbols) {}
  // Forgets what was computed when the symbols have changed since.
  void Refresh() const;
  const Symbols& symbols() const { return symbols_; }
  const cdb::File& cdb() const { return symbols_.Cdb(); }

  unsigned SizeOfStruct(const std::string& tag) const override;
  TypeRef TypeOf(const cdb::Type& type) const { return FromCdb(type, *this); }
  std::vector<Member> Members(const std::string& tag) const;

  // Facts about a function of the .cdb (computed once).
  const FunctionInfo& Info(const cdb::Function& f) const;
  // Locals and parameters of `f` visible at `pc` (outer blocks included).
  bool Visible(const cdb::Variable& v, const FunctionInfo& info, std::uint32_t pc) const;

  // A name as C finds it in `f` at `pc`: block, function, file statics,
  // globals (then a file static of another module, when only one has it).
  // A leading underscore (the linker's spelling) is tried without it.
  const cdb::Variable* Lookup(const std::string& name, const cdb::Function* f,
                              std::uint32_t pc) const;
  // Globals and file statics with a type, in .cdb order (Symbols::Globals:
  // no helpers of sdcc's, no SFRs, each once).
  std::vector<const cdb::Variable*> Globals() const;

  // The address of sdcc's frame pointer _bp, when the program has one.
  std::optional<std::uint8_t> BpAddress() const;
  // True when the C line of the code at `address` assigns `name` (name =,
  // name op=, name++, ++name, ...), judged from the line's source text;
  // nullopt when the text is not known.
  std::optional<bool> LineAssigns(std::uint32_t address, const std::string& name) const;

 private:
  const cdb::Variable* LookupExact(const std::string& name, const cdb::Function* f,
                                   std::uint32_t pc) const;

  const Symbols& symbols_;
  mutable std::uint64_t generation_ = ~0ull;
  mutable std::map<const cdb::Function*, FunctionInfo> info_;
  mutable std::map<std::string, std::vector<Member>> members_;
};

}  // namespace kz51::debug
