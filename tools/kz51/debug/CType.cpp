#include "debug/CType.h"

namespace kz51::debug {

namespace {

using Kind = CType::Kind;

TypeRef Make(CType t) {
  return std::make_shared<const CType>(std::move(t));
}

std::string BaseName(const CType& t) {
  switch (t.kind) {
    case Kind::Void:
      return "void";
    case Kind::Bit:
      return "__bit";
    case Kind::Float:
      return "float";
    case Kind::Struct:
      return "struct " + t.tag;
    case Kind::Integer: {
      std::string name;
      switch (t.size) {
        case 1:
          name = "char";
          break;
        case 2:
          name = "int";
          break;
        case 4:
          name = "long";
          break;
        default:
          name = "long long";
          break;
      }
      if (!t.isSigned) name = "unsigned " + name;
      if (t.bitWidth != 0) name += " : " + std::to_string(t.bitWidth);
      return name;
    }
    default:
      return "?";
  }
}

// C's inside-out declarator text: `inner` is what has been built so far.
std::string Declarator(const CType& t, const std::string& inner) {
  switch (t.kind) {
    case Kind::Pointer: {
      const std::string keyword = PointerSpaceKeyword(t.space);
      std::string d = (keyword[0] != '\0' ? keyword + std::string(" *") : std::string("*")) + inner;
      if (t.target && (t.target->kind == Kind::Array || t.target->kind == Kind::Function))
        d = "(" + d + ")";
      return t.target ? Declarator(*t.target, d) : "void " + d;
    }
    case Kind::Array:
      return Declarator(*t.target, inner + "[" + std::to_string(t.count) + "]");
    case Kind::Function:
      return t.target ? Declarator(*t.target, inner + "()") : "void " + inner + "()";
    default:
      return inner.empty() ? BaseName(t) : BaseName(t) + " " + inner;
  }
}

TypeRef BaseFromCdb(const cdb::TypeElement& e, bool isSigned, unsigned recordSize,
                    const StructSizes& structs) {
  using K = cdb::TypeElement::Kind;
  switch (e.kind) {
    case K::Char:
      return CharType(isSigned);
    case K::Short:
    case K::Int:
      // sdcc writes long long as SI with a size of 8.
      return IntegerType(recordSize == 8 || recordSize == 4 ? recordSize : 2, isSigned);
    case K::Long:
      return IntegerType(4, isSigned);
    case K::LongLong:
      return IntegerType(8, isSigned);
    case K::Float:
      return FloatType();
    case K::Bit:
    case K::Sbit:
      return BitType();
    case K::Bitfield: {
      CType t = *IntegerType(recordSize == 0 ? 1 : recordSize, isSigned);
      t.bitOffset = e.count;
      t.bitWidth = e.width == 0 ? 1 : e.width;
      return Make(std::move(t));
    }
    case K::Struct:
      return StructType(e.name, structs.SizeOfStruct(e.name));
    default:
      return VoidType();
  }
}

}  // namespace

std::string CType::Describe() const {
  return Declarator(*this, "");
}

TypeRef VoidType() {
  static const TypeRef t = Make(CType{});
  return t;
}

TypeRef BitType() {
  CType t;
  t.kind = Kind::Bit;
  t.size = 1;
  t.bitWidth = 1;
  return Make(std::move(t));
}

TypeRef CharType(bool isSigned) {
  CType t;
  t.kind = Kind::Integer;
  t.size = 1;
  t.isSigned = isSigned;
  t.isChar = true;
  return Make(std::move(t));
}

TypeRef IntegerType(unsigned size, bool isSigned) {
  if (size == 1) return CharType(isSigned);
  CType t;
  t.kind = Kind::Integer;
  t.size = size;
  t.isSigned = isSigned;
  return Make(std::move(t));
}

TypeRef IntType() {
  static const TypeRef t = IntegerType(2, true);
  return t;
}

TypeRef ByteType() {
  CType t;
  t.kind = Kind::Integer;
  t.size = 1;
  return Make(std::move(t));
}

TypeRef FloatType() {
  CType t;
  t.kind = Kind::Float;
  t.size = 4;
  t.isSigned = true;
  return Make(std::move(t));
}

unsigned PointerSize(PointerSpace space) {
  switch (space) {
    case PointerSpace::Generic:
      return 3;
    case PointerSpace::Code:
    case PointerSpace::Xdata:
      return 2;
    default:
      return 1;
  }
}

const char* PointerSpaceKeyword(PointerSpace space) {
  switch (space) {
    case PointerSpace::Code:
      return "__code";
    case PointerSpace::Xdata:
      return "__xdata";
    case PointerSpace::Data:
      return "__data";
    case PointerSpace::Idata:
      return "__idata";
    case PointerSpace::Pdata:
      return "__pdata";
    default:
      return "";
  }
}

TypeRef PointerTo(TypeRef target, PointerSpace space) {
  CType t;
  t.kind = Kind::Pointer;
  t.space = space;
  t.size = PointerSize(space);
  t.target = std::move(target);
  return Make(std::move(t));
}

TypeRef ArrayOf(TypeRef element, unsigned count) {
  CType t;
  t.kind = Kind::Array;
  t.count = count;
  t.size = element ? element->size * count : 0;
  t.target = std::move(element);
  return Make(std::move(t));
}

TypeRef StructType(const std::string& tag, unsigned size) {
  CType t;
  t.kind = Kind::Struct;
  t.tag = tag;
  t.size = size;
  return Make(std::move(t));
}

TypeRef FunctionReturning(TypeRef result) {
  CType t;
  t.kind = Kind::Function;
  t.target = std::move(result);
  return Make(std::move(t));
}

TypeRef AsBitfield(const TypeRef& type, unsigned bitOffset, unsigned bitWidth) {
  CType t = *type;
  t.bitOffset = bitOffset;
  t.bitWidth = bitWidth;
  return Make(std::move(t));
}

bool SameType(const CType& a, const CType& b) {
  if (a.kind != b.kind || a.size != b.size || a.isSigned != b.isSigned) return false;
  switch (a.kind) {
    case Kind::Pointer:
      return a.space == b.space && (!a.target || !b.target || SameType(*a.target, *b.target));
    case Kind::Array:
      return a.count == b.count && SameType(*a.target, *b.target);
    case Kind::Struct:
      return a.tag == b.tag;
    default:
      return a.bitWidth == b.bitWidth && a.bitOffset == b.bitOffset;
  }
}

TypeRef FromCdb(const cdb::Type& type, const StructSizes& structs) {
  using K = cdb::TypeElement::Kind;
  if (type.chain.empty()) return VoidType();
  const std::size_t n = type.chain.size();
  TypeRef t = BaseFromCdb(type.chain.back(), type.isSigned, n == 1 ? type.size : 0, structs);
  for (std::size_t i = n - 1; i-- > 0;) {
    const cdb::TypeElement& e = type.chain[i];
    switch (e.kind) {
      case K::Array:
        t = ArrayOf(t, e.count);
        break;
      case K::Function:
        t = FunctionReturning(t);
        break;
      case K::GenericPointer:
        t = PointerTo(t, PointerSpace::Generic);
        break;
      case K::CodePointer:
        t = PointerTo(t, PointerSpace::Code);
        break;
      case K::XdataPointer:
        t = PointerTo(t, PointerSpace::Xdata);
        break;
      case K::DataPointer:
        t = PointerTo(t, PointerSpace::Data);
        break;
      case K::IdataPointer:
        t = PointerTo(t, PointerSpace::Idata);
        break;
      case K::PdataPointer:
        t = PointerTo(t, PointerSpace::Pdata);
        break;
      default:
        break;
    }
  }
  return t;
}

}  // namespace kz51::debug
