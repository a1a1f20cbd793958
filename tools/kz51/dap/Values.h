#pragma once
// C values for the editor: where a .cdb variable lives, its bytes read
// through the session, and their text by type (integers, floats, pointers as
// addresses, arrays and structures with children).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/Session.h"
#include "symbols/Cdb.h"
#include "symbols/Symbols.h"

namespace kzhost::dap {

// Where a value lives: a memory space and address, or 8051 registers
// ("r7", "r6", ..., lowest byte first).
struct Place {
  bool inRegisters = false;
  std::vector<std::string> registers;
  kz51::MemorySpace space = kz51::MemorySpace::Data;
  std::uint32_t address = 0;
};

struct Value {
  std::string name;
  kz51::cdb::Type type;
  Place place;
  std::vector<std::uint8_t> bytes;  // little-endian, as SDCC stores them
};

// The place of a .cdb variable, or why it cannot be read.
bool Locate(const kz51::cdb::Variable& v, Place& place, std::string& error);
// Reads `size` bytes at `place` through the session.
bool ReadPlace(kz51::Session& s, const Place& place, unsigned size, std::vector<std::uint8_t>& out,
               std::string& error);
bool WritePlace(kz51::Session& s, const Place& place, const std::vector<std::uint8_t>& bytes,
                std::string& error);
// A variable with its bytes.
bool ReadValue(kz51::Session& s, const kz51::cdb::Variable& v, Value& out, std::string& error);

// The members or elements of an array or structure value, without reading
// again: their bytes are slices of the parent's.
std::vector<Value> Children(const kz51::Symbols& symbols, const Value& parent);
bool HasChildren(const Value& v);

// "42", "-1", "0x1234" for pointers, "1.5", "{1, 2, 3}", "{x=1, y=2}".
std::string Format(const kz51::Symbols& symbols, const Value& v);
// Encodes `text` (decimal, 0x.., negative, or 'c') for an integer or
// pointer of `type`; false with `error` when it does not fit.
bool Encode(const kz51::cdb::Type& type, const std::string& text, std::vector<std::uint8_t>& out,
            std::string& error);

// A path into a value: "table[3]", "point.x", "grid[1][2]"; the base name
// and the steps after it.
struct PathStep {
  bool index = false;
  unsigned element = 0;
  std::string member;
};
bool ParsePath(const std::string& text, std::string& base, std::vector<PathStep>& steps);
// Follows `steps` from `v`; false with `error` when a step does not apply.
bool Follow(const kz51::Symbols& symbols, Value v, const std::vector<PathStep>& steps, Value& out,
            std::string& error);

}  // namespace kzhost::dap
