#include "dap/Values.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace kzhost::dap {

using kz51::MemorySpace;
using kz51::cdb::Space;
using kz51::cdb::Type;
using Kind = kz51::cdb::TypeElement::Kind;

namespace {

std::int64_t LittleEndian(const std::vector<std::uint8_t>& b, unsigned size, bool isSigned) {
  std::uint64_t v = 0;
  for (unsigned i = size; i-- > 0;) v = (v << 8) | (i < b.size() ? b[i] : 0u);
  const bool negative = size > 0 && size < 8 && size <= b.size() && (b[size - 1] & 0x80) != 0;
  if (isSigned && negative) v |= ~std::uint64_t{0} << (size * 8);
  return static_cast<std::int64_t>(v);
}

bool IsFloat(const Type& t) {
  return t.chain.size() == 1 && t.chain[0].kind == Kind::Float;
}

std::string Hex(std::uint64_t v) {
  char s[24];
  std::snprintf(s, sizeof s, "0x%04llX", static_cast<unsigned long long>(v));
  return s;
}

constexpr std::size_t kSummaryItems = 8;

// A pointer as the address it holds, with its space: "xdata:0x0010". SDCC's
// generic pointers carry the space in their third byte.
std::string FormatPointer(const Type& t, const std::vector<std::uint8_t>& b) {
  const std::uint64_t raw = static_cast<std::uint64_t>(LittleEndian(b, t.size, false));
  const char* space = nullptr;
  switch (t.chain[0].kind) {
    case Kind::CodePointer:
      space = "code";
      break;
    case Kind::XdataPointer:
      space = "xdata";
      break;
    case Kind::DataPointer:
      space = "data";
      break;
    case Kind::IdataPointer:
      space = "idata";
      break;
    case Kind::PdataPointer:
      space = "pdata";
      break;
    case Kind::GenericPointer:
      if (t.size == 3) {
        const unsigned tag = static_cast<unsigned>(raw >> 16);
        space = tag == 0x00   ? "xdata"
                : tag == 0x40 ? "data"
                : tag == 0x60 ? "pdata"
                : tag == 0x80 ? "code"
                              : nullptr;
        if (space != nullptr) return std::string(space) + ":" + Hex(raw & 0xFFFF);
      }
      break;
    default:
      break;
  }
  return space != nullptr ? std::string(space) + ":" + Hex(raw) : Hex(raw);
}

}  // namespace

bool Locate(const kz51::cdb::Variable& v, Place& place, std::string& error) {
  if (v.fromLinkerOnly || v.type.Empty()) {
    error = "sdcc wrote no type for '" + v.name + "'";
    return false;
  }
  if (v.space == Space::Register) {
    place.inRegisters = true;
    place.registers = v.registers;
    return true;
  }
  if (v.onStack) {
    error = "'" + v.name + "' lives on the stack (offset " + std::to_string(v.stackOffset) + ")";
    return false;
  }
  if (!v.address) {
    error = "'" + v.name + "' has no address";
    return false;
  }
  place.address = *v.address;
  switch (v.space) {
    case Space::Data:
      place.space = *v.address >= 0x80 ? MemorySpace::Idata : MemorySpace::Data;
      break;
    case Space::Idata:
      place.space = MemorySpace::Idata;
      break;
    case Space::Xdata:
      place.space = MemorySpace::Xdata;
      break;
    case Space::Pdata:
      place.space = MemorySpace::Pdata;
      break;
    case Space::Code:
    case Space::CodeStatic:
      place.space = MemorySpace::Code;
      break;
    case Space::Sfr:
      place.space = MemorySpace::Sfr;
      break;
    default:
      error = "'" + v.name + "' lies in " + kz51::SpaceName(v.space) + " space";
      return false;
  }
  return true;
}

bool ReadPlace(kz51::Session& s, const Place& place, unsigned size, std::vector<std::uint8_t>& out,
               std::string& error) {
  out.clear();
  if (place.inRegisters) {
    auto regs = s.ReadRegisters();
    if (!regs) {
      error = regs.error();
      return false;
    }
    for (const auto& r : place.registers) {
      if (r.size() != 2 || r[0] != 'r' || r[1] < '0' || r[1] > '7') {
        error = "the value lives in " + r + ", which cannot be read";
        return false;
      }
      out.push_back(regs->r[r[1] - '0']);
    }
    out.resize(size);
    return true;
  }
  if (size == 0) return true;
  auto bytes = s.Read(place.space, place.address, size);
  if (!bytes) {
    error = bytes.error();
    return false;
  }
  out = *bytes;
  return true;
}

bool WritePlace(kz51::Session& s, const Place& place, const std::vector<std::uint8_t>& bytes,
                std::string& error) {
  if (place.inRegisters) {
    for (std::size_t i = 0; i < place.registers.size() && i < bytes.size(); ++i) {
      auto r = s.SetRegister(place.registers[i], bytes[i]);
      if (!r) {
        error = r.error();
        return false;
      }
    }
    return true;
  }
  auto r = s.Write(place.space, place.address, bytes);
  if (!r) error = r.error();
  return r.ok();
}

bool ReadValue(kz51::Session& s, const kz51::cdb::Variable& v, Value& out, std::string& error) {
  out = Value{};
  out.name = v.name;
  out.type = v.type;
  return Locate(v, out.place, error) && ReadPlace(s, out.place, v.type.size, out.bytes, error);
}

bool HasChildren(const Value& v) {
  return v.type.IsArray() || v.type.IsStruct();
}

std::vector<Value> Children(const kz51::Symbols& symbols, const Value& parent) {
  std::vector<Value> out;
  auto slice = [&](const std::string& name, const Type& type, unsigned offset) {
    Value c;
    c.name = name;
    c.type = type;
    c.place = parent.place;
    if (!c.place.inRegisters) {
      c.place.address += offset;
    } else if (offset < c.place.registers.size()) {
      c.place.registers.erase(c.place.registers.begin(), c.place.registers.begin() + offset);
    }
    for (unsigned i = 0; i < type.size && offset + i < parent.bytes.size(); ++i)
      c.bytes.push_back(parent.bytes[offset + i]);
    c.bytes.resize(type.size);
    out.push_back(std::move(c));
  };
  if (parent.type.IsArray()) {
    const Type e = parent.type.Element();
    const unsigned count = parent.type.chain[0].count;
    for (unsigned i = 0; i < count && e.size != 0; ++i)
      slice("[" + std::to_string(i) + "]", e, i * e.size);
  } else if (parent.type.IsStruct()) {
    if (const auto* st = symbols.Cdb().FindStruct(parent.type.Base()->name))
      for (const auto& m : st->members) slice(m.name, m.type, m.offset);
  }
  return out;
}

std::string Format(const kz51::Symbols& symbols, const Value& v) {
  const Type& t = v.type;
  if (t.IsPointer()) return FormatPointer(t, v.bytes);
  if (t.IsInteger()) {
    std::int64_t n = LittleEndian(v.bytes, t.size, t.isSigned);
    if (t.chain[0].kind == Kind::Bitfield) {
      n = (static_cast<std::uint64_t>(n) >> t.chain[0].count) &
          ((std::uint64_t{1} << t.chain[0].width) - 1);
    }
    std::string s = std::to_string(n);
    if (t.chain[0].kind == Kind::Char && n >= 32 && n < 127)
      s += " '" + std::string(1, static_cast<char>(n)) + "'";
    return s;
  }
  if (IsFloat(t) && v.bytes.size() >= 4) {
    const std::uint32_t bits = static_cast<std::uint32_t>(LittleEndian(v.bytes, 4, false));
    float f = 0;
    std::memcpy(&f, &bits, 4);
    char s[32];
    std::snprintf(s, sizeof s, "%g", static_cast<double>(f));
    return s;
  }
  if (HasChildren(v)) {
    std::string s = "{";
    const auto kids = Children(symbols, v);
    for (std::size_t i = 0; i < kids.size() && i < kSummaryItems; ++i) {
      if (i != 0) s += ", ";
      if (t.IsStruct()) s += kids[i].name + "=";
      s += HasChildren(kids[i]) ? std::string("{...}") : Format(symbols, kids[i]);
    }
    if (kids.size() > kSummaryItems) s += ", ...";
    return s + "}";
  }
  return t.Describe();
}

bool Encode(const Type& type, const std::string& text, std::vector<std::uint8_t>& out,
            std::string& error) {
  if (!type.IsInteger() && !type.IsPointer()) {
    error = "only integers and pointers can be set, not " + type.Describe();
    return false;
  }
  std::string s = text;
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(0, 1);
  std::int64_t value = 0;
  if (s.size() == 3 && s[0] == '\'' && s[2] == '\'') {
    value = static_cast<unsigned char>(s[1]);
  } else {
    const bool negative = !s.empty() && s[0] == '-';
    std::uint32_t magnitude = 0;
    if (!kz51::ParseNumber(negative ? s.substr(1) : s, magnitude)) {
      error = "'" + text + "' is not a number";
      return false;
    }
    value = negative ? -static_cast<std::int64_t>(magnitude) : magnitude;
  }
  const unsigned size = type.size == 0 ? 1 : type.size;
  const unsigned bits = size >= 8 ? 63 : size * 8;
  const bool isSigned = type.IsInteger() && type.isSigned;
  const std::int64_t lo = isSigned ? -(std::int64_t{1} << (bits - 1)) : 0;
  const std::int64_t hi =
      isSigned ? (std::int64_t{1} << (bits - 1)) - 1 : (std::int64_t{1} << bits) - 1;
  if (value < lo || value > hi) {
    error = text + " does not fit " + type.Describe() + " (" + std::to_string(lo) + ".." +
            std::to_string(hi) + ")";
    return false;
  }
  out.clear();
  for (unsigned i = 0; i < size; ++i)
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i)));
  return true;
}

bool ParsePath(const std::string& text, std::string& base, std::vector<PathStep>& steps) {
  std::size_t i = 0;
  auto ident = [&](std::string& out) {
    const std::size_t start = i;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_'))
      ++i;
    out = text.substr(start, i - start);
    return !out.empty() && !std::isdigit(static_cast<unsigned char>(out[0]));
  };
  while (i < text.size() && text[i] == ' ') ++i;
  if (!ident(base)) return false;
  steps.clear();
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
    } else if (text[i] == '.') {
      ++i;
      PathStep s;
      if (!ident(s.member)) return false;
      steps.push_back(s);
    } else if (text[i] == '[') {
      const std::size_t close = text.find(']', i);
      if (close == std::string::npos) return false;
      std::uint32_t n = 0;
      if (!kz51::ParseNumber(text.substr(i + 1, close - i - 1), n)) return false;
      PathStep s;
      s.index = true;
      s.element = n;
      steps.push_back(s);
      i = close + 1;
    } else {
      return false;
    }
  }
  return true;
}

bool Follow(const kz51::Symbols& symbols, Value v, const std::vector<PathStep>& steps, Value& out,
            std::string& error) {
  for (const PathStep& step : steps) {
    if (step.index) {
      if (!v.type.IsArray()) {
        error = "'" + v.name + "' is not an array";
        return false;
      }
      const unsigned count = v.type.chain[0].count;
      if (step.element >= count) {
        error = "index " + std::to_string(step.element) + " is outside " + v.name + " (0.." +
                std::to_string(count == 0 ? 0 : count - 1) + ")";
        return false;
      }
      auto kids = Children(symbols, v);
      if (step.element >= kids.size()) {
        error = "the elements of '" + v.name + "' have no known size";
        return false;
      }
      Value child = std::move(kids[step.element]);
      child.name = v.name + child.name;
      v = std::move(child);
    } else {
      if (!v.type.IsStruct()) {
        error = "'" + v.name + "' is not a structure";
        return false;
      }
      bool found = false;
      for (Value& c : Children(symbols, v)) {
        if (c.name != step.member) continue;
        c.name = v.name + "." + c.name;
        v = std::move(c);
        found = true;
        break;
      }
      if (!found) {
        error = v.type.Describe() + " has no member '" + step.member + "'";
        return false;
      }
    }
  }
  out = std::move(v);
  return true;
}

}  // namespace kzhost::dap
