#include "debug/Program.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace kz51::debug {

namespace {

bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// The line without comments and the insides of string and character literals.
std::string CodeOnly(const std::string& line) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '/' && i + 1 < line.size() && line[i + 1] == '/') break;
    if (c == '/' && i + 1 < line.size() && line[i + 1] == '*') {
      const auto end = line.find("*/", i + 2);
      if (end == std::string::npos) break;
      i = end + 1;
      out += ' ';
      continue;
    }
    if (c == '"' || c == '\'') {
      std::size_t j = i + 1;
      while (j < line.size() && line[j] != c) j += line[j] == '\\' ? 2 : 1;
      out += ' ';
      i = j;
      continue;
    }
    out += c;
  }
  return out;
}

// True when `name` appears in `code` as the object of an assignment,
// increment or decrement.
bool Assigns(const std::string& code, const std::string& name) {
  for (std::size_t at = code.find(name); at != std::string::npos; at = code.find(name, at + 1)) {
    const std::size_t end = at + name.size();
    if ((at > 0 && IsIdentChar(code[at - 1])) || (end < code.size() && IsIdentChar(code[end])))
      continue;
    std::size_t b = at;
    while (b > 0 && code[b - 1] == ' ') --b;
    if (b > 0 && code[b - 1] == '.') continue;  // a member of the same name
    if (b > 1 && code[b - 2] == '-' && code[b - 1] == '>') continue;
    if (b > 1 &&
        ((code[b - 2] == '+' && code[b - 1] == '+') || (code[b - 2] == '-' && code[b - 1] == '-')))
      return true;
    std::size_t a = end;
    while (a < code.size() && code[a] == ' ') ++a;
    const std::string rest = code.substr(a, 3);
    if (rest.rfind("++", 0) == 0 || rest.rfind("--", 0) == 0) return true;
    if (rest.rfind("<<=", 0) == 0 || rest.rfind(">>=", 0) == 0) return true;
    if (!rest.empty() && rest[0] == '=' && (rest.size() < 2 || rest[1] != '=')) return true;
    if (rest.size() >= 2 && rest[1] == '=' &&
        std::string("+-*/%&|^").find(rest[0]) != std::string::npos)
      return true;
  }
  return false;
}

}  // namespace

void Program::Refresh() const {
  if (generation_ == symbols_.Generation()) return;
  generation_ = symbols_.Generation();
  info_.clear();
  members_.clear();
}

unsigned Program::SizeOfStruct(const std::string& tag) const {
  const cdb::StructType* st = cdb().FindStruct(tag);
  if (st == nullptr) return 0;
  unsigned size = 0;
  for (const auto& m : st->members) size = std::max(size, m.offset + m.type.size);
  return size;
}

std::vector<Member> Program::Members(const std::string& tag) const {
  auto it = members_.find(tag);
  if (it != members_.end()) return it->second;
  std::vector<Member> out;
  if (const cdb::StructType* st = cdb().FindStruct(tag))
    for (const auto& m : st->members) out.push_back({m.name, m.offset, TypeOf(m.type)});
  members_.emplace(tag, out);
  return out;
}

const FunctionInfo& Program::Info(const cdb::Function& f) const {
  auto it = info_.find(&f);
  if (it != info_.end()) return it->second;
  FunctionInfo info;
  info.function = &f;
  const std::uint32_t start = f.start.value_or(0), end = f.end.value_or(0);
  unsigned bodyBlock = ~0u;
  for (const auto& r : cdb().lines) {
    if (r.address < start || r.address > end || !f.start) continue;
    bodyBlock = std::min(bodyBlock, r.block);
    info.lineAddresses.push_back(r.address);
    auto& span = info.blockSpans[r.block];
    if (span.first == 0 && span.second == 0) span = {r.address, r.address};
    span.first = std::min(span.first, r.address);
    span.second = std::max(span.second, r.address);
  }
  std::sort(info.lineAddresses.begin(), info.lineAddresses.end());
  info.lineAddresses.erase(std::unique(info.lineAddresses.begin(), info.lineAddresses.end()),
                           info.lineAddresses.end());
  // Later parameters: in the stack below _bp (reentrant) or in the
  // function's _PARM_n bytes; the one left is the first.
  struct Later {
    int order;
    const cdb::Variable* v;
  };
  std::vector<Later> later;
  std::vector<const cdb::Variable*> firsts;
  bool anyTyped = false;
  const std::string parmPrefix = "_" + f.name + "_PARM_";
  for (const auto& v : cdb().variables) {
    if (v.scope.kind != cdb::ScopeKind::Local || v.scope.function != f.name) continue;
    if (!v.scope.module.empty() && !f.module.empty() && v.scope.module != f.module) continue;
    if (v.scope.level == 0) continue;  // sdcc's own spill locations (sloc0, ...)
    anyTyped = anyTyped || !v.fromLinkerOnly;
    if (v.onStack) info.reentrant = true;
    const bool param = v.scope.level <= 1 && bodyBlock != ~0u && v.scope.block < bodyBlock;
    if (!param) {
      info.locals.push_back(&v);
      continue;
    }
    if (v.onStack && v.stackOffset < 0) {
      later.push_back({1000 - v.stackOffset, &v});
      continue;
    }
    int parm = -1;
    if (v.address) {
      for (const auto& s : symbols_.MapSymbols())
        if (!s.code && s.value == *v.address && s.name.rfind(parmPrefix, 0) == 0)
          parm = std::atoi(s.name.c_str() + parmPrefix.size());
    }
    if (parm >= 0) {
      later.push_back({parm, &v});
    } else {
      firsts.push_back(&v);
    }
  }
  std::stable_sort(later.begin(), later.end(),
                   [](const Later& a, const Later& b) { return a.order < b.order; });
  if (firsts.size() == 1) info.firstParam = firsts[0];
  for (auto* v : firsts) info.params.push_back(v);
  for (auto& l : later) info.params.push_back(l.v);
  if (info.firstParam != nullptr && !info.firstParam->fromLinkerOnly) {
    info.firstParamBytes = std::min(4u, info.firstParam->type.size);
  } else if (!info.params.empty() || !anyTyped) {
    // The first parameter is not recorded (sdcc leaves out the locals of
    // some functions): its bytes may be in any of DPL, DPH, B, A.
    info.firstParamBytes = 4;
  }
  return info_.emplace(&f, std::move(info)).first->second;
}

bool Program::Visible(const cdb::Variable& v, const FunctionInfo& info, std::uint32_t pc) const {
  if (v.scope.level <= 1) return true;
  const auto it = info.blockSpans.find(v.scope.block);
  return it != info.blockSpans.end() && pc >= it->second.first && pc <= it->second.second;
}

const cdb::Variable* Program::LookupExact(const std::string& name, const cdb::Function* f,
                                          std::uint32_t pc) const {
  if (f != nullptr) {
    const FunctionInfo& info = Info(*f);
    const cdb::LineRecord* here = symbols_.LineRecordAt(pc);
    const cdb::Variable* best = nullptr;
    unsigned bestScore = 0;
    for (const auto* list : {&info.params, &info.locals}) {
      for (const cdb::Variable* v : *list) {
        if (v->name != name || !Visible(*v, info, pc)) continue;
        const unsigned score =
            (here != nullptr && v->scope.block == here->block ? 1000u : 0u) + v->scope.level + 1;
        if (score > bestScore) {
          best = v;
          bestScore = score;
        }
      }
    }
    if (best != nullptr) return best;
    for (const auto& v : cdb().variables)
      if (v.name == name && v.scope.kind == cdb::ScopeKind::File && v.scope.module == f->module)
        return &v;
  }
  for (const auto& v : cdb().variables)
    if (v.name == name && v.scope.kind == cdb::ScopeKind::Global) return &v;
  const cdb::Variable* found = nullptr;
  for (const auto& v : cdb().variables) {
    if (v.name != name || v.scope.kind != cdb::ScopeKind::File) continue;
    if (found != nullptr) return nullptr;
    found = &v;
  }
  return found;
}

const cdb::Variable* Program::Lookup(const std::string& name, const cdb::Function* f,
                                     std::uint32_t pc) const {
  if (const cdb::Variable* v = LookupExact(name, f, pc)) return v;
  if (name.size() > 1 && name[0] == '_') return LookupExact(name.substr(1), f, pc);
  return nullptr;
}

std::vector<const cdb::Variable*> Program::Globals() const {
  return symbols_.Globals();
}

std::optional<std::uint8_t> Program::BpAddress() const {
  const map::Symbol* s = symbols_.MapSymbol("_bp");
  if (s == nullptr || s->code || s->value > 0x7F) return std::nullopt;
  return static_cast<std::uint8_t>(s->value);
}

std::optional<bool> Program::LineAssigns(std::uint32_t address, const std::string& name) const {
  const auto line = symbols_.LineAt(address);
  if (!line) return std::nullopt;
  const std::string text = symbols_.SourceText(line->file, line->line);
  if (text.empty()) return std::nullopt;
  return Assigns(CodeOnly(text), name);
}

}  // namespace kz51::debug
