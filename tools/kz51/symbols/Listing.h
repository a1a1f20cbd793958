#pragma once
// The assembler listings sdcc leaves beside the program: the relocated
// listing (.rst, absolute addresses) or, without it, the listing (.lst) placed
// through the .cdb's assembler line records. Gives the instruction text at a
// code address, and the C source lines sdcc copies into them as comments
// (";\t../src/main.c:12: n++;") with the path each file was compiled from.
#include <cstdint>
#include <map>
#include <optional>
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
  // The C text of `file`:`line` as sdcc copied it (";\tmain.c:12: x = 1;"),
  // or empty when no listing holds it.
  std::string SourceText(const std::string& file, unsigned line) const;
  // The bit address of a label in the bit segment of a relocated listing
  // ("_ready"): the map file leaves bit variables out.
  std::optional<std::uint32_t> BitLabel(const std::string& name) const;
  // The path a C file was compiled from, by file name without directory
  // ("ticker.c" -> "../src/ticker.c"); empty when not known.
  std::string CompiledPath(const std::string& file) const;
  std::size_t Size() const { return text_.size(); }

 private:
  void AddSourceComments(const std::string& text);

  std::map<std::uint32_t, std::string> text_;
  std::map<std::pair<std::string, unsigned>, std::string> source_;
  std::map<std::string, std::string> compiledPaths_;  // by file name
  std::map<std::string, std::uint32_t> bitLabels_;
};

}  // namespace kz51
