#pragma once
// Evaluation of C expressions (Expression.h) in a frame of the model, with
// C's conversions on SDCC's sizes: integer promotion to int (16 bits), the
// usual arithmetic conversions, pointer arithmetic scaled by the pointed-to
// size, generic pointers dereferenced by their space tag. An operand whose
// value cannot be known makes the result unavailable (with its reason);
// writes go only to objects whose location holds here.
#include <cstdint>
#include <string>

#include "debug/DebugModel.h"
#include "debug/Expression.h"

namespace kz51::debug {

class Evaluator {
 public:
  Evaluator(DebugModel& model, int level) : model_(model), level_(level) {}
  Result<Value> Evaluate(const std::string& text);
  // The value converted to `type` (an assignment's conversion); fails with a
  // sentence when C does not convert between them.
  Result<Value> Convert(const Value& value, const TypeRef& type);

 private:
  Value Eval(const Expr& e);
  Value Rvalue(Value v, const Expr& at);
  Value Name(const Expr& e);
  Value Unary(const Expr& e);
  Value Binary(const Expr& e);
  Value Arithmetic(const std::string& op, Value a, Value b, const Expr& at);
  Value Assign(const Expr& e);
  Value Index(const Expr& e);
  Value MemberOf(Value base, const Expr& e);
  Value Cast(const Expr& e);
  Value Deref(const Value& pointer, const Expr& at);
  Value AddressOf(const Value& object, const Expr& at);
  Value ConvertOrThrow(const Value& value, const TypeRef& type, const Expr& at);
  TypeRef Resolve(const TypeName& name, const Expr& at);

  std::string Source(const Expr& e) const { return text_.substr(e.begin, e.end - e.begin); }

  DebugModel& model_;
  int level_;
  std::string text_;
};

// The integer a loaded integer, bit or pointer value holds (bitfields
// extracted, signed types sign-extended; pointers as their raw bytes).
std::int64_t IntegerValue(const Value& v);
// A loaded arithmetic value as a double.
double FloatValue(const Value& v);
// Where a loaded pointer points: false with `why` for a generic pointer
// whose space tag is none of SDCC's.
bool PointerTarget(const Value& v, MemorySpace& space, std::uint32_t& address, std::string& why);
// C's truth of a loaded scalar value (not zero, not a null pointer).
bool IsTrue(const Value& v);
// A computed value of an arithmetic type.
Value MakeInteger(const TypeRef& type, std::int64_t v);
Value MakeFloat(float f);

}  // namespace kz51::debug
