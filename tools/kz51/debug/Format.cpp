#include "debug/Format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "debug/Evaluator.h"

namespace kz51::debug {

namespace {

using Json = nlohmann::ordered_json;
using Kind = CType::Kind;

constexpr std::size_t kCompactItems = 8;
constexpr std::uint32_t kStringLimit = 64;

std::string FloatText(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  const float f = static_cast<float>(d);
  char s[48];
  for (int precision = 6; precision <= 9; ++precision) {
    std::snprintf(s, sizeof s, "%.*g", precision, static_cast<double>(f));
    if (static_cast<float>(std::strtod(s, nullptr)) == f) break;
  }
  return s;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string s;
  char b[4];
  for (auto x : bytes) {
    std::snprintf(b, sizeof b, "%02X", x);
    s += b;
  }
  return s;
}

std::string Escape(const std::string& raw) {
  std::string out;
  for (unsigned char c : raw) out += c == '"' ? std::string("\\\"") : CharText(c);
  return out;
}

// The text a char pointer points to: printable characters up to a NUL
// within kStringLimit. Anything else (a byte buffer, say) is no string.
std::optional<std::string> StringAt(DebugModel& model, MemorySpace space, std::uint32_t address) {
  const std::uint32_t high = MemorySpaceHigh(space);
  if (address > high) return std::nullopt;
  const std::uint32_t n = std::min<std::uint32_t>(kStringLimit, high - address + 1);
  auto bytes = model.target().Read(space, address, n);
  if (!bytes) return std::nullopt;
  std::string s;
  for (auto b : *bytes) {
    if (b == 0) return s;
    const bool text = (b >= 0x20 && b < 0x7F) || b == '\n' || b == '\t' || b == '\r';
    if (!text) return std::nullopt;
    s += static_cast<char>(b);
  }
  return std::nullopt;
}

std::string FunctionNameAt(DebugModel& model, std::uint32_t address) {
  const cdb::Function* f = model.program().symbols().FunctionAt(address);
  return f != nullptr && f->start == address ? f->name : std::string();
}

std::string ScalarText(DebugModel& model, const Value& v, bool showChar, bool showString) {
  const CType& t = *v.type;
  switch (t.kind) {
    case Kind::Integer:
    case Kind::Bit: {
      const std::int64_t n = IntegerValue(v);
      std::string s = t.isSigned || t.size < 8 ? std::to_string(n)
                                               : std::to_string(static_cast<std::uint64_t>(n));
      if (showChar && t.isChar && t.bitWidth == 0)
        s += " '" + CharText(static_cast<unsigned>(n) & 0xFF) + "'";
      return s;
    }
    case Kind::Float:
      return FloatText(FloatValue(v));
    case Kind::Pointer: {
      MemorySpace space;
      std::uint32_t address = 0;
      std::string why;
      if (!PointerTarget(v, space, address, why)) {
        char s[32];
        std::snprintf(s, sizeof s, "0x%06llX", static_cast<unsigned long long>(IntegerValue(v)));
        return std::string(s) + " (" + why + ")";
      }
      std::string s = AddressText(space, address);
      if (t.target && t.target->kind == Kind::Function) {
        const std::string name = FunctionNameAt(model, address);
        if (!name.empty()) s += " <" + name + ">";
      } else if (showString && t.target && t.target->isChar && IntegerValue(v) != 0) {
        if (auto str = StringAt(model, space, address)) s += " \"" + Escape(*str) + "\"";
      }
      return s;
    }
    default:
      return t.Describe();
  }
}

std::string Text(DebugModel& model, Value v, const FormatStyle& style, int depth) {
  if (!v.Available()) return "<unavailable>";
  if (v.type->kind == Kind::Function) {
    const std::string name = FunctionNameAt(model, v.where.address);
    return AddressText(MemorySpace::Code, v.where.address) +
           (name.empty() ? "" : " <" + name + ">");
  }
  if (auto r = model.Load(v); !r) return "<unreadable: " + r.error() + ">";
  if (v.type->IsScalar()) return ScalarText(model, v, depth == 0, depth == 0);
  if (!v.type->IsAggregate()) return v.type->Describe();
  if (style.compact && depth > 0) return "{...}";
  const auto kids = model.Children(v);
  const std::size_t limit = style.compact ? kCompactItems : style.maxItems;
  const bool isStruct = v.type->kind == Kind::Struct;
  std::string s = "{";
  for (std::size_t i = 0; i < kids.size() && i < limit; ++i) {
    if (i != 0) s += ", ";
    if (isStruct) s += kids[i].name + (style.compact ? "=" : " = ");
    s += Text(model, kids[i].value, style, depth + 1);
  }
  if (kids.size() > limit) s += ", ...";
  return s + "}";
}

Json ElementJson(DebugModel& model, Value v) {
  if (!v.Available()) return nullptr;
  if (auto r = model.Load(v); !r) return nullptr;
  const CType& t = *v.type;
  if (t.IsInteger()) {
    const std::int64_t n = IntegerValue(v);
    if (!t.isSigned && t.size == 8) return static_cast<std::uint64_t>(n);
    return n;
  }
  if (t.kind == Kind::Float) {
    const double d = FloatValue(v);
    return std::isfinite(d) ? Json(d) : Json(FloatText(d));
  }
  if (t.kind == Kind::Pointer) return ScalarText(model, v, false, false);
  if (t.kind == Kind::Array) {
    Json a = Json::array();
    for (auto& k : model.Children(v)) a.push_back(ElementJson(model, k.value));
    return a;
  }
  if (t.kind == Kind::Struct) {
    Json o = Json::object();
    for (auto& k : model.Children(v)) o[k.name] = ElementJson(model, k.value);
    return o;
  }
  return nullptr;
}

}  // namespace

std::string CharText(unsigned c) {
  switch (c) {
    case 0:
      return "\\0";
    case '\a':
      return "\\a";
    case '\b':
      return "\\b";
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\v':
      return "\\v";
    case '\f':
      return "\\f";
    case '\r':
      return "\\r";
    case '\\':
      return "\\\\";
    case '\'':
      return "\\'";
    default:
      break;
  }
  if (c >= 0x20 && c < 0x7F) return std::string(1, static_cast<char>(c));
  char s[8];
  std::snprintf(s, sizeof s, "\\x%02X", c & 0xFF);
  return s;
}

std::string FormatValue(DebugModel& model, Value v, const FormatStyle& style) {
  return Text(model, std::move(v), style, 0);
}

void AddValueJson(DebugModel& model, Value v, Json& j) {
  if (v.IsLvalue()) j["location"] = v.where.Describe();
  if (!v.Available()) {
    j["unavailable"] = v.unavailable;
    return;
  }
  const CType& t = *v.type;
  if (t.kind == Kind::Function) {
    j["value"] = AddressText(MemorySpace::Code, v.where.address);
    j["space"] = "code";
    j["address"] = v.where.address;
    const std::string name = FunctionNameAt(model, v.where.address);
    if (!name.empty()) j["function"] = name;
    return;
  }
  if (auto r = model.Load(v); !r) {
    j["unreadable"] = r.error();
    return;
  }
  if (t.kind != Kind::Pointer && v.where.kind == Location::Kind::Memory) {
    j["space"] = MemorySpaceName(v.where.space);
    j["address"] = v.where.address;
  }
  if (t.kind == Kind::Pointer) {
    j["value"] = ScalarText(model, v, false, false);
    MemorySpace space;
    std::uint32_t address = 0;
    std::string why;
    if (PointerTarget(v, space, address, why)) {
      j["space"] = MemorySpaceName(space);
      j["address"] = address;
      if (t.target && t.target->isChar && IntegerValue(v) != 0)
        if (auto s = StringAt(model, space, address)) j["string"] = *s;
      if (t.target && t.target->kind == Kind::Function) {
        const std::string name = FunctionNameAt(model, address);
        if (!name.empty()) j["function"] = name;
      }
    }
  } else if (t.kind == Kind::Array) {
    j["values"] = ElementJson(model, v);
  } else if (t.kind == Kind::Struct) {
    j["members"] = ElementJson(model, v);
  } else {
    j["value"] = ElementJson(model, v);
    if (t.isChar && t.bitWidth == 0)
      j["char"] = CharText(static_cast<unsigned>(IntegerValue(v)) & 0xFF);
  }
  j["hex"] = Hex(v.bytes);
}

}  // namespace kz51::debug
