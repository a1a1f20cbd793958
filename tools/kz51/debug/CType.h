#pragma once
// C types as SDCC lays them out for the 8051: char 8, short and int 16, long
// 32, long long 64 bits, float in IEEE single format, pointers of one byte
// (__data, __idata, __pdata), two (__xdata, __code) or three (generic: two
// address bytes and a space tag), all little-endian. Bit variables and
// bitfields are integers that occupy part of their byte.
#include <cstdint>
#include <memory>
#include <string>

#include "symbols/Cdb.h"

namespace kz51::debug {

enum class PointerSpace : std::uint8_t { Generic, Code, Xdata, Data, Idata, Pdata };

struct CType;
using TypeRef = std::shared_ptr<const CType>;

struct CType {
  enum class Kind : std::uint8_t { Void, Bit, Integer, Float, Pointer, Array, Struct, Function };
  Kind kind = Kind::Void;
  unsigned size = 0;  // bytes
  bool isSigned = false;
  bool isChar = false;  // an integer of the char family: shown with its character
  PointerSpace space = PointerSpace::Generic;  // Pointer
  TypeRef target;      // Pointer: what it points to; Array: element; Function: result
  unsigned count = 0;  // Array: elements
  std::string tag;     // Struct
  // A bit variable or bitfield: `bitWidth` bits from bit `bitOffset` of its
  // `size` bytes; 0 for whole-byte values.
  unsigned bitOffset = 0, bitWidth = 0;

  bool IsInteger() const { return kind == Kind::Integer || kind == Kind::Bit; }
  bool IsArithmetic() const { return IsInteger() || kind == Kind::Float; }
  bool IsScalar() const { return IsArithmetic() || kind == Kind::Pointer; }
  bool IsAggregate() const { return kind == Kind::Array || kind == Kind::Struct; }
  // Integer conversion rank by size (char 1 .. long long 8).
  unsigned Rank() const { return kind == Kind::Bit ? 0 : size; }
  // Readable C-like text: "unsigned char [16]", "struct point *", "char __code *".
  std::string Describe() const;
};

// The basic types.
TypeRef VoidType();
TypeRef BitType();
TypeRef CharType(bool isSigned);
TypeRef IntegerType(unsigned size, bool isSigned);  // 1, 2, 4, 8 bytes
TypeRef IntType();                                  // signed int (16 bits)
TypeRef ByteType();  // unsigned char shown as a number only (registers)
TypeRef FloatType();
TypeRef PointerTo(TypeRef target, PointerSpace space);
TypeRef ArrayOf(TypeRef element, unsigned count);
TypeRef StructType(const std::string& tag, unsigned size);
TypeRef FunctionReturning(TypeRef result);
// A copy of `type` as a bitfield.
TypeRef AsBitfield(const TypeRef& type, unsigned bitOffset, unsigned bitWidth);

unsigned PointerSize(PointerSpace space);
const char* PointerSpaceKeyword(PointerSpace space);  // "__xdata", "" for generic

// Same type for conversions and comparisons (layout, not identity).
bool SameType(const CType& a, const CType& b);

// Sizes of structures by tag, for types read from the debug file.
class StructSizes {
 public:
  virtual ~StructSizes() = default;
  virtual unsigned SizeOfStruct(const std::string& tag) const = 0;
};

// The type of a .cdb type chain.
TypeRef FromCdb(const cdb::Type& type, const StructSizes& structs);

}  // namespace kz51::debug
