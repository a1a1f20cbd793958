#pragma once
// A C value of the model: its type, where it lives (when it is an object),
// its bytes once read, or the sentence saying why it cannot be known here.
#include <cstdint>
#include <string>
#include <vector>

#include "debug/CType.h"
#include "session/Session.h"

namespace kz51::debug {

// Where one byte of a value lives: a register of the stopped target (the
// innermost frame's registers) or a byte of memory.
struct ByteHome {
  bool isRegister = false;
  std::string reg;  // "r7", "a", "b", "dpl", "dph", "psw", "sp"
  MemorySpace space = MemorySpace::Data;
  std::uint32_t address = 0;
};

struct Location {
  enum class Kind : std::uint8_t {
    None,    // not an object (a computed value)
    Memory,  // `size` bytes from `address` in `space`
    Bytes,   // one home per byte, lowest byte first (registers, saved copies)
  };
  Kind kind = Kind::None;
  MemorySpace space = MemorySpace::Data;
  std::uint32_t address = 0;
  std::vector<ByteHome> bytes;

  static Location InMemory(MemorySpace space, std::uint32_t address) {
    Location l;
    l.kind = Kind::Memory;
    l.space = space;
    l.address = address;
    return l;
  }
  // The part from byte `offset` on (a member or an element).
  Location Offset(unsigned offset) const;
  // "xdata:0x0010", "r6 r7", "idata:0x3C idata:0x3D".
  std::string Describe() const;
};

struct Value {
  TypeRef type;
  Location where;                   // kind None: not an lvalue
  std::vector<std::uint8_t> bytes;  // little-endian contents, when `loaded`
  bool loaded = false;
  // Why the value cannot be known at this place; empty when it can.
  std::string unavailable;

  bool Available() const { return unavailable.empty(); }
  bool IsLvalue() const { return where.kind != Location::Kind::None; }
};

// "data:0x30" style text of an address in a space ("0x" and four digits).
std::string AddressText(MemorySpace space, std::uint32_t address);

}  // namespace kz51::debug
