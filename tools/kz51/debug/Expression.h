#pragma once
// C expressions as the debugger reads them: integer, floating and character
// literals, names, $registers, [] . -> , unary * & - + ! ~, the binary
// arithmetic, shift, comparison, bitwise and logical operators, ?:, casts to
// the basic types and pointers to them, sizeof, and assignment (= and the
// compound forms). Errors name the offending token and its column.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "debug/CType.h"

namespace kz51::debug {

// A type as written in a cast or sizeof: "unsigned char", "struct point *",
// "__xdata int *".
struct TypeName {
  std::string base;  // "char", "int", "long", "long long", "float", "void", "__bit", "struct"
  bool isSigned = true;
  bool explicitSign = false;
  std::string tag;                     // struct
  std::vector<PointerSpace> pointers;  // outermost last
};

struct Expr {
  enum class Kind : std::uint8_t {
    Integer,      // `integer` of `literalType`
    Floating,     // `floating`
    Name,         // `text`
    Register,     // `text` without the $
    Unary,        // `text` is the operator: - + ! ~ * &
    Binary,       // `text` is the operator
    Assign,       // `text` is "=" or "+=", ...
    Conditional,  // kids: condition, then, else
    Index,        // kids: base, index
    Member,       // kids: base; `text` the member
    Arrow,        // kids: pointer; `text` the member
    Cast,         // `type`; kids: operand
    SizeofType,   // `type`
    SizeofExpr,   // kids: operand
  };
  Kind kind = Kind::Integer;
  std::string text;
  std::uint64_t integer = 0;
  TypeRef literalType;
  double floating = 0;
  TypeName type;
  std::vector<std::unique_ptr<Expr>> kids;
  std::size_t column = 0;          // 1-based column of the node's token
  std::string token;               // the token as written
  std::size_t opColumn = 0;        // Member, Arrow: the column of . or ->
  std::size_t begin = 0, end = 0;  // the node's text: [begin, end) of the expression
};

// Parses a whole expression; fails with a sentence naming the token.
struct ParseResult {
  std::unique_ptr<Expr> expr;
  std::string error;
};
ParseResult ParseExpression(const std::string& text);

}  // namespace kz51::debug
