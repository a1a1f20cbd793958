#include "debug/Expression.h"

#include <cctype>
#include <cstdlib>
#include <set>

namespace kz51::debug {

namespace {

struct Token {
  enum class Kind : std::uint8_t { End, Ident, Register, Integer, Floating, Punct };
  Kind kind = Kind::End;
  std::string text;
  std::size_t column = 0;
  std::uint64_t integer = 0;
  TypeRef type;
  double floating = 0;
};

struct Failure {
  std::string message;
};

[[noreturn]] void Fail(const std::string& message) {
  throw Failure{message};
}

std::string At(const Token& t) {
  return " at column " + std::to_string(t.column);
}

std::string Quoted(const Token& t) {
  return t.kind == Token::Kind::End ? std::string("the end") : "'" + t.text + "'";
}

const char* const kPuncts[] = {"<<=", ">>=", "->", "++", "--", "<<", ">>", "<=", ">=", "==", "!=",
                               "&&",  "||",  "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "+",
                               "-",   "*",   "/",  "%",  "&",  "|",  "^",  "~",  "!",  "<",  ">",
                               "=",   "?",   ":",  "(",  ")",  "[",  "]",  ".",  ","};

// The type of an integer constant: the first of C's list that holds it.
TypeRef IntegerLiteralType(std::uint64_t v, bool decimal, bool isUnsigned, int longs) {
  struct Candidate {
    unsigned size;
    bool isSigned;
  };
  std::vector<Candidate> list;
  const int from = longs;  // 0: int, 1: long, 2: long long
  for (int rank = from; rank <= 2; ++rank) {
    const unsigned size = rank == 0 ? 2 : rank == 1 ? 4 : 8;
    if (!isUnsigned) list.push_back({size, true});
    if (isUnsigned || !decimal) list.push_back({size, false});
  }
  for (const auto& c : list) {
    const std::uint64_t max = c.size == 8
                                  ? (c.isSigned ? 0x7FFFFFFFFFFFFFFFull : ~0ull)
                                  : (std::uint64_t{1} << (8 * c.size - (c.isSigned ? 1 : 0))) - 1;
    if (v <= max) return IntegerType(c.size, c.isSigned);
  }
  return IntegerType(8, false);
}

class Lexer {
 public:
  explicit Lexer(const std::string& text) : s_(text) {}

  std::vector<Token> All() {
    std::vector<Token> out;
    for (;;) {
      Token t = Next();
      out.push_back(t);
      if (t.kind == Token::Kind::End) return out;
    }
  }

 private:
  Token Next() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    Token t;
    t.column = i_ + 1;
    if (i_ >= s_.size()) return t;
    const char c = s_[i_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$') {
      const std::size_t from = i_++;
      while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_'))
        ++i_;
      t.text = s_.substr(from, i_ - from);
      if (c == '$') {
        if (t.text.size() == 1) Fail("'$' must be followed by a register name" + At(t));
        t.kind = Token::Kind::Register;
      } else {
        t.kind = Token::Kind::Ident;
      }
      return t;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && i_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_ + 1]))))
      return Number(t);
    if (c == '\'') return Character(t);
    for (const char* p : kPuncts) {
      const std::string punct = p;
      if (s_.compare(i_, punct.size(), punct) == 0) {
        t.kind = Token::Kind::Punct;
        t.text = punct;
        i_ += punct.size();
        return t;
      }
    }
    t.text = std::string(1, c);
    t.kind = Token::Kind::Punct;
    Fail("unexpected character " + Quoted(t) + At(t));
  }

  Token Number(Token t) {
    const std::size_t from = i_;
    while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.' ||
                              ((s_[i_] == '+' || s_[i_] == '-') && i_ > from &&
                               (s_[i_ - 1] == 'e' || s_[i_ - 1] == 'E') &&
                               !(s_[from] == '0' && from + 1 < s_.size() &&
                                 (s_[from + 1] == 'x' || s_[from + 1] == 'X')))))
      ++i_;
    t.text = s_.substr(from, i_ - from);
    std::string body = t.text;
    const bool hex = body.size() > 1 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X');
    const bool isFloat = !hex && body.find_first_of(".eE") != std::string::npos;
    if (isFloat) {
      if (!body.empty() && (body.back() == 'f' || body.back() == 'F')) body.pop_back();
      char* end = nullptr;
      t.floating = std::strtod(body.c_str(), &end);
      if (end == nullptr || *end != '\0') Fail("malformed number " + Quoted(t) + At(t));
      t.kind = Token::Kind::Floating;
      return t;
    }
    bool isUnsigned = false;
    int longs = 0;
    while (!body.empty()) {
      const char b = static_cast<char>(std::tolower(static_cast<unsigned char>(body.back())));
      if (b == 'u' && !isUnsigned) {
        isUnsigned = true;
      } else if (b == 'l' && longs < 2) {
        ++longs;
      } else {
        break;
      }
      body.pop_back();
    }
    int base = 10;
    std::string digits = body;
    if (hex) {
      base = 16;
      digits = body.substr(2);
    } else if (body.size() > 1 && body[0] == '0' && (body[1] == 'b' || body[1] == 'B')) {
      base = 2;
      digits = body.substr(2);
    } else if (body.size() > 1 && body[0] == '0') {
      base = 8;
      digits = body.substr(1);
    }
    if (digits.empty()) Fail("malformed number " + Quoted(t) + At(t));
    std::uint64_t v = 0;
    for (char d : digits) {
      int k = -1;
      if (std::isdigit(static_cast<unsigned char>(d))) k = d - '0';
      if (d >= 'a' && d <= 'f') k = d - 'a' + 10;
      if (d >= 'A' && d <= 'F') k = d - 'A' + 10;
      if (k < 0 || k >= base) Fail("malformed number " + Quoted(t) + At(t));
      if (v > (~0ull - static_cast<unsigned>(k)) / static_cast<unsigned>(base))
        Fail("the number " + Quoted(t) + At(t) + " is too large");
      v = v * static_cast<unsigned>(base) + static_cast<unsigned>(k);
    }
    t.kind = Token::Kind::Integer;
    t.integer = v;
    t.type = IntegerLiteralType(v, base == 10, isUnsigned, longs);
    return t;
  }

  Token Character(Token t) {
    const std::size_t from = i_++;
    std::uint64_t v = 0;
    if (i_ >= s_.size()) Fail("unterminated character constant" + At(t));
    if (s_[i_] == '\\') {
      ++i_;
      if (i_ >= s_.size()) Fail("unterminated character constant" + At(t));
      const char e = s_[i_++];
      switch (e) {
        case 'n':
          v = '\n';
          break;
        case 't':
          v = '\t';
          break;
        case 'r':
          v = '\r';
          break;
        case 'a':
          v = '\a';
          break;
        case 'b':
          v = '\b';
          break;
        case 'f':
          v = '\f';
          break;
        case 'v':
          v = '\v';
          break;
        case 'x': {
          int n = 0;
          while (i_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[i_])) && n < 2) {
            v = v * 16 + static_cast<unsigned>(std::stoi(std::string(1, s_[i_]), nullptr, 16));
            ++i_;
            ++n;
          }
          if (n == 0) Fail("'\\x' needs hex digits" + At(t));
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            v = static_cast<unsigned>(e - '0');
            for (int n = 1; n < 3 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++n)
              v = v * 8 + static_cast<unsigned>(s_[i_++] - '0');
          } else {
            v = static_cast<unsigned char>(e);  // \\ \' \" \?
          }
      }
    } else {
      v = static_cast<unsigned char>(s_[i_++]);
    }
    if (i_ >= s_.size() || s_[i_] != '\'') Fail("unterminated character constant" + At(t));
    ++i_;
    t.text = s_.substr(from, i_ - from);
    t.kind = Token::Kind::Integer;
    t.integer = v & 0xFF;
    t.type = IntType();
    return t;
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

const std::set<std::string>& TypeWords() {
  static const std::set<std::string> words = {
      "void",     "char",   "short",   "int",     "long",     "float", "double", "signed",
      "unsigned", "struct", "union",   "const",   "volatile", "__bit", "_Bool",  "__code",
      "__xdata",  "__data", "__idata", "__pdata", "__near",   "__far"};
  return words;
}

bool IsSpaceWord(const std::string& w, PointerSpace& space) {
  if (w == "__code") {
    space = PointerSpace::Code;
  } else if (w == "__xdata" || w == "__far") {
    space = PointerSpace::Xdata;
  } else if (w == "__data" || w == "__near") {
    space = PointerSpace::Data;
  } else if (w == "__idata") {
    space = PointerSpace::Idata;
  } else if (w == "__pdata") {
    space = PointerSpace::Pdata;
  } else {
    return false;
  }
  return true;
}

int Precedence(const std::string& op) {
  if (op == "||") return 1;
  if (op == "&&") return 2;
  if (op == "|") return 3;
  if (op == "^") return 4;
  if (op == "&") return 5;
  if (op == "==" || op == "!=") return 6;
  if (op == "<" || op == "<=" || op == ">" || op == ">=") return 7;
  if (op == "<<" || op == ">>") return 8;
  if (op == "+" || op == "-") return 9;
  if (op == "*" || op == "/" || op == "%") return 10;
  return 0;
}

bool IsAssignment(const std::string& op) {
  return op == "=" || op == "+=" || op == "-=" || op == "*=" || op == "/=" || op == "%=" ||
         op == "&=" || op == "|=" || op == "^=" || op == "<<=" || op == ">>=";
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  std::unique_ptr<Expr> Whole() {
    if (Peek().kind == Token::Kind::End) Fail("an expression is missing");
    auto e = Assignment();
    if (Peek().kind != Token::Kind::End) Fail("unexpected " + Quoted(Peek()) + At(Peek()));
    return e;
  }

 private:
  const Token& Peek(std::size_t ahead = 0) const { return t_[std::min(i_ + ahead, t_.size() - 1)]; }
  Token Take() {
    Token t = Peek();
    if (i_ < t_.size() - 1) ++i_;
    return t;
  }
  bool IsPunct(const std::string& p, std::size_t ahead = 0) const {
    return Peek(ahead).kind == Token::Kind::Punct && Peek(ahead).text == p;
  }
  void Expect(const std::string& p, const Token& opener) {
    if (!IsPunct(p)) {
      Fail("expected '" + p + "' for the " + Quoted(opener) + At(opener) + ", found " +
           Quoted(Peek()) + (Peek().kind == Token::Kind::End ? "" : At(Peek())));
    }
    Take();
  }
  // Sets the text span of `e`: from token `first` to the last one taken.
  std::unique_ptr<Expr> Span(std::unique_ptr<Expr> e, std::size_t first) const {
    const Token& a = t_[first];
    const Token& b = t_[i_ == 0 ? 0 : i_ - 1];
    e->begin = a.column - 1;
    e->end = std::max(e->begin, b.column - 1 + b.text.size());
    return e;
  }
  static std::unique_ptr<Expr> Node(Expr::Kind kind, const Token& t) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->column = t.column;
    e->token = t.text;
    e->text = t.text;
    return e;
  }
  std::unique_ptr<Expr> Operand(const Token& after) {
    if (Peek().kind == Token::Kind::End)
      Fail("an operand is missing after " + Quoted(after) + At(after));
    return Unary();
  }

  std::unique_ptr<Expr> Assignment() {
    const std::size_t first = i_;
    auto lhs = Conditional();
    if (Peek().kind == Token::Kind::Punct && IsAssignment(Peek().text)) {
      const Token op = Take();
      auto e = Node(Expr::Kind::Assign, op);
      if (Peek().kind == Token::Kind::End)
        Fail("an operand is missing after " + Quoted(op) + At(op));
      e->kids.push_back(std::move(lhs));
      e->kids.push_back(Assignment());
      return Span(std::move(e), first);
    }
    return lhs;
  }

  std::unique_ptr<Expr> Conditional() {
    const std::size_t first = i_;
    auto cond = Binary(1);
    if (!IsPunct("?")) return cond;
    const Token q = Take();
    auto e = Node(Expr::Kind::Conditional, q);
    if (Peek().kind == Token::Kind::End) Fail("an operand is missing after '?'" + At(q));
    e->kids.push_back(std::move(cond));
    e->kids.push_back(Assignment());
    Expect(":", q);
    if (Peek().kind == Token::Kind::End) Fail("an operand is missing after ':'");
    e->kids.push_back(Conditional());
    return Span(std::move(e), first);
  }

  std::unique_ptr<Expr> Binary(int least) {
    const std::size_t first = i_;
    auto lhs = Unary();
    for (;;) {
      const Token& op = Peek();
      const int prec = op.kind == Token::Kind::Punct ? Precedence(op.text) : 0;
      if (prec == 0 || prec < least) return lhs;
      const Token taken = Take();
      if (Peek().kind == Token::Kind::End)
        Fail("an operand is missing after " + Quoted(taken) + At(taken));
      auto e = Node(Expr::Kind::Binary, taken);
      e->kids.push_back(std::move(lhs));
      e->kids.push_back(Binary(prec + 1));
      lhs = Span(std::move(e), first);
    }
  }

  bool StartsType(std::size_t ahead) const {
    const Token& t = Peek(ahead);
    return t.kind == Token::Kind::Ident && TypeWords().count(t.text) != 0;
  }

  TypeName ParseTypeName() {
    TypeName n;
    int longs = 0;
    bool any = false;
    PointerSpace pending = PointerSpace::Generic;
    while (Peek().kind == Token::Kind::Ident && TypeWords().count(Peek().text) != 0) {
      const Token w = Take();
      any = true;
      PointerSpace space;
      if (w.text == "const" || w.text == "volatile") continue;
      if (IsSpaceWord(w.text, space)) {
        pending = space;
        continue;
      }
      if (w.text == "signed" || w.text == "unsigned") {
        n.isSigned = w.text == "signed";
        n.explicitSign = true;
      } else if (w.text == "long") {
        ++longs;
      } else if (w.text == "short") {
        n.base = n.base.empty() ? "int" : n.base;
      } else if (w.text == "struct" || w.text == "union") {
        if (Peek().kind != Token::Kind::Ident)
          Fail("a structure tag must follow " + Quoted(w) + At(w));
        n.base = "struct";
        n.tag = Take().text;
      } else if (w.text == "double") {
        n.base = "float";  // sdcc's double is its float
      } else if (w.text == "_Bool") {
        n.base = "__bit";
      } else if (n.base.empty() || n.base == "int") {
        n.base = w.text;
      }
    }
    if (!any) Fail("a type is missing" + At(Peek()));
    if (longs == 1) n.base = n.base == "float" ? "float" : "long";
    if (longs >= 2) n.base = "long long";
    if (n.base.empty()) n.base = "int";
    while (IsPunct("*") ||
           (Peek().kind == Token::Kind::Ident && TypeWords().count(Peek().text) != 0)) {
      const Token w = Take();
      PointerSpace space;
      if (w.text == "*") {
        n.pointers.push_back(pending);
        pending = PointerSpace::Generic;
      } else if (IsSpaceWord(w.text, space)) {
        pending = space;
      } else if (w.text != "const" && w.text != "volatile") {
        Fail("unexpected " + Quoted(w) + At(w) + " in a type");
      }
    }
    return n;
  }

  std::unique_ptr<Expr> Unary() {
    const std::size_t first = i_;
    auto e = UnaryInner();
    return Span(std::move(e), first);
  }

  std::unique_ptr<Expr> UnaryInner() {
    const Token& t = Peek();
    if (t.kind == Token::Kind::Punct) {
      if (t.text == "-" || t.text == "+" || t.text == "!" || t.text == "~" || t.text == "*" ||
          t.text == "&") {
        const Token op = Take();
        auto e = Node(Expr::Kind::Unary, op);
        e->kids.push_back(Operand(op));
        return e;
      }
      if (t.text == "++" || t.text == "--")
        Fail(Quoted(t) + At(t) + " is not supported: write x = x + 1");
      if (t.text == "(" && StartsType(1)) {
        const Token open = Take();
        auto e = Node(Expr::Kind::Cast, open);
        e->type = ParseTypeName();
        Expect(")", open);
        e->kids.push_back(Operand(open));
        return e;
      }
    }
    if (t.kind == Token::Kind::Ident && t.text == "sizeof") {
      const Token op = Take();
      if (IsPunct("(") && StartsType(1)) {
        const Token open = Take();
        auto e = Node(Expr::Kind::SizeofType, op);
        e->type = ParseTypeName();
        Expect(")", open);
        return e;
      }
      auto e = Node(Expr::Kind::SizeofExpr, op);
      e->kids.push_back(Operand(op));
      return e;
    }
    return Postfix();
  }

  std::unique_ptr<Expr> Postfix() {
    const std::size_t first = i_;
    auto e = Span(Primary(), first);
    for (;;) {
      if (IsPunct("[")) {
        const Token open = Take();
        auto n = Node(Expr::Kind::Index, open);
        if (Peek().kind == Token::Kind::End) Fail("an index is missing after '['" + At(open));
        n->kids.push_back(std::move(e));
        n->kids.push_back(Assignment());
        Expect("]", open);
        e = Span(std::move(n), first);
      } else if (IsPunct(".") || IsPunct("->")) {
        const Token op = Take();
        if (Peek().kind != Token::Kind::Ident)
          Fail("a member name must follow " + Quoted(op) + At(op));
        auto n = Node(op.text == "." ? Expr::Kind::Member : Expr::Kind::Arrow, op);
        const Token name = Take();
        n->text = name.text;
        n->token = name.text;
        n->column = name.column;
        n->opColumn = op.column;
        n->kids.push_back(std::move(e));
        e = Span(std::move(n), first);
      } else if (IsPunct("(")) {
        Fail("function calls are not supported" + At(Peek()));
      } else if (IsPunct("++") || IsPunct("--")) {
        Fail(Quoted(Peek()) + At(Peek()) + " is not supported: write x = x + 1");
      } else {
        return e;
      }
    }
  }

  std::unique_ptr<Expr> Primary() {
    const Token t = Take();
    switch (t.kind) {
      case Token::Kind::Integer: {
        auto e = Node(Expr::Kind::Integer, t);
        e->integer = t.integer;
        e->literalType = t.type;
        return e;
      }
      case Token::Kind::Floating: {
        auto e = Node(Expr::Kind::Floating, t);
        e->floating = t.floating;
        return e;
      }
      case Token::Kind::Ident:
        if (TypeWords().count(t.text) != 0)
          Fail("unexpected type word " + Quoted(t) + At(t) + " (a cast is written (type)value)");
        return Node(Expr::Kind::Name, t);
      case Token::Kind::Register: {
        auto e = Node(Expr::Kind::Register, t);
        e->text = t.text.substr(1);
        return e;
      }
      case Token::Kind::Punct:
        if (t.text == "(") {
          if (Peek().kind == Token::Kind::End) Fail("an expression is missing after '('" + At(t));
          auto e = Assignment();
          Expect(")", t);
          return e;
        }
        Fail("unexpected " + Quoted(t) + At(t));
      case Token::Kind::End:
        Fail("an operand is missing at the end");
    }
    Fail("unexpected " + Quoted(t) + At(t));
  }

  std::vector<Token> t_;
  std::size_t i_ = 0;
};

}  // namespace

ParseResult ParseExpression(const std::string& text) {
  ParseResult r;
  try {
    Parser p(Lexer(text).All());
    r.expr = p.Whole();
  } catch (const Failure& f) {
    r.error = f.message;
  }
  return r;
}

}  // namespace kz51::debug
