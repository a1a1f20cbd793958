#pragma once
// Where every code address belongs in the C program, for attributing counts:
// its function (from the .cdb, else the nearest code symbol of the map) and
// its C line (the nearest line record at or below it inside its function),
// and the region table the virtual emulator counts entries by (function in
// the high 16 bits, line in the low 16, 0 for none).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "symbols/Symbols.h"

namespace kz51::run {

class CodeMap {
 public:
  explicit CodeMap(const Symbols& symbols);

  const std::vector<std::uint32_t>& Regions() const { return regions_; }
  // The C line holding `address`, if any.
  std::optional<SourceLine> LineAt(std::uint32_t address) const;
  // The .cdb function holding `address`, if any.
  const cdb::Function* FunctionAt(std::uint32_t address) const;
  // A name for the code at `address`: its C function, else the nearest code
  // symbol of the map at or below it, else its address ("0x0003").
  std::string FunctionNameAt(std::uint32_t address) const;
  // The start address of what FunctionNameAt names.
  std::uint32_t FunctionStartAt(std::uint32_t address) const;

  // The C functions, each once, in .cdb order.
  const std::vector<const cdb::Function*>& Functions() const { return functions_; }
  // The line a function is declared on: the lowest line recorded at its start.
  std::optional<SourceLine> DeclarationLine(const cdb::Function& f) const;

 private:
  struct CodeSymbol {
    std::uint32_t address;
    std::string name;
  };
  const CodeSymbol* SymbolAt(std::uint32_t address) const;

  const Symbols& symbols_;
  std::vector<std::uint32_t> regions_;
  std::vector<SourceLine> lines_;                // line id - 1
  std::vector<const cdb::Function*> functions_;  // function id - 1
  std::vector<CodeSymbol> codeSymbols_;          // by address
};

}  // namespace kz51::run
