#pragma once
// The assembler listings sdcc leaves beside the program: the relocated
// listing (.rst, absolute addresses) or, without it, the listing (.lst) placed
// through the .cdb's assembler line records. Gives the instruction text at a
// code address, and the C source lines sdcc copies into them as comments
// (";\t../src/main.c:12: n++;") with the path each file was compiled from.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "symbols/Cdb.h"

namespace kz51 {

class Listing {
 public:
  // A relocated listing: every instruction line carries its absolute address.
  void AddRelocated(const std::string& text);
  // A listing with module-relative addresses: placed by the asm line records
  // of `module` (the listing's line numbers are those records' lines).
  void AddUnrelocated(const std::string& text, const std::string& module,
                      const std::vector<cdb::AsmLineRecord>& records);
  // "sjmp 00102$" for the instruction at `address`, or empty.
  std::string TextAt(std::uint32_t address) const;
  std::size_t Size() const { return text_.size(); }

  // The C line as the listing quotes it (leading blanks removed), by file
  // name without directory; empty when not quoted.
  std::string SourceText(const std::string& file, unsigned line) const;
  // The path a C file was compiled from, by file name without directory
  // ("ticker.c" -> "../src/ticker.c"); empty when not known.
  std::string CompiledPath(const std::string& file) const;

 private:
  void AddSourceComments(const std::string& text);
  std::map<std::uint32_t, std::string> text_;
  std::map<std::string, std::string> compiledPaths_;
  std::map<std::pair<std::string, unsigned>, std::string> sourceText_;
};

}  // namespace kz51
