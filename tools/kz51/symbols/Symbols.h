#pragma once
// What kz51 knows about the loaded program: the SDCC linker map, the debug
// file (.cdb) and the listings, with the lookups the debugger needs:
// locations from text, symbol+offset and C line for an address, variables.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "symbols/Cdb.h"
#include "symbols/Listing.h"
#include "symbols/MapFile.h"
#include "symbols/SourceFiles.h"

namespace kz51 {

struct SourceLine {
  std::string file;  // as the .cdb writes it: "main.c"
  unsigned line = 0;
};

// One row of `symbols [PATTERN]`.
struct SymbolEntry {
  std::string name;  // the C name when known ("main"), else the linker's
  std::string kind;  // "function", "variable", "label"
  std::uint32_t address = 0;
  std::string space;  // "code", "data", "idata", "xdata", "pdata", "sfr", "bit", "register", ""
  std::string type;   // C type text when known
  std::string module;
};

// A numeric value: 0x1234, 1234h / 0FD00H, or decimal 4660.
bool ParseNumber(const std::string& text, std::uint32_t& value);

class Symbols {
 public:
  // Reads <base>.map, <base>.cdb and the listings of the program's modules
  // (<module>.rst, else <module>.lst) beside `programPath`. Returns the names
  // of the files read; missing files are not an error.
  std::vector<std::string> LoadBeside(const std::string& programPath);
  // For tests and tools: use these parsed contents.
  void Set(cdb::File cdb, std::vector<map::Symbol> mapSymbols);
  void Clear();
  bool HasDebugInfo() const { return !cdb_.modules.empty() || !cdb_.lines.empty(); }
  // Changes whenever the contents change (Set, Clear, LoadBeside).
  std::uint64_t Generation() const { return generation_; }

  const cdb::File& Cdb() const { return cdb_; }
  const std::vector<map::Symbol>& MapSymbols() const { return map_; }

  // A code location: 0x1234, 1234h, a function or code label with or without
  // SDCC's leading underscore, or file.c:LINE (the first address of that
  // line, or of the next line that has code). `description` says what was
  // found ("main.c:27", "done"); false with `error` otherwise.
  bool ResolveCode(const std::string& text, std::uint32_t& address, std::string& error,
                   std::string* description = nullptr) const;

  // Code addresses of one C line (file matched by name without directory).
  std::vector<std::uint32_t> AddressesOfLine(const std::string& file, unsigned line) const;
  // The first line at or after `line` of `file` with code in a function of
  // the program, and that line's first address. Line records of start-up
  // code (global initialisers) do not count: a breakpoint there would act
  // before main. Empty when there is none.
  struct CodeLine {
    unsigned line = 0;
    std::uint32_t address = 0;
  };
  std::optional<CodeLine> FirstCodeLine(const std::string& file, unsigned line) const;
  // True when the .cdb has line records of a file of this name.
  bool HasLinesOf(const std::string& file) const;
  // The C files with line records, by name as the .cdb writes them.
  std::vector<std::string> SourceNames() const;
  // The C line whose code holds `address` (the nearest line record at or
  // below it inside the same function), if any.
  std::optional<SourceLine> LineAt(std::uint32_t address) const;
  // True when `address` is the first address of a C line record.
  bool IsLineStart(std::uint32_t address) const;
  // The line record LineAt uses (with its block), or null.
  const cdb::LineRecord* LineRecordAt(std::uint32_t address) const;
  // The text of a C line: from the listings' copies, else from the source
  // file (see SourceFiles); empty when neither has it.
  std::string SourceText(const std::string& file, unsigned line) const;

  const cdb::Function* FunctionAt(std::uint32_t address) const;
  const cdb::Function* FindFunction(const std::string& name) const;
  // "main+0x5", "done", or "" when no code symbol lies at or below.
  std::string Describe(std::uint32_t address) const;
  // Instruction text from the listing at `address`, or "".
  std::string InstructionAt(std::uint32_t address) const { return listing_.TextAt(address); }
  // A symbol of the linker map by its exact name ("_bp", "_main"), or null.
  const map::Symbol* MapSymbol(const std::string& name) const { return FindMapSymbol(name); }
  // The program's C files: where they lie and their lines.
  const SourceFiles& Sources() const { return sources_; }
  SourceFiles& Sources() { return sources_; }

  // A variable by C name: a local of the function holding `pc` (when given)
  // first, then a file static of that function's module, then a global.
  const cdb::Variable* FindVariable(const std::string& name,
                                    std::optional<std::uint32_t> pc = std::nullopt) const;
  // The program's own globals and file statics, each once, in .cdb order:
  // not the helpers sdcc adds (__str_* string literals, __xinit_* initial
  // values), not SFRs and sbits, not a global twice (each module that
  // declares it records it).
  std::vector<const cdb::Variable*> Globals() const;
  // The SFRs and sbits the program declares, each once, by address.
  std::vector<const cdb::Variable*> SpecialFunctionRegisters() const;
  // Every function and variable (and, without a .cdb, every map symbol)
  // whose name contains `pattern` (case-insensitive; empty matches all).
  std::vector<SymbolEntry> Match(const std::string& pattern) const;

 private:
  const map::Symbol* FindMapSymbol(const std::string& name) const;

  cdb::File cdb_;
  std::vector<map::Symbol> map_;
  Listing listing_;
  std::uint64_t generation_ = 0;
  SourceFiles sources_;                       // its directories and client paths outlive a program
  std::vector<cdb::LineRecord> sortedLines_;  // by address, file order kept among equals
};

// Short name of a .cdb address space ("data", "xdata", ...).
const char* SpaceName(cdb::Space space);

}  // namespace kz51
