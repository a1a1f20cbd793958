// C values in the selected frame: print, set var, locals, args. Values come
// from the C model; one that cannot be known here is <unavailable> with the
// reason, and the command's JSON says "ok": false.
#include "cli/Handlers.h"
#include "debug/Evaluator.h"
#include "debug/Expression.h"
#include "debug/Format.h"

namespace kz51::cli {

namespace {

bool ShowsHex(const debug::Value& v) {
  const auto& t = *v.type;
  return t.kind == debug::CType::Kind::Integer && !t.isChar && t.bitWidth == 0;
}

// "n = 3   (int)", "result = 392 (0x188)   (unsigned int)",
// "r = <unavailable> (kept in registers, ...)   (int)".
std::string ValueLine(debug::DebugModel& model, const std::string& name, const debug::Value& v) {
  const std::string type = v.type ? v.type->Describe() : "?";
  if (!v.Available()) return name + " = <unavailable> (" + v.unavailable + ")   (" + type + ")";
  std::string text = debug::FormatValue(model, v);
  if (ShowsHex(v)) {
    debug::Value loaded = v;
    if (model.Load(loaded) && debug::IntegerValue(loaded) >= 0) {
      char hex[32];
      std::snprintf(hex, sizeof hex, " (0x%llX)",
                    static_cast<unsigned long long>(debug::IntegerValue(loaded)));
      text += hex;
    }
  }
  return name + " = " + text + "   (" + type + ")";
}

// print and set var: the value of `expression` as the command's result.
CommandResult Show(Call& call, const std::string& expression) {
  debug::DebugModel& model = call.commands.model();
  auto v = model.Evaluate(expression);
  if (!v) return call.Fail(v.error());
  // An assignment shows the object it set.
  std::string name = expression;
  const auto parsed = debug::ParseExpression(expression);
  if (parsed.expr && parsed.expr->kind == debug::Expr::Kind::Assign) {
    const auto& left = *parsed.expr->kids[0];
    name = expression.substr(left.begin, left.end - left.begin);
  }
  Json& j = call.r.json;
  j["expression"] = expression;
  j["name"] = name;
  j["type"] = v->type ? v->type->Describe() : "?";
  debug::AddValueJson(model, *v, j);
  call.r.text = ValueLine(model, name, *v);
  if (!v->Available()) {
    call.r.ok = false;
    j["ok"] = false;
    j["error"] = expression + " is unavailable here: " + v->unavailable;
  }
  return call.r;
}

CommandResult List(Call& call, bool params) {
  if (call.argc() != 0) return call.Usage();
  debug::DebugModel& model = call.commands.model();
  const int level = model.Selected();
  auto frame = model.FrameAt(level);
  if (!frame) return call.Fail(frame.error());
  auto list = params ? model.Args(level) : model.Locals(level);
  if (!list) return call.Fail(list.error());
  Json vars = Json::array();
  std::string text;
  for (const auto& nv : *list) {
    Json v;
    v["name"] = nv.name;
    v["type"] = nv.value.type ? nv.value.type->Describe() : "?";
    v["ok"] = nv.value.Available();
    debug::AddValueJson(model, nv.value, v);
    if (!nv.value.Available()) v["error"] = nv.value.unavailable;
    vars.push_back(v);
    text += (text.empty() ? "" : "\n") + ValueLine(model, nv.name, nv.value);
  }
  call.r.json["frame"] = level;
  call.r.json["function"] = (*frame)->name;
  call.r.json["variables"] = vars;
  if (text.empty())
    text = std::string(params ? "no parameters" : "no locals") + " in " + (*frame)->name;
  call.r.text = text;
  return call.r;
}

}  // namespace

CommandResult PrintCommand(Call& call) {
  if (call.argc() == 0) return call.Usage();
  return Show(call, Trim(call.From(0)));
}

CommandResult SetVarCommand(Call& call) {
  if (call.argc() == 0) return call.Usage();
  const std::string expression = Trim(call.From(0));
  const auto parsed = debug::ParseExpression(expression);
  if (!parsed.expr) return call.Fail(parsed.error);
  if (parsed.expr->kind != debug::Expr::Kind::Assign)
    return call.Fail("set var needs an assignment: " + std::string(call.entry.usage));
  return Show(call, expression);
}

CommandResult LocalsCommand(Call& call) {
  return List(call, false);
}

CommandResult ArgsCommand(Call& call) {
  return List(call, true);
}

bool ParseSpaceAddress(const std::string& text, debug::DebugModel& model, MemorySpace& space,
                       std::uint32_t& address, std::string& error) {
  const auto colon = text.find(':');
  std::string where = text;
  bool named = false;
  if (colon != std::string::npos) {
    const std::string name = text.substr(0, colon);
    if (!ParseMemorySpace(name, space)) {
      error = "unknown memory space '" + name + "' (code, data, idata, sfr, xdata, pdata)";
      return false;
    }
    named = true;
    where = text.substr(colon + 1);
    if (ParseNumber(where, address)) return true;
  } else if (ParseNumber(text, address)) {
    error = "'" + text +
            "': write SPACE:ADDR, e.g. data:0x30 (SPACE is code, data, idata, sfr, xdata or pdata)";
    return false;
  }
  // A name (or any C object): it lives in its own space.
  auto v = model.Evaluate(where);
  if (!v) {
    error = "'" + where + "' is neither an address (0x1234, 1234h, decimal) nor a variable (" +
            v.error() + ")";
    return false;
  }
  if (!v->Available()) {
    error = "'" + where + "' has no place here: " + v->unavailable;
    return false;
  }
  if (v->where.kind != debug::Location::Kind::Memory) {
    error = "'" + where + "' is not in memory" +
            (v->where.kind == debug::Location::Kind::Bytes
                 ? " (it is kept in " + v->where.Describe() + ")"
                 : std::string());
    return false;
  }
  const MemorySpace own = v->where.space;
  const bool fits =
      !named || own == space || (space == MemorySpace::Idata && own == MemorySpace::Data) ||
      (space == MemorySpace::Data && own == MemorySpace::Idata && v->where.address < 0x80);
  if (!fits) {
    error = "'" + where + "' lives in " + MemorySpaceName(own) + ", not in " +
            MemorySpaceName(space) + " (write " + MemorySpaceName(own) + ":" + where + ", or " +
            where + " alone)";
    return false;
  }
  space = named ? space : own;
  address = v->where.address;
  return true;
}

}  // namespace kz51::cli
