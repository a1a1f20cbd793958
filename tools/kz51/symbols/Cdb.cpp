#include "symbols/Cdb.h"

#include <cstdlib>
#include <sstream>

namespace kz51::cdb {

namespace {

using Kind = TypeElement::Kind;

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

unsigned ToUnsigned(const std::string& s, int base = 10) {
  return static_cast<unsigned>(std::strtoul(s.c_str(), nullptr, base));
}

// The nesting level and block of "...$1_0$4": sdcc writes level_sublevel
// and then the block number (older files: level_block and nothing after).
void LevelBlock(const std::vector<std::string>& parts, std::size_t at, unsigned& level,
                unsigned& block) {
  const std::string& s = parts[at];
  const auto us = s.find('_');
  level = ToUnsigned(s.substr(0, us));
  if (at + 1 < parts.size()) {
    block = ToUnsigned(parts[at + 1]);
  } else {
    block = us == std::string::npos ? 0 : ToUnsigned(s.substr(us + 1));
  }
}

// The scope token of a symbol name: "G", "Fmodule", "Lmodule.function"
// (older files: "Lfunction").
Scope ParseScope(const std::string& token) {
  Scope scope;
  if (token.empty() || token[0] == 'G') return scope;
  if (token[0] == 'F') {
    scope.kind = ScopeKind::File;
    scope.module = token.substr(1);
  } else if (token[0] == 'L') {
    scope.kind = ScopeKind::Local;
    const std::string rest = token.substr(1);
    const auto dot = rest.find('.');
    if (dot == std::string::npos) {
      scope.function = rest;
    } else {
      scope.module = rest.substr(0, dot);
      scope.function = rest.substr(dot + 1);
    }
  }
  return scope;
}

// Finds the ')' matching the '(' at `open`.
std::size_t Matching(const std::string& s, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < s.size(); ++i) {
    if (s[i] == '(') ++depth;
    if (s[i] == ')' && --depth == 0) return i;
  }
  return std::string::npos;
}

// "name$level_block$seq(" header of S, F and member records, before the type.
struct Header {
  Scope scope;
  std::string name;
};

bool ParseHeader(const std::string& key, Header& h) {
  const auto parts = Split(key, '$');
  if (parts.size() < 3) return false;
  h.scope = ParseScope(parts[0]);
  h.name = parts[1];
  LevelBlock(parts, 2, h.scope.level, h.scope.block);
  return !h.name.empty();
}

// Parses "key({size}type),space,onstack,stack[,...]" into its pieces.
bool ParseSymbolBody(const std::string& body, Header& h, Type& type,
                     std::vector<std::string>& fields) {
  const auto open = body.find('(');
  if (open == std::string::npos) return false;
  const auto close = Matching(body, open);
  if (close == std::string::npos) return false;
  if (!ParseHeader(body.substr(0, open), h)) return false;
  type = ParseType(body.substr(open + 1, close - open - 1));
  std::string rest = body.substr(close + 1);
  if (!rest.empty() && rest[0] == ',') rest.erase(0, 1);
  fields = Split(rest, ',');
  return true;
}

Space ToSpace(const std::string& s) {
  if (s.size() != 1) return Space::None;
  switch (s[0]) {
    case 'A':
    case 'B':
    case 'C':
    case 'D':
    case 'E':
    case 'F':
    case 'G':
    case 'H':
    case 'I':
    case 'J':
    case 'P':
    case 'R':
      return static_cast<Space>(s[0]);
    default:
      return Space::None;
  }
}

std::string Join(const std::vector<std::string>& parts, std::size_t from) {
  std::string out;
  for (std::size_t i = from; i < parts.size(); ++i) {
    if (i > from) out += ',';
    out += parts[i];
  }
  return out;
}

// "[r7,r6]" possibly split over several comma fields.
std::vector<std::string> Registers(const std::vector<std::string>& fields, std::size_t from) {
  std::string text = Join(fields, from);
  const auto open = text.find('[');
  const auto close = text.find(']');
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  std::vector<std::string> regs;
  for (auto& r : Split(text.substr(open + 1, close - open - 1), ','))
    if (!r.empty()) regs.push_back(r);
  return regs;
}

void ParseStruct(const std::string& body, File& file) {
  // Fmodule$tag[({offset}S:S$member$0_0$0({size}type),Z,0,0)...]
  const auto bracket = body.find('[');
  if (bracket == std::string::npos) return;
  StructType st;
  const auto parts = Split(body.substr(0, bracket), '$');
  if (parts.size() < 2) return;
  if (!parts[0].empty() && parts[0][0] == 'F') st.module = parts[0].substr(1);
  st.name = parts[1];
  std::size_t pos = bracket + 1;
  while (pos < body.size() && body[pos] == '(') {
    const auto close = Matching(body, pos);
    if (close == std::string::npos) break;
    const std::string member = body.substr(pos + 1, close - pos - 1);
    pos = close + 1;
    // {offset}S:S$name$...
    const auto rb = member.find('}');
    if (member.empty() || member[0] != '{' || rb == std::string::npos) continue;
    StructMember m;
    m.offset = ToUnsigned(member.substr(1, rb - 1));
    std::string rest = member.substr(rb + 1);
    if (rest.rfind("S:", 0) == 0) rest.erase(0, 2);
    Header h;
    std::vector<std::string> fields;
    if (!ParseSymbolBody(rest, h, m.type, fields)) continue;
    m.name = h.name;
    st.members.push_back(std::move(m));
  }
  file.structs.push_back(std::move(st));
}

bool IsPointerKind(Kind k) {
  return k == Kind::GenericPointer || k == Kind::CodePointer || k == Kind::XdataPointer ||
         k == Kind::DataPointer || k == Kind::IdataPointer || k == Kind::PdataPointer;
}

unsigned PointerSize(Kind k) {
  switch (k) {
    case Kind::GenericPointer:
      return 3;
    case Kind::CodePointer:
    case Kind::XdataPointer:
      return 2;
    default:
      return 1;
  }
}

unsigned BaseSize(const TypeElement& e) {
  switch (e.kind) {
    case Kind::Char:
    case Kind::Bit:
    case Kind::Sbit:
      return 1;
    case Kind::Short:
    case Kind::Int:
      return 2;
    case Kind::Long:
    case Kind::Float:
      return 4;
    case Kind::LongLong:
      return 8;
    default:
      return IsPointerKind(e.kind) ? PointerSize(e.kind) : 0;
  }
}

}  // namespace

Type ParseType(const std::string& text) {
  // {size}E1,E2,...:S|U
  Type t;
  std::string s = text;
  if (!s.empty() && s[0] == '{') {
    const auto rb = s.find('}');
    if (rb == std::string::npos) return t;
    t.size = ToUnsigned(s.substr(1, rb - 1));
    s.erase(0, rb + 1);
  }
  const auto colon = s.rfind(':');
  if (colon != std::string::npos) {
    t.isSigned = s.substr(colon + 1) == "S";
    s.erase(colon);
  }
  for (const auto& part : Split(s, ',')) {
    if (part.size() < 2) continue;
    TypeElement e;
    const std::string code = part.substr(0, 2);
    const std::string tail = part.substr(2);
    if (code == "DA") {
      e.kind = Kind::Array;
      e.count = ToUnsigned(tail);
    } else if (code == "DF") {
      e.kind = Kind::Function;
    } else if (code == "DG") {
      e.kind = Kind::GenericPointer;
    } else if (code == "DC") {
      e.kind = Kind::CodePointer;
    } else if (code == "DX") {
      e.kind = Kind::XdataPointer;
    } else if (code == "DD") {
      e.kind = Kind::DataPointer;
    } else if (code == "DI") {
      e.kind = Kind::IdataPointer;
    } else if (code == "DP") {
      e.kind = Kind::PdataPointer;
    } else if (code == "SC") {
      e.kind = Kind::Char;
    } else if (code == "SS") {
      e.kind = Kind::Short;
    } else if (code == "SI") {
      e.kind = Kind::Int;
    } else if (part == "SLL" || code == "SW") {
      e.kind = Kind::LongLong;
    } else if (code == "SL") {
      e.kind = Kind::Long;
    } else if (code == "SF") {
      e.kind = Kind::Float;
    } else if (code == "SV") {
      e.kind = Kind::Void;
    } else if (code == "SX") {
      e.kind = Kind::Sbit;
    } else if (code == "ST") {
      e.kind = Kind::Struct;
      e.name = tail;
    } else if (code == "SB") {
      // SB<first bit>$<width>; a plain bit variable has no tail.
      if (tail.empty()) {
        e.kind = Kind::Bit;
      } else {
        e.kind = Kind::Bitfield;
        const auto d = tail.find('$');
        e.count = ToUnsigned(tail.substr(0, d));
        e.width = d == std::string::npos ? 1 : ToUnsigned(tail.substr(d + 1));
      }
    } else {
      e.kind = Kind::Unknown;
      e.name = part;
    }
    t.chain.push_back(std::move(e));
  }
  return t;
}

bool Type::IsInteger() const {
  if (chain.size() != 1) return false;
  switch (chain[0].kind) {
    case Kind::Char:
    case Kind::Short:
    case Kind::Int:
    case Kind::Long:
    case Kind::LongLong:
    case Kind::Bit:
    case Kind::Sbit:
    case Kind::Bitfield:
      return true;
    default:
      return false;
  }
}

bool Type::IsPointer() const {
  return !chain.empty() && IsPointerKind(chain[0].kind);
}
bool Type::IsArray() const {
  return !chain.empty() && chain[0].kind == Kind::Array;
}
bool Type::IsStruct() const {
  return chain.size() == 1 && chain[0].kind == Kind::Struct;
}
bool Type::IsFunction() const {
  return !chain.empty() && chain[0].kind == Kind::Function;
}

Type Type::Element() const {
  Type e;
  e.isSigned = isSigned;
  if (chain.size() <= 1) return e;
  e.chain.assign(chain.begin() + 1, chain.end());
  if (chain[0].kind == Kind::Array && chain[0].count != 0) {
    e.size = size / chain[0].count;
  } else {
    const TypeElement& first = e.chain[0];
    e.size = first.kind == Kind::Array ? 0 : BaseSize(first);
  }
  return e;
}

std::string Type::Describe() const {
  if (chain.empty()) return "?";
  std::string base;
  const TypeElement& b = chain.back();
  const std::string sign = isSigned ? "" : "unsigned ";
  switch (b.kind) {
    case Kind::Char:
      base = sign + "char";
      break;
    case Kind::Short:
      base = sign + "short";
      break;
    case Kind::Int:
      base = sign + "int";
      break;
    case Kind::Long:
      base = sign + "long";
      break;
    case Kind::LongLong:
      base = sign + "long long";
      break;
    case Kind::Float:
      base = "float";
      break;
    case Kind::Void:
      base = "void";
      break;
    case Kind::Bit:
      base = "__bit";
      break;
    case Kind::Sbit:
      base = "__sbit";
      break;
    case Kind::Bitfield:
      base = sign + "int :" + std::to_string(b.width);
      break;
    case Kind::Struct:
      base = "struct " + b.name;
      break;
    default:
      base = b.name.empty() ? "?" : b.name;
      break;
  }
  std::string prefix, suffix;
  for (std::size_t i = chain.size() - 1; i-- > 0;) {
    switch (chain[i].kind) {
      case Kind::Array:
        suffix = "[" + std::to_string(chain[i].count) + "]" + suffix;
        break;
      case Kind::Function:
        suffix = "()" + suffix;
        break;
      case Kind::CodePointer:
        prefix += " __code *";
        break;
      case Kind::XdataPointer:
        prefix += " __xdata *";
        break;
      case Kind::DataPointer:
        prefix += " __data *";
        break;
      case Kind::IdataPointer:
        prefix += " __idata *";
        break;
      case Kind::PdataPointer:
        prefix += " __pdata *";
        break;
      default:
        prefix += " *";
        break;
    }
  }
  if (!suffix.empty() && !prefix.empty()) return base + " (" + prefix.substr(1) + ")" + suffix;
  return base + prefix + (suffix.empty() ? "" : " " + suffix);
}

const StructType* File::FindStruct(const std::string& name) const {
  for (const auto& s : structs)
    if (s.name == name) return &s;
  return nullptr;
}

File Parse(const std::string& text, int* skipped) {
  File file;
  int bad = 0;
  std::string currentModule;
  // Linker address records keyed by the symbol text before the address.
  struct LinkerRecord {
    std::string key;
    std::uint32_t address;
  };
  std::vector<LinkerRecord> linkerRecords;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.size() < 3 || line[1] != ':') {
      if (!line.empty()) ++bad;
      continue;
    }
    const char tag = line[0];
    const std::string body = line.substr(2);
    if (tag == 'M') {
      currentModule = body;
      file.modules.push_back(body);
    } else if (tag == 'F') {
      Header h;
      Function f;
      std::vector<std::string> fields;
      if (!ParseSymbolBody(body, h, f.type, fields)) {
        ++bad;
        continue;
      }
      f.name = h.name;
      f.isStatic = h.scope.kind == ScopeKind::File;
      f.module = f.isStatic ? h.scope.module : currentModule;
      if (!fields.empty()) f.space = ToSpace(fields[0]);
      if (fields.size() >= 6) {
        f.isInterrupt = fields[3] == "1";
        f.interruptNumber = static_cast<int>(ToUnsigned(fields[4]));
        f.registerBank = static_cast<int>(ToUnsigned(fields[5]));
      }
      // A module that only calls a function declares it again: keep one.
      bool seen = false;
      for (auto& g : file.functions) {
        if (g.name == f.name && g.isStatic == f.isStatic && (!f.isStatic || g.module == f.module)) {
          seen = true;
          if (g.space == Space::None) g = f;
        }
      }
      if (!seen) file.functions.push_back(std::move(f));
    } else if (tag == 'S') {
      Header h;
      Variable v;
      std::vector<std::string> fields;
      if (!ParseSymbolBody(body, h, v.type, fields)) {
        ++bad;
        continue;
      }
      if (v.type.IsFunction()) continue;  // functions come from the F records
      v.name = h.name;
      v.scope = h.scope;
      if (v.scope.kind == ScopeKind::Local && v.scope.module.empty())
        v.scope.module = currentModule;
      if (fields.size() >= 3) {
        v.space = ToSpace(fields[0]);
        v.onStack = fields[1] == "1";
        v.stackOffset = std::atoi(fields[2].c_str());
      }
      if (v.space == Space::Register) v.registers = Registers(fields, 3);
      file.variables.push_back(std::move(v));
    } else if (tag == 'T') {
      ParseStruct(body, file);
    } else if (tag == 'L') {
      const auto colon = body.rfind(':');
      if (colon == std::string::npos) {
        ++bad;
        continue;
      }
      const std::string key = body.substr(0, colon);
      const std::uint32_t address = ToUnsigned(body.substr(colon + 1), 16);
      const auto parts = Split(key, '$');
      if (key.rfind("C$", 0) == 0 && parts.size() >= 4) {
        LineRecord r;
        r.file = parts[1];
        r.line = ToUnsigned(parts[2]);
        LevelBlock(parts, 3, r.level, r.block);
        r.address = address;
        file.lines.push_back(std::move(r));
      } else if (key.rfind("A$", 0) == 0 && parts.size() >= 3) {
        file.asmLines.push_back({parts[1], ToUnsigned(parts[2]), address});
      } else {
        linkerRecords.push_back({key, address});
      }
    } else {
      ++bad;
    }
  }
  // Linker address records: function starts and ends, variable addresses.
  for (const auto& rec : linkerRecords) {
    std::string key = rec.key;
    const bool isEnd = key.size() > 1 && key[0] == 'X';
    if (isEnd) key.erase(0, 1);
    const auto parts = Split(key, '$');
    if (parts.size() < 2) continue;
    const Scope scope = ParseScope(parts[0]);
    const std::string& name = parts[1];
    bool matched = false;
    if (scope.kind != ScopeKind::Local) {
      for (auto& f : file.functions) {
        const bool sameScope = (scope.kind == ScopeKind::File) == f.isStatic &&
                               (scope.kind != ScopeKind::File || scope.module == f.module);
        if (f.name == name && sameScope) {
          (isEnd ? f.end : f.start) = rec.address;
          matched = true;
        }
      }
    }
    if (matched || isEnd) continue;
    unsigned level = 0, block = 0;
    if (parts.size() >= 3) LevelBlock(parts, 2, level, block);
    for (auto& v : file.variables) {
      if (v.name != name || v.scope.kind != scope.kind || v.address) continue;
      if (scope.kind == ScopeKind::File && v.scope.module != scope.module) continue;
      if (scope.kind == ScopeKind::Local &&
          (v.scope.function != scope.function || v.scope.level != level || v.scope.block != block ||
           (!scope.module.empty() && v.scope.module != scope.module)))
        continue;
      v.address = rec.address;
      matched = true;
      break;
    }
    if (!matched) {
      // sdcc writes no S record for some locals (parameters and locals kept
      // in the overlay segment); the linker still gives their address.
      Variable v;
      v.name = name;
      v.scope = scope;
      v.scope.level = level;
      v.scope.block = block;
      v.address = rec.address;
      v.fromLinkerOnly = true;
      file.variables.push_back(std::move(v));
    }
  }
  if (skipped != nullptr) *skipped = bad;
  return file;
}

}  // namespace kz51::cdb
