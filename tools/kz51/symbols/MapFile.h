#pragma once
// Reader of the linker map (.map) that sdcc's linker writes: every global
// symbol with its value, the area it lies in and the module defining it.
#include <cstdint>
#include <string>
#include <vector>

namespace kz51::map {

struct Symbol {
  std::string name;  // as the linker has it: "_main", "l_DSEG", "G$main$0$0"
  std::uint32_t value = 0;
  std::string area;    // "CSEG", "DSEG", ...
  bool code = false;   // the area holds code (or the value is marked "C:")
  bool xdata = false;  // the area is in external RAM
  std::string module;  // empty for linker-made symbols
};

// Symbols in file order. Lines that are not symbol lines are skipped.
std::vector<Symbol> Parse(const std::string& text);

}  // namespace kz51::map
