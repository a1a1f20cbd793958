#include "debug/Evaluator.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace kz51::debug {

namespace {

using Kind = CType::Kind;

struct EvalError {
  std::string message;
};
// An operand that cannot be known here: the whole result cannot.
struct NoValue {
  TypeRef type;
  std::string why;
};

[[noreturn]] void Throw(const std::string& message) {
  throw EvalError{message};
}

std::string At(const Expr& e) {
  return "'" + e.token + "' at column " + std::to_string(e.column);
}

std::uint64_t RawBytes(const Value& v) {
  std::uint64_t raw = 0;
  const std::size_t n = std::min<std::size_t>(v.bytes.size(), 8);
  for (std::size_t i = n; i-- > 0;) raw = raw << 8 | v.bytes[i];
  return raw;
}

std::uint64_t Mask(unsigned bits) {
  return bits >= 64 ? ~0ull : (std::uint64_t{1} << bits) - 1;
}

// The space tag SDCC keeps in the third byte of a generic pointer.
std::uint8_t TagOf(MemorySpace space) {
  switch (space) {
    case MemorySpace::Xdata:
      return 0x00;
    case MemorySpace::Pdata:
      return 0x60;
    case MemorySpace::Code:
      return 0x80;
    default:
      return 0x40;  // internal RAM, direct or indirect
  }
}

MemorySpace SpaceOfPointer(PointerSpace p, std::uint32_t address) {
  switch (p) {
    case PointerSpace::Code:
      return MemorySpace::Code;
    case PointerSpace::Xdata:
      return MemorySpace::Xdata;
    case PointerSpace::Pdata:
      return MemorySpace::Pdata;
    case PointerSpace::Idata:
      return address < 0x80 ? MemorySpace::Data : MemorySpace::Idata;
    default:
      return address < 0x80 ? MemorySpace::Data : MemorySpace::Idata;
  }
}

bool IsNullConstant(const Value& v) {
  return v.type->IsInteger() && IntegerValue(v) == 0;
}

TypeRef Promote(const TypeRef& t) {
  if (t->kind == Kind::Bit) return IntType();
  if (t->kind != Kind::Integer) return t;
  if (t->size < 2) return IntType();
  if (t->bitWidth != 0) {
    // A bitfield promotes to int when int holds all its values.
    if (t->bitWidth < 16 || (t->bitWidth == 16 && t->isSigned)) return IntType();
    return IntegerType(t->size, t->isSigned);
  }
  return t;
}

TypeRef UsualArithmetic(const TypeRef& a0, const TypeRef& b0) {
  if (a0->kind == Kind::Float || b0->kind == Kind::Float) return FloatType();
  const TypeRef a = Promote(a0), b = Promote(b0);
  if (a->size == b->size && a->isSigned == b->isSigned) return a;
  if (a->isSigned == b->isSigned) return a->size > b->size ? a : b;
  const TypeRef& u = a->isSigned ? b : a;
  const TypeRef& s = a->isSigned ? a : b;
  if (u->size >= s->size) return u;
  if (s->size > u->size) return s;  // the signed type holds every value of the unsigned one
  return IntegerType(s->size, false);
}

}  // namespace

// ---- values ------------------------------------------------------------------

std::int64_t IntegerValue(const Value& v) {
  std::uint64_t raw = RawBytes(v);
  const CType& t = *v.type;
  if (t.kind == Kind::Pointer) return static_cast<std::int64_t>(raw & Mask(8 * t.size));
  unsigned bits = 8 * std::min(t.size, 8u);
  if (t.bitWidth != 0) {
    raw = (raw >> t.bitOffset) & Mask(t.bitWidth);
    bits = t.bitWidth;
  } else {
    raw &= Mask(bits);
  }
  if (t.isSigned && t.kind != Kind::Bit && bits < 64 && (raw >> (bits - 1)) & 1) raw |= ~Mask(bits);
  return static_cast<std::int64_t>(raw);
}

double FloatValue(const Value& v) {
  if (v.type->kind == Kind::Float) {
    const std::uint32_t bits = static_cast<std::uint32_t>(RawBytes(v));
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  const std::int64_t i = IntegerValue(v);
  if (!v.type->isSigned && v.type->size == 8)
    return static_cast<double>(static_cast<std::uint64_t>(i));
  return static_cast<double>(i);
}

bool PointerTarget(const Value& v, MemorySpace& space, std::uint32_t& address, std::string& why) {
  const CType& t = *v.type;
  const std::uint64_t raw = RawBytes(v);
  if (t.space != PointerSpace::Generic) {
    address = static_cast<std::uint32_t>(raw & Mask(8 * t.size));
    space = SpaceOfPointer(t.space, address);
    return true;
  }
  address = static_cast<std::uint32_t>(raw & 0xFFFF);
  const std::uint8_t tag = static_cast<std::uint8_t>(raw >> 16);
  switch (tag) {
    case 0x00:
      space = MemorySpace::Xdata;
      return true;
    case 0x40:
      if (address > 0xFF) break;
      space = address < 0x80 ? MemorySpace::Data : MemorySpace::Idata;
      return true;
    case 0x60:
      if (address > 0xFF) break;
      space = MemorySpace::Pdata;
      return true;
    case 0x80:
      space = MemorySpace::Code;
      return true;
    default:
      break;
  }
  char s[64];
  std::snprintf(s, sizeof s, "its space tag %02Xh is none of sdcc's (00h, 40h, 60h, 80h)", tag);
  why = s;
  return false;
}

Value MakeInteger(const TypeRef& type, std::int64_t v) {
  Value out;
  out.type = type;
  std::uint64_t raw = static_cast<std::uint64_t>(v);
  if (type->kind == Kind::Bit) raw = v != 0 ? 1 : 0;
  if (type->bitWidth != 0) raw = (raw & Mask(type->bitWidth)) << type->bitOffset;
  for (unsigned i = 0; i < type->size; ++i)
    out.bytes.push_back(static_cast<std::uint8_t>(raw >> (8 * i)));
  out.loaded = true;
  return out;
}

Value MakeFloat(float f) {
  Value out;
  out.type = FloatType();
  std::uint32_t bits = 0;
  std::memcpy(&bits, &f, sizeof bits);
  for (int i = 0; i < 4; ++i) out.bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  out.loaded = true;
  return out;
}

namespace {

Value MakePointer(const TypeRef& type, MemorySpace space, std::uint32_t address) {
  Value out;
  out.type = type;
  out.bytes = {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8)};
  if (type->space == PointerSpace::Generic) {
    out.bytes.resize(2);
    out.bytes.push_back(TagOf(space));
  }
  out.bytes.resize(type->size);
  out.loaded = true;
  return out;
}

}  // namespace

bool IsTrue(const Value& v) {
  if (v.type->kind == Kind::Float) return FloatValue(v) != 0;
  if (v.type->kind == Kind::Pointer) return RawBytes(v) != 0;
  return IntegerValue(v) != 0;
}

namespace {
bool Truth(const Value& v) {
  return IsTrue(v);
}
}  // namespace

// ---- evaluation -----------------------------------------------------------------

Result<Value> Evaluator::Evaluate(const std::string& text) {
  text_ = text;
  ParseResult parsed = ParseExpression(text);
  if (!parsed.expr) return Result<Value>::Fail(parsed.error);
  auto frame = model_.FrameAt(level_);
  if (!frame) return Result<Value>::Fail(frame.error());
  try {
    return Eval(*parsed.expr);
  } catch (const EvalError& e) {
    return Result<Value>::Fail(e.message);
  } catch (const NoValue& n) {
    Value v;
    v.type = n.type ? n.type : IntType();
    v.unavailable = n.why;
    return v;
  }
}

Value Evaluator::Rvalue(Value v, const Expr& at) {
  if (!v.Available()) throw NoValue{v.type, v.unavailable};
  if (v.type->kind == Kind::Array) {
    // An array stands for a pointer to its first element, in its space.
    Value p = AddressOf(v, at);
    p.type = PointerTo(v.type->target, p.type->space);
    return p;
  }
  if (v.type->kind == Kind::Function) return AddressOf(v, at);
  if (auto r = model_.Load(v); !r) Throw("cannot read " + At(at) + ": " + r.error());
  return v;
}

Value Evaluator::Eval(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::Integer:
      return MakeInteger(e.literalType, static_cast<std::int64_t>(e.integer));
    case Expr::Kind::Floating:
      return MakeFloat(static_cast<float>(e.floating));
    case Expr::Kind::Name:
      return Name(e);
    case Expr::Kind::Register: {
      auto r = model_.RegisterValue("$" + e.text, level_);
      if (!r) Throw(r.error());
      return *r;
    }
    case Expr::Kind::Unary:
      return Unary(e);
    case Expr::Kind::Binary:
      return Binary(e);
    case Expr::Kind::Assign:
      return Assign(e);
    case Expr::Kind::Conditional: {
      const Value c = Rvalue(Eval(*e.kids[0]), *e.kids[0]);
      if (!c.type->IsScalar())
        Throw("the condition before " + At(e) + " is not a number or pointer");
      const Expr& chosen = Truth(c) ? *e.kids[1] : *e.kids[2];
      Value r = Rvalue(Eval(chosen), chosen);
      if (r.type->IsArithmetic()) return ConvertOrThrow(r, Promote(r.type), chosen);
      return r;
    }
    case Expr::Kind::Index:
      return Index(e);
    case Expr::Kind::Member:
      return MemberOf(Eval(*e.kids[0]), e);
    case Expr::Kind::Arrow: {
      const Value p = Rvalue(Eval(*e.kids[0]), *e.kids[0]);
      if (p.type->kind != Kind::Pointer)
        Throw("'->' at column " + std::to_string(e.opColumn) +
              " needs a pointer to a structure, not " + p.type->Describe());
      return MemberOf(Deref(p, e), e);
    }
    case Expr::Kind::Cast:
      return Cast(e);
    case Expr::Kind::SizeofType: {
      const TypeRef t = Resolve(e.type, e);
      if (t->kind == Kind::Function || t->kind == Kind::Void)
        Throw("sizeof " + At(e) + " needs an object type, not " + t->Describe());
      return MakeInteger(IntegerType(2, false), t->size);
    }
    case Expr::Kind::SizeofExpr: {
      Value v;
      try {
        v = Eval(*e.kids[0]);
      } catch (const NoValue& n) {
        v.type = n.type;  // the size is known though the value is not
      }
      if (!v.type || v.type->kind == Kind::Function || v.type->kind == Kind::Void)
        Throw("sizeof " + At(e) + " needs an object");
      return MakeInteger(IntegerType(2, false), v.type->size);
    }
  }
  Throw("cannot evaluate " + At(e));
}

Value Evaluator::Name(const Expr& e) {
  auto frame = model_.FrameAt(level_);
  if (!frame) Throw(frame.error());
  const Program& program = model_.program();
  const cdb::Variable* v = program.Lookup(e.text, (*frame)->function, (*frame)->pc);
  if (v != nullptr) {
    auto value = model_.Variable(*v, level_);
    if (!value) Throw(value.error());
    return *value;
  }
  if (const cdb::Function* f = program.symbols().FindFunction(e.text); f != nullptr && f->start) {
    Value fn;
    fn.type = program.TypeOf(f->type);
    fn.where = Location::InMemory(MemorySpace::Code, *f->start);
    return fn;
  }
  Throw("unknown variable '" + e.text + "' (column " + std::to_string(e.column) +
        "): no variable or function '" + e.text + "' is in scope here");
}

Value Evaluator::AddressOf(const Value& object, const Expr& at) {
  if (object.where.kind == Location::Kind::None)
    Throw("'&' needs an object, not the value of " + At(at));
  if (object.type->bitWidth != 0 || object.type->kind == Kind::Bit)
    Throw(At(at) + " is a bit, which has no address a pointer can hold");
  if (object.where.kind == Location::Kind::Bytes) {
    if (!object.Available())
      throw NoValue{PointerTo(object.type, PointerSpace::Generic), object.unavailable};
    Throw(At(at) + " lives in registers, which have no address a pointer can hold");
  }
  PointerSpace space = PointerSpace::Generic;
  switch (object.where.space) {
    case MemorySpace::Data:
      space = PointerSpace::Data;
      break;
    case MemorySpace::Idata:
      space = PointerSpace::Idata;
      break;
    case MemorySpace::Xdata:
      space = PointerSpace::Xdata;
      break;
    case MemorySpace::Pdata:
      space = PointerSpace::Pdata;
      break;
    case MemorySpace::Code:
      space = PointerSpace::Code;
      break;
    case MemorySpace::Sfr:
      Throw(At(at) + " is a special function register, which has no address a pointer can hold");
  }
  return MakePointer(PointerTo(object.type, space), object.where.space, object.where.address);
}

Value Evaluator::Deref(const Value& p, const Expr& at) {
  if (p.type->kind != Kind::Pointer)
    Throw(At(at) + ": only a pointer can be dereferenced, not " + p.type->Describe());
  const TypeRef target = p.type->target ? p.type->target : VoidType();
  if (target->kind == Kind::Void)
    Throw(At(at) + ": a void pointer cannot be dereferenced (cast it first)");
  MemorySpace space;
  std::uint32_t address = 0;
  std::string why;
  if (!PointerTarget(p, space, address, why))
    Throw("cannot follow the pointer at " + At(at) + ": " + why);
  Value v;
  v.type = target;
  v.where = Location::InMemory(space, address);
  return v;
}

Value Evaluator::Unary(const Expr& e) {
  const std::string& op = e.text;
  if (op == "&") return AddressOf(Eval(*e.kids[0]), *e.kids[0]);
  const Value a = Rvalue(Eval(*e.kids[0]), *e.kids[0]);
  if (op == "*") return Deref(a, e);
  if (op == "!") {
    if (!a.type->IsScalar()) Throw(At(e) + " needs a number or pointer, not " + a.type->Describe());
    return MakeInteger(IntType(), Truth(a) ? 0 : 1);
  }
  if (!a.type->IsArithmetic()) Throw(At(e) + " needs a number, not " + a.type->Describe());
  if (a.type->kind == Kind::Float) {
    if (op == "~") Throw(At(e) + " needs an integer, not float");
    return MakeFloat(static_cast<float>(op == "-" ? -FloatValue(a) : FloatValue(a)));
  }
  const TypeRef t = Promote(a.type);
  const std::int64_t v = IntegerValue(a);
  if (op == "-")
    return MakeInteger(t, static_cast<std::int64_t>(0ull - static_cast<std::uint64_t>(v)));
  if (op == "~") return MakeInteger(t, ~v);
  return MakeInteger(t, v);
}

Value Evaluator::Binary(const Expr& e) {
  const std::string& op = e.text;
  if (op == "&&" || op == "||") {
    const Value a = Rvalue(Eval(*e.kids[0]), *e.kids[0]);
    if (!a.type->IsScalar()) Throw(At(e) + " needs numbers or pointers, not " + a.type->Describe());
    if ((op == "&&") != Truth(a)) return MakeInteger(IntType(), op == "||" ? 1 : 0);
    const Value b = Rvalue(Eval(*e.kids[1]), *e.kids[1]);
    if (!b.type->IsScalar()) Throw(At(e) + " needs numbers or pointers, not " + b.type->Describe());
    return MakeInteger(IntType(), Truth(b) ? 1 : 0);
  }
  return Arithmetic(op, Rvalue(Eval(*e.kids[0]), *e.kids[0]), Rvalue(Eval(*e.kids[1]), *e.kids[1]),
                    e);
}

Value Evaluator::Arithmetic(const std::string& op, Value a, Value b, const Expr& at) {
  const bool ap = a.type->kind == Kind::Pointer, bp = b.type->kind == Kind::Pointer;
  auto invalid = [&]() {
    Throw("invalid operands to " + At(at) + " (" + a.type->Describe() + " and " +
          b.type->Describe() + ")");
  };
  const bool compare =
      op == "==" || op == "!=" || op == "<" || op == "<=" || op == ">" || op == ">=";
  if (ap || bp) {
    if (compare) {
      if ((ap && !bp && !IsNullConstant(b)) || (bp && !ap && !IsNullConstant(a))) invalid();
      // Compare where they point (generic and specific pointers alike).
      auto where = [&](const Value& v, std::uint64_t& key) {
        if (v.type->kind != Kind::Pointer) {
          key = 0;
          return;
        }
        MemorySpace s;
        std::uint32_t addr;
        std::string why;
        if (!PointerTarget(v, s, addr, why)) {
          key = RawBytes(v);
          return;
        }
        key = (std::uint64_t{TagOf(s)} << 16) | addr;
        if (addr == 0 && RawBytes(v) == 0) key = 0;
      };
      std::uint64_t ka = 0, kb = 0;
      where(a, ka);
      where(b, kb);
      const bool r = op == "=="   ? ka == kb
                     : op == "!=" ? ka != kb
                     : op == "<"  ? (ka & 0xFFFF) < (kb & 0xFFFF)
                     : op == "<=" ? (ka & 0xFFFF) <= (kb & 0xFFFF)
                     : op == ">"  ? (ka & 0xFFFF) > (kb & 0xFFFF)
                                  : (ka & 0xFFFF) >= (kb & 0xFFFF);
      return MakeInteger(IntType(), r ? 1 : 0);
    }
    if (op == "-" && ap && bp) {
      const unsigned size = a.type->target && a.type->target->size ? a.type->target->size : 1;
      MemorySpace s;
      std::uint32_t x = 0, y = 0;
      std::string why;
      PointerTarget(a, s, x, why);
      PointerTarget(b, s, y, why);
      return MakeInteger(IntType(),
                         (static_cast<std::int64_t>(x) - static_cast<std::int64_t>(y)) / size);
    }
    if ((op == "+" && (ap != bp)) || (op == "-" && ap && !bp)) {
      const Value& p = ap ? a : b;
      const Value& n = ap ? b : a;
      if (!n.type->IsInteger()) invalid();
      const unsigned size = p.type->target && p.type->target->size ? p.type->target->size : 1;
      MemorySpace s;
      std::uint32_t addr = 0;
      std::string why;
      if (!PointerTarget(p, s, addr, why))
        Throw("cannot move the pointer at " + At(at) + ": " + why);
      const std::int64_t step = IntegerValue(n) * static_cast<std::int64_t>(size);
      const std::uint32_t moved =
          static_cast<std::uint32_t>(static_cast<std::int64_t>(addr) + (op == "-" ? -step : step));
      const std::uint32_t width = p.type->size == 1 ? 0xFF : 0xFFFF;
      return MakePointer(p.type, s, moved & width);
    }
    invalid();
  }
  if (!a.type->IsArithmetic() || !b.type->IsArithmetic()) invalid();
  const bool bitwise = op == "&" || op == "|" || op == "^" || op == "%" || op == "<<" || op == ">>";
  if (op == "<<" || op == ">>") {
    if (a.type->kind == Kind::Float || b.type->kind == Kind::Float) invalid();
    const TypeRef t = Promote(a.type);
    const std::int64_t count = IntegerValue(b);
    const unsigned bits = 8 * t->size;
    if (count < 0 || count >= static_cast<std::int64_t>(bits))
      Throw("the shift count " + std::to_string(count) + " of " + At(at) + " is outside 0.." +
            std::to_string(bits - 1) + " for " + t->Describe());
    const std::int64_t v = IntegerValue(a);
    if (op == "<<")
      return MakeInteger(t, static_cast<std::int64_t>(static_cast<std::uint64_t>(v) << count));
    if (t->isSigned) return MakeInteger(t, v >> count);
    return MakeInteger(
        t, static_cast<std::int64_t>((static_cast<std::uint64_t>(v) & Mask(bits)) >> count));
  }
  const TypeRef t = UsualArithmetic(a.type, b.type);
  if (t->kind == Kind::Float) {
    if (bitwise) invalid();
    const float x = static_cast<float>(FloatValue(a)), y = static_cast<float>(FloatValue(b));
    if (compare) {
      const bool r = op == "=="   ? x == y
                     : op == "!=" ? x != y
                     : op == "<"  ? x < y
                     : op == "<=" ? x <= y
                     : op == ">"  ? x > y
                                  : x >= y;
      return MakeInteger(IntType(), r ? 1 : 0);
    }
    if (op == "/" && y == 0) Throw("division by zero at " + At(at));
    const float r = op == "+" ? x + y : op == "-" ? x - y : op == "*" ? x * y : x / y;
    return MakeFloat(r);
  }
  // Integers: the operands converted to t, computed in 64 bits, cut to t.
  const unsigned bits = 8 * t->size;
  auto as = [&](const Value& v) {
    std::uint64_t x = static_cast<std::uint64_t>(IntegerValue(v)) & Mask(bits);
    if (t->isSigned && bits < 64 && (x >> (bits - 1)) & 1) x |= ~Mask(bits);
    return x;
  };
  const std::uint64_t x = as(a), y = as(b);
  const std::int64_t sx = static_cast<std::int64_t>(x), sy = static_cast<std::int64_t>(y);
  if (compare) {
    bool r = false;
    if (t->isSigned) {
      r = op == "=="   ? sx == sy
          : op == "!=" ? sx != sy
          : op == "<"  ? sx < sy
          : op == "<=" ? sx <= sy
          : op == ">"  ? sx > sy
                       : sx >= sy;
    } else {
      r = op == "=="   ? x == y
          : op == "!=" ? x != y
          : op == "<"  ? x < y
          : op == "<=" ? x <= y
          : op == ">"  ? x > y
                       : x >= y;
    }
    return MakeInteger(IntType(), r ? 1 : 0);
  }
  if ((op == "/" || op == "%") && y == 0) Throw("division by zero at " + At(at));
  std::uint64_t r = 0;
  if (op == "+") {
    r = x + y;
  } else if (op == "-") {
    r = x - y;
  } else if (op == "*") {
    r = x * y;
  } else if (op == "/" || op == "%") {
    if (t->isSigned) {
      if (sy == -1) {
        r = op == "/" ? 0 - x : 0;  // no overflow trap in 64 bits
      } else {
        r = static_cast<std::uint64_t>(op == "/" ? sx / sy : sx % sy);
      }
    } else {
      r = op == "/" ? x / y : x % y;
    }
  } else if (op == "&") {
    r = x & y;
  } else if (op == "|") {
    r = x | y;
  } else if (op == "^") {
    r = x ^ y;
  } else {
    invalid();
  }
  return MakeInteger(t, static_cast<std::int64_t>(r));
}

Value Evaluator::Assign(const Expr& e) {
  const Expr& left = *e.kids[0];
  Value object = Eval(left);
  if (!object.Available()) Throw("cannot set " + Source(left) + ": " + object.unavailable);
  if (!object.IsLvalue()) Throw("the left side of " + At(e) + " is not an object that can be set");
  if (object.type->kind == Kind::Array || object.type->kind == Kind::Function)
    Throw("the left side of " + At(e) + " is " + object.type->Describe() +
          ", which cannot be set as a whole");
  Value value = Rvalue(Eval(*e.kids[1]), *e.kids[1]);
  if (e.text != "=") {
    const std::string op = e.text.substr(0, e.text.size() - 1);
    value = Arithmetic(op, Rvalue(object, left), value, e);
  }
  const Value converted = ConvertOrThrow(value, object.type, e);
  auto result = model_.Assign(object, converted);
  if (!result) Throw("cannot set " + Source(left) + ": " + result.error());
  return *result;
}

Value Evaluator::Index(const Expr& e) {
  Value base = Eval(*e.kids[0]);
  Value index = Eval(*e.kids[1]);
  const Expr* baseExpr = e.kids[0].get();
  const Expr* indexExpr = e.kids[1].get();
  if (base.type->IsInteger() &&
      (index.type->kind == Kind::Array || index.type->kind == Kind::Pointer)) {
    std::swap(base, index);  // i[a] is a[i]
    std::swap(baseExpr, indexExpr);
  }
  const Value i = Rvalue(index, *indexExpr);
  if (!i.type->IsInteger()) Throw("the index in " + At(e) + " is not an integer");
  const std::int64_t n = IntegerValue(i);
  if (base.type->kind == Kind::Array) {
    const TypeRef& element = base.type->target;
    if (base.where.kind == Location::Kind::Bytes || !base.IsLvalue() || !base.Available()) {
      // Registers or a computed copy: only its own elements exist.
      if (n < 0 || n >= static_cast<std::int64_t>(base.type->count))
        Throw("index " + std::to_string(n) + " is outside " + baseExpr->token + " (0.." +
              std::to_string(base.type->count == 0 ? 0 : base.type->count - 1) + ")");
      const auto kids = model_.Children(base);
      return kids[static_cast<std::size_t>(n)].value;
    }
    Value v;
    v.type = element;
    v.where = base.where;
    v.where.address = static_cast<std::uint32_t>(static_cast<std::int64_t>(base.where.address) +
                                                 n * static_cast<std::int64_t>(element->size));
    return v;
  }
  const Value p = Rvalue(base, *baseExpr);
  if (p.type->kind != Kind::Pointer)
    Throw(baseExpr->token + " at column " + std::to_string(baseExpr->column) +
          " is not an array or pointer (" + p.type->Describe() + ")");
  return Deref(Arithmetic("+", p, i, e), e);
}

Value Evaluator::MemberOf(Value base, const Expr& e) {
  if (base.type->kind == Kind::Pointer && e.kind == Expr::Kind::Member)
    Throw(At(e) + ": the left side is a pointer (" + base.type->Describe() +
          "); write -> instead of .");
  if (base.type->kind != Kind::Struct)
    Throw(At(e) + ": the left side is not a structure but " + base.type->Describe());
  for (auto& child : model_.Children(base))
    if (child.name == e.text) return child.value;
  Throw(base.type->Describe() + " has no member " + At(e));
}

TypeRef Evaluator::Resolve(const TypeName& n, const Expr& at) {
  TypeRef t;
  if (n.base == "char") {
    t = CharType(n.explicitSign ? n.isSigned : false);  // sdcc's char is unsigned
  } else if (n.base == "int") {
    t = IntegerType(2, n.isSigned);
  } else if (n.base == "long") {
    t = IntegerType(4, n.isSigned);
  } else if (n.base == "long long") {
    t = IntegerType(8, n.isSigned);
  } else if (n.base == "float") {
    t = FloatType();
  } else if (n.base == "void") {
    t = VoidType();
  } else if (n.base == "__bit") {
    t = BitType();
  } else if (n.base == "struct") {
    const unsigned size = model_.program().SizeOfStruct(n.tag);
    if (size == 0 && model_.program().cdb().FindStruct(n.tag) == nullptr)
      Throw("no struct " + n.tag + " in the program (" + At(at) + ")");
    t = StructType(n.tag, size);
  } else {
    Throw("unknown type " + n.base + " at " + At(at));
  }
  for (PointerSpace s : n.pointers) t = PointerTo(t, s);
  return t;
}

Value Evaluator::Cast(const Expr& e) {
  const TypeRef to = Resolve(e.type, e);
  Value v = Rvalue(Eval(*e.kids[0]), *e.kids[0]);
  if (to->kind == Kind::Void) {
    Value out;
    out.type = to;
    out.loaded = true;
    return out;
  }
  if (!to->IsScalar())
    Throw("a cast " + At(e) + " goes to a number or pointer type, not " + to->Describe());
  return ConvertOrThrow(v, to, e);
}

Value Evaluator::ConvertOrThrow(const Value& value, const TypeRef& type, const Expr& at) {
  auto r = Convert(value, type);
  if (!r) Throw(r.error() + " (" + At(at) + ")");
  return *r;
}

Result<Value> Evaluator::Convert(const Value& v, const TypeRef& to) {
  const CType& from = *v.type;
  auto fail = [&]() {
    return Result<Value>::Fail("cannot convert " + from.Describe() + " to " + to->Describe());
  };
  switch (to->kind) {
    case Kind::Bit:
      if (!from.IsScalar()) return fail();
      return MakeInteger(to, Truth(v) ? 1 : 0);
    case Kind::Integer:
      if (from.kind == Kind::Float) {
        const double d = FloatValue(v);
        if (!std::isfinite(d) || std::fabs(d) >= 9.2e18)
          return Result<Value>::Fail("the float " + std::to_string(d) + " does not fit " +
                                     to->Describe());
        return MakeInteger(to, static_cast<std::int64_t>(d));
      }
      if (!from.IsInteger() && from.kind != Kind::Pointer) return fail();
      return MakeInteger(to, IntegerValue(v));
    case Kind::Float:
      if (!from.IsArithmetic()) return fail();
      return MakeFloat(static_cast<float>(FloatValue(v)));
    case Kind::Pointer: {
      if (from.kind == Kind::Pointer) {
        MemorySpace space;
        std::uint32_t address = 0;
        std::string why;
        if (RawBytes(v) == 0) {  // the null pointer stays null in every space
          Value out;
          out.type = to;
          out.bytes.assign(to->size, 0);
          out.loaded = true;
          return out;
        }
        if (!PointerTarget(v, space, address, why))
          return Result<Value>::Fail("the pointer: " + why);
        return MakePointer(to, space, address);
      }
      if (!from.IsInteger()) return fail();
      Value out = MakeInteger(IntegerType(to->size == 3 ? 4 : to->size, false), IntegerValue(v));
      out.type = to;
      out.bytes.resize(to->size);
      return out;
    }
    case Kind::Struct:
      if (from.kind != Kind::Struct || from.tag != to->tag) return fail();
      {
        Value out = v;
        out.where = Location{};
        return out;
      }
    default:
      return fail();
  }
}

Result<Value> DebugModel::AssignExactly(const Value& object, const Value& source) {
  const CType& to = *object.type;
  Value from = source;
  if (auto r = Load(from); !r) return Result<Value>::Fail(r.error());
  if (to.IsInteger() && from.type->IsArithmetic()) {
    const bool isFloat = from.type->kind == Kind::Float;
    const double wanted = FloatValue(from);
    const unsigned bits = to.bitWidth != 0 ? to.bitWidth : 8 * to.size;
    const bool isSigned = to.isSigned && to.kind != Kind::Bit;
    const double lo = isSigned ? -std::ldexp(1.0, static_cast<int>(bits) - 1) : 0;
    const double hi = std::ldexp(1.0, static_cast<int>(bits) - (isSigned ? 1 : 0)) - 1;
    const bool whole = !isFloat || wanted == std::trunc(wanted);
    if (!whole || wanted < lo || wanted > hi) {
      char range[96];
      std::snprintf(range, sizeof range, "%.0f..%.0f", lo, hi);
      std::string text = isFloat ? std::to_string(wanted) : std::to_string(IntegerValue(from));
      if (!isFloat && !from.type->isSigned && from.type->size == 8)
        text = std::to_string(static_cast<std::uint64_t>(IntegerValue(from)));
      return Result<Value>::Fail(text + " does not fit " + to.Describe() + " (" + range + ")");
    }
  }
  return Assign(object, from);
}

Result<Value> DebugModel::Assign(const Value& object, const Value& source) {
  Evaluator e(*this, selected_);
  auto converted = e.Convert(source, object.type);
  if (!converted) return converted;
  if (auto r = Store(object, converted->bytes); !r) return Result<Value>::Fail(r.error());
  Value back = object;
  back.loaded = false;
  back.bytes.clear();
  if (auto r = Load(back); !r) return Result<Value>::Fail(r.error());
  return back;
}

}  // namespace kz51::debug
