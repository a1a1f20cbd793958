#pragma once
// The assembler listings sdcc leaves beside the program: the relocated
// listing (.rst, absolute addresses) or, without it, the listing (.lst) placed
// through the .cdb's assembler line records. Gives the instruction text at a
// code address.
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

 private:
  std::map<std::uint32_t, std::string> text_;
};

}  // namespace kz51
