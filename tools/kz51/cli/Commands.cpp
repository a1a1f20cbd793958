#include "cli/Commands.h"

#include <cctype>
#include <cstdio>
#include <sstream>

namespace kz51::cli {

namespace {

using Json = nlohmann::ordered_json;

struct HelpEntry {
  const char* name;
  const char* usage;
  const char* text;
};

constexpr HelpEntry kHelp[] = {
    {"connect", "connect", "connect to the emulator; shows its model and pod"},
    {"options", "options", "open the driver's project options (emulator, pod, CPU, crystal)"},
    {"load", "load FILE", "load an Intel HEX file into code memory, with its SDCC .map/.cdb/.rst"},
    {"break", "break LOC [count N] [command TEXT]",
     "set a breakpoint; it acts on the Nth hit; TEXT is a kz51 command run when it acts (the run "
     "then continues)"},
    {"delete", "delete N|all", "delete breakpoint N, or all of them"},
    {"disable", "disable N", "disable breakpoint N"},
    {"enable", "enable N", "enable breakpoint N"},
    {"breaks", "breaks", "list the breakpoints"},
    {"go", "go [until LOC] [&]",
     "run until a breakpoint (or LOC, or stop); with & the run goes on in the background"},
    {"wait", "wait", "wait for a background run to stop"},
    {"step", "step [N]", "step N C lines (into calls), or N instructions where no line is known"},
    {"stepi", "stepi [N]", "step N machine instructions"},
    {"next", "next", "step one C line (or one instruction), over calls"},
    {"finish", "finish", "run until the current function returns"},
    {"stop", "stop", "stop the running target"},
    {"reset", "reset", "reset the target"},
    {"where", "where", "show the PC: address, symbol+offset, C file:line, instruction"},
    {"regs", "regs", "show the registers"},
    {"set", "set REG VALUE", "set a register: r0..r7 a b sp dptr pc psw p f1 ov rs f0 ac cy"},
    {"dump", "dump SPACE:ADDR LEN", "show memory; SPACE is code, data, idata, sfr, xdata or pdata"},
    {"write", "write SPACE:ADDR HEXBYTES", "write bytes, e.g. write xdata:0x100 DEADBEEF"},
    {"print", "print NAME", "show a C variable (integers, arrays of them, structures)"},
    {"symbols", "symbols [PATTERN]", "list functions and variables whose name contains PATTERN"},
    {"help", "help [COMMAND]", "this list, or one command"},
    {"quit", "quit", "leave kz51"},
};

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string cur;
  bool inWord = false, quoted = false;
  for (char c : line) {
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      if (inWord) words.push_back(cur);
      cur.clear();
      inWord = false;
    } else {
      cur += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(cur);
  return words;
}

std::string Trim(const std::string& s) {
  const auto a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  const auto b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
  return buf;
}

// "SPACE:ADDR", where ADDR may also name a variable of the .cdb.
bool ParseSpaceAddress(const std::string& text, const Symbols& symbols, MemorySpace& space,
                       std::uint32_t& address, std::string& error) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) {
    error = "'" + text +
            "': write SPACE:ADDR, e.g. data:0x30 (SPACE is code, data, idata, sfr, "
            "xdata or pdata)";
    return false;
  }
  const std::string name = text.substr(0, colon);
  if (!ParseMemorySpace(name, space)) {
    error = "unknown memory space '" + name + "' (code, data, idata, sfr, xdata, pdata)";
    return false;
  }
  const std::string where = text.substr(colon + 1);
  if (ParseNumber(where, address)) return true;
  const cdb::Variable* v = symbols.FindVariable(where);
  if (v != nullptr && v->address) {
    address = *v->address;
    return true;
  }
  error = "'" + where + "' is neither an address (0x1234, 1234h, decimal) nor a variable";
  return false;
}

bool ParseCount(const std::string& text, std::uint32_t& n, std::string& error) {
  if (!ParseNumber(text, n) || n == 0) {
    error = "'" + text + "' is not a count of 1 or more";
    return false;
  }
  return true;
}

std::string LineText(const Symbols& symbols, std::uint32_t pc) {
  std::string text = AddressText(pc);
  const std::string sym = symbols.Describe(pc);
  if (!sym.empty()) text += " " + sym;
  if (const auto line = symbols.LineAt(pc))
    text += " (" + line->file + ":" + std::to_string(line->line) + ")";
  return text;
}

// True when the PC lies in a C line: `step` then steps lines.
bool StartsInLine(Session& session, const Symbols& symbols) {
  const auto pc = session.Pc();
  return pc.ok() && symbols.LineAt(*pc).has_value();
}

void AddPlace(Json& j, const Symbols& symbols, std::uint32_t pc) {
  j["pc"] = pc;
  const std::string sym = symbols.Describe(pc);
  if (!sym.empty()) j["symbol"] = sym;
  if (const auto line = symbols.LineAt(pc)) {
    j["file"] = line->file;
    j["line"] = line->line;
  }
}

std::string ValueText(std::int64_t v) {
  char buf[48];
  if (v < 0) {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
  } else {
    std::snprintf(buf, sizeof buf, "%lld (0x%llX)", static_cast<long long>(v),
                  static_cast<unsigned long long>(v));
  }
  return buf;
}

}  // namespace

std::string AddressText(std::uint32_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, address > 0x9FFF ? "0%04XH" : "%04XH", address & 0xFFFFu);
  return buf;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string s;
  for (auto b : bytes) s += Hex2(b);
  return s;
}

std::string Commands::Help(const std::string& command) {
  std::ostringstream out;
  if (!command.empty()) {
    for (const auto& h : kHelp)
      if (command == h.name) return std::string(h.usage) + "\n  " + h.text;
    return "";
  }
  out << "Commands (LOC is 0x1234, 1234h, a symbol such as main or _main, or file.c:LINE):";
  for (const auto& h : kHelp) {
    std::string usage = h.usage;
    usage.resize(36, ' ');
    out << "\n  " << usage << h.text;
  }
  return out.str();
}

Commands::Commands(Session& session, std::string driverPath,
                   std::function<void(const CommandResult&)> out)
    : session_(session), driverPath_(std::move(driverPath)), out_(std::move(out)) {
  // A breakpoint's command text runs with the target stopped at it; its
  // result joins the go's result.
  session_.SetCommandRunner([this](const std::string& text) {
    CommandResult r = Run(text);
    r.json["breakpointCommand"] = true;
    if (nested_ != nullptr) nested_->push_back(r.json);
    if (!r.text.empty() && out_) {
      CommandResult shown;
      shown.text = r.text;
      shown.ok = r.ok;
      shown.json = nullptr;  // shown only as text; the JSON goes with the go
      out_(shown);
    }
  });
}

bool Commands::EnsureDriver(std::string& error) {
  if (session_.IsOpen()) return true;
  auto r = session_.Open(driverPath_);
  if (!r) {
    error = "cannot use the driver library: " + r.error();
    return false;
  }
  return true;
}

CommandResult Commands::Execute(const std::string& line) {
  CommandResult r = Run(line);
  if (out_) out_(r);
  return r;
}

CommandResult Commands::Run(const std::string& rawLine) {
  const std::string line = Trim(rawLine);
  CommandResult r;
  r.json["command"] = line;
  r.json["ok"] = true;
  auto fail = [&](const std::string& error) {
    r.ok = false;
    r.json["ok"] = false;
    r.json["error"] = error;
    r.text = "error: " + error;
    return r;
  };
  const auto words = Words(line);
  if (words.empty()) return fail("empty command");
  const std::string& cmd = words[0];
  const std::size_t argc = words.size() - 1;
  auto arg = [&](std::size_t i) { return i < words.size() ? words[i] : std::string(); };

  if (cmd == "help" || cmd == "?") {
    const std::string text = Help(arg(1));
    if (text.empty()) return fail("no command '" + arg(1) + "' (help lists them)");
    r.json["help"] = text;
    r.text = text;
    return r;
  }
  if (cmd == "quit" || cmd == "exit") {
    r.quit = true;
    return r;
  }
  bool known = false;
  for (const auto& h : kHelp) known = known || cmd == h.name;
  if (!known) return fail("unknown command '" + cmd + "' (help lists the commands)");

  std::string error;
  if (!EnsureDriver(error)) return fail(error);
  Symbols& symbols = session_.symbols();

  if (cmd == "connect") {
    auto c = session_.Connect();
    if (!c) return fail(c.error());
    r.json["model"] = c->model;
    r.json["pod"] = c->pod;
    r.json["podName"] = c->podName;
    r.text = "connected: emulator " + c->model + ", pod " + std::to_string(c->pod) + " (" +
             c->podName + ")";
    return r;
  }
  if (cmd == "options") {
    auto o = session_.Options();
    if (!o) return fail(o.error());
    r.json["accepted"] = o->accepted;
    r.json["changed"] = o->changed;
    // The driver keeps what was clicked before Cancel, and saves it: say so.
    std::string chosen;
    for (const auto& what : o->changed) {
      chosen += chosen.empty() ? "" : ", ";
      if (what == "emulator")
        chosen += "emulator " + o->model;
      else if (what == "pod")
        chosen += "pod " + std::to_string(o->pod) + " (" + o->podName + ")";
      else if (what == "crystal")
        chosen += "crystal " + std::to_string(o->crystalHz) + " Hz";
      else
        chosen += what;
    }
    if (o->accepted)
      r.text = "options saved" + (chosen.empty() ? std::string() : ": " + chosen);
    else if (chosen.empty())
      r.text = "options cancelled";
    else
      r.text =
          "options cancelled, but the driver kept and saved what the dialog had chosen: " + chosen;
    return r;
  }
  if (cmd == "load") {
    if (argc != 1) return fail("usage: load FILE");
    auto l = session_.Load(arg(1));
    if (!l) return fail(l.error());
    r.json["file"] = l->file;
    r.json["bytes"] = l->bytes;
    r.json["low"] = l->low;
    r.json["high"] = l->high;
    r.json["symbolFiles"] = l->symbolFiles;
    r.text = "loaded " + l->file + ": " + std::to_string(l->bytes) + " bytes, " +
             AddressText(l->low) + ".." + AddressText(l->high);
    if (!l->symbolFiles.empty()) {
      r.text += "; symbols from";
      for (const auto& f : l->symbolFiles) {
        const auto slash = f.find_last_of("/\\");
        r.text += " " + (slash == std::string::npos ? f : f.substr(slash + 1));
      }
    }
    return r;
  }
  if (cmd == "break") {
    if (argc < 1) return fail("usage: break LOC [count N] [command TEXT]");
    std::uint32_t address = 0;
    std::string where;
    if (!symbols.ResolveCode(arg(1), address, error, &where)) return fail(error);
    std::uint32_t count = 1;
    std::string command;
    for (std::size_t i = 2; i < words.size(); ++i) {
      if (words[i] == "count" && i + 1 < words.size()) {
        if (!ParseCount(words[++i], count, error)) return fail(error);
      } else if (words[i] == "command" && i + 1 < words.size()) {
        // The rest of the line, as typed.
        const auto at = line.find("command", line.find(words[1]) + words[1].size());
        command = Trim(line.substr(at + 7));
        if (command.size() >= 2 && command.front() == '"' && command.back() == '"')
          command = command.substr(1, command.size() - 2);
        break;
      } else {
        return fail("unexpected '" + words[i] + "' (usage: break LOC [count N] [command TEXT])");
      }
    }
    auto b = session_.AddBreakpoint(address, where, static_cast<int>(count), command);
    if (!b) return fail(b.error());
    r.json["number"] = b->number;
    r.json["address"] = b->address;
    r.json["location"] = b->location;
    r.json["count"] = b->count;
    if (!command.empty()) r.json["commandText"] = command;
    r.text = "breakpoint " + std::to_string(b->number) + " at " + LineText(symbols, b->address);
    if (count > 1) r.text += ", acts on hit " + std::to_string(count);
    if (!command.empty()) r.text += ", runs \"" + command + "\"";
    return r;
  }
  if (cmd == "delete" || cmd == "disable" || cmd == "enable") {
    if (argc != 1) return fail("usage: " + cmd + " N" + (cmd == "delete" ? "|all" : ""));
    if (cmd == "delete" && arg(1) == "all") {
      auto n = session_.DeleteAllBreakpoints();
      if (!n) return fail(n.error());
      r.json["deleted"] = *n;
      r.text = "deleted " + std::to_string(*n) + " breakpoint" + (*n == 1 ? "" : "s");
      return r;
    }
    std::uint32_t n = 0;
    if (!ParseCount(arg(1), n, error)) return fail("'" + arg(1) + "' is not a breakpoint number");
    auto done = cmd == "delete" ? session_.DeleteBreakpoint(static_cast<int>(n))
                                : session_.EnableBreakpoint(static_cast<int>(n), cmd == "enable");
    if (!done) return fail(done.error());
    r.json["number"] = n;
    r.text = (cmd == "delete"   ? "deleted"
              : cmd == "enable" ? "enabled"
                                : "disabled") +
             std::string(" breakpoint ") + std::to_string(n);
    return r;
  }
  if (cmd == "breaks") {
    Json list = Json::array();
    std::string text;
    for (const auto& b : session_.Breakpoints()) {
      Json j;
      j["number"] = b.number;
      j["address"] = b.address;
      j["location"] = b.location;
      j["enabled"] = b.enabled;
      j["count"] = b.count;
      j["remaining"] = b.remaining;
      if (!b.command.empty()) j["commandText"] = b.command;
      list.push_back(j);
      if (!text.empty()) text += "\n";
      text += std::to_string(b.number) + "  " + (b.enabled ? "on " : "off") + "  " +
              LineText(symbols, b.address);
      if (b.count > 1) text += "  hits left " + std::to_string(b.remaining);
      if (!b.command.empty()) text += "  runs \"" + b.command + "\"";
    }
    r.json["breakpoints"] = list;
    r.text = text.empty() ? "no breakpoints" : text;
    return r;
  }
  if (cmd == "go" || cmd == "step" || cmd == "stepi" || cmd == "next" || cmd == "finish" ||
      cmd == "wait") {
    Session::RunKind kind = Session::RunKind::Go;
    std::uint32_t argument = 0;
    bool background = false;
    std::vector<std::string> rest(words.begin() + 1, words.end());
    if (!rest.empty() && rest.back() == "&") {
      background = true;
      rest.pop_back();
    }
    if (cmd == "go") {
      if (!rest.empty()) {
        if (rest[0] != "until" || rest.size() != 2) return fail("usage: go [until LOC] [&]");
        if (!symbols.ResolveCode(rest[1], argument, error)) return fail(error);
        kind = Session::RunKind::GoUntil;
      }
    } else if (cmd == "step" || cmd == "stepi") {
      if (rest.size() > 1) return fail("usage: " + cmd + " [N]");
      argument = 1;
      if (!rest.empty() && !ParseCount(rest[0], argument, error)) return fail(error);
      kind = Session::RunKind::Step;
    } else if (cmd == "next") {
      if (!rest.empty()) return fail("usage: next");
      kind = Session::RunKind::Next;
    } else if (cmd == "finish") {
      if (!rest.empty()) return fail("usage: finish");
      kind = Session::RunKind::Finish;
    }
    if (background) {
      if (cmd == "wait") return fail("usage: wait");
      auto s = session_.Start(kind, argument);
      if (!s) return fail(s.error());
      r.json["running"] = true;
      r.text = "running";
      return r;
    }
    std::vector<Json> nested;
    nested_ = &nested;
    Result<StopEvent> e = Result<StopEvent>::Fail("");
    if (cmd == "wait") {
      e = session_.Wait();
    } else if (cmd == "step" && StartsInLine(session_, symbols)) {
      // C lines, one at a time.
      for (std::uint32_t i = 0; i < argument; ++i) {
        e = session_.StepLine();
        if (!e || e->reason != StopReason::Step) break;
      }
    } else {
      switch (kind) {
        case Session::RunKind::Go:
          e = session_.Go();
          break;
        case Session::RunKind::GoUntil:
          e = session_.GoUntil(argument);
          break;
        case Session::RunKind::Step:
          e = session_.StepInstructions(argument);
          break;
        case Session::RunKind::Next:
          e = session_.Next();
          break;
        case Session::RunKind::Finish:
          e = session_.Finish();
          break;
        default:
          break;
      }
    }
    nested_ = nullptr;
    if (!e) return fail(e.error());
    AddPlace(r.json, symbols, e->pc);
    r.json["reason"] = StopReasonName(e->reason);
    if (e->breakpoint != 0) r.json["breakpoint"] = e->breakpoint;
    if (!nested.empty()) r.json["commands"] = nested;
    switch (e->reason) {
      case StopReason::Breakpoint:
        r.text = "breakpoint " + std::to_string(e->breakpoint) + ": ";
        break;
      case StopReason::Until:
        r.text = "reached ";
        break;
      case StopReason::Stopped:
        r.text = "stopped at ";
        break;
      case StopReason::Step:
        break;
    }
    r.text += LineText(symbols, e->pc);
    return r;
  }
  if (cmd == "stop") {
    auto s = session_.Stop();
    if (!s) return fail(s.error());
    r.text = "stop requested";
    return r;
  }
  if (cmd == "reset") {
    auto s = session_.Reset();
    if (!s) return fail(s.error());
    auto pc = session_.Pc();
    if (pc) AddPlace(r.json, symbols, *pc);
    r.text = "reset; pc " + (pc ? LineText(symbols, *pc) : std::string("unknown"));
    return r;
  }
  if (cmd == "where") {
    auto pc = session_.Pc();
    if (!pc) return fail(pc.error());
    AddPlace(r.json, symbols, *pc);
    const std::string ins = symbols.InstructionAt(*pc);
    if (!ins.empty()) r.json["instruction"] = ins;
    r.text = "pc " + LineText(symbols, *pc) + (ins.empty() ? "" : "   " + ins);
    return r;
  }
  if (cmd == "regs") {
    auto regs = session_.ReadRegisters();
    if (!regs) return fail(regs.error());
    std::string line1, line2;
    for (int i = 0; i < 8; ++i) {
      r.json["r" + std::to_string(i)] = regs->r[i];
      line1 += (i ? "  r" : "r") + std::to_string(i) + " " + Hex2(regs->r[i]);
    }
    const std::uint8_t psw = regs->psw;
    r.json["a"] = regs->a;
    r.json["b"] = regs->b;
    r.json["sp"] = regs->sp;
    r.json["psw"] = psw;
    r.json["dptr"] = regs->dptr;
    r.json["pc"] = regs->pc;
    const struct {
      const char* name;
      unsigned mask, shift;
    } flags[] = {{"cy", 0x80, 7}, {"ac", 0x40, 6}, {"f0", 0x20, 5}, {"rs", 0x18, 3},
                 {"ov", 0x04, 2}, {"f1", 0x02, 1}, {"p", 0x01, 0}};
    std::string flagText;
    for (const auto& f : flags) {
      const unsigned v = (psw & f.mask) >> f.shift;
      r.json[f.name] = v;
      flagText += std::string(flagText.empty() ? "" : " ") + f.name + "=" + std::to_string(v);
    }
    char buf[128];
    std::snprintf(buf, sizeof buf, "a %02X  b %02X  sp %02X  dptr %04X  pc %s  psw %02X (", regs->a,
                  regs->b, regs->sp, regs->dptr, AddressText(regs->pc).c_str(), psw);
    line2 = buf + flagText + ")";
    r.text = line1 + "\n" + line2;
    return r;
  }
  if (cmd == "set") {
    if (argc != 2) return fail("usage: set REG VALUE");
    std::uint32_t value = 0;
    if (!ParseNumber(arg(2), value)) return fail("'" + arg(2) + "' is not a number");
    std::string reg = arg(1);
    for (char& c : reg) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto s = session_.SetRegister(reg, value);
    if (!s) return fail(s.error());
    r.json["register"] = reg;
    r.json["value"] = value;
    r.text = reg + " = " + ValueText(value);
    return r;
  }
  if (cmd == "dump" || cmd == "write") {
    if (argc != 2)
      return fail(cmd == "dump" ? "usage: dump SPACE:ADDR LEN"
                                : "usage: write SPACE:ADDR HEXBYTES");
    MemorySpace space{};
    std::uint32_t address = 0;
    if (!ParseSpaceAddress(arg(1), symbols, space, address, error)) return fail(error);
    r.json["space"] = MemorySpaceName(space);
    r.json["address"] = address;
    if (cmd == "dump") {
      std::uint32_t length = 0;
      if (!ParseCount(arg(2), length, error)) return fail(error);
      auto bytes = session_.Read(space, address, length);
      if (!bytes) return fail(bytes.error());
      r.json["length"] = length;
      r.json["hex"] = HexBytes(*bytes);
      std::string text;
      for (std::uint32_t at = 0; at < bytes->size(); at += 16) {
        char head[32];
        std::snprintf(head, sizeof head, "%s:%04X ", MemorySpaceName(space), address + at);
        std::string hex, ascii;
        for (std::uint32_t k = at; k < at + 16 && k < bytes->size(); ++k) {
          const std::uint8_t b = (*bytes)[k];
          hex += " " + Hex2(b);
          ascii += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
        }
        hex.resize(48, ' ');
        if (!text.empty()) text += "\n";
        text += head + hex + "  " + ascii;
      }
      r.text = text;
      return r;
    }
    const std::string& hex = arg(2);
    if (hex.size() % 2 != 0 || hex.empty())
      return fail("'" + hex + "' is not a sequence of hex bytes (e.g. 0A1B2C)");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
          !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
        return fail("'" + hex + "' is not a sequence of hex bytes (e.g. 0A1B2C)");
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    auto w = session_.Write(space, address, bytes);
    if (!w) return fail(w.error());
    r.json["length"] = bytes.size();
    r.text = "wrote " + std::to_string(bytes.size()) + " byte" + (bytes.size() == 1 ? "" : "s") +
             " at " + MemorySpaceName(space) + ":" + AddressText(address);
    return r;
  }
  if (cmd == "print") {
    if (argc != 1) return fail("usage: print NAME");
    auto v = session_.ReadVariable(arg(1));
    if (!v) return fail(v.error());
    r.json["name"] = v->name;
    r.json["type"] = v->type;
    r.json["space"] = MemorySpaceName(v->space);
    r.json["address"] = v->address;
    r.json["hex"] = HexBytes(v->bytes);
    std::string value;
    if (!v->members.empty()) {
      Json members = Json::object();
      for (const auto& [name, val] : v->members) {
        members[name] = val;
        value += std::string(value.empty() ? "" : ", ") + name + " = " + std::to_string(val);
      }
      r.json["members"] = members;
      value = "{" + value + "}";
    } else if (v->isArray) {
      r.json["values"] = v->values;
      for (auto val : v->values)
        value += std::string(value.empty() ? "" : ", ") + std::to_string(val);
      value = "{" + value + "}";
    } else {
      r.json["value"] = v->values.empty() ? 0 : v->values[0];
      value = ValueText(v->values.empty() ? 0 : v->values[0]);
    }
    r.text = v->name + " = " + value + "   (" + v->type + ")";
    return r;
  }
  if (cmd == "symbols") {
    if (argc > 1) return fail("usage: symbols [PATTERN]");
    Json list = Json::array();
    std::string text;
    for (const auto& s : symbols.Match(arg(1))) {
      Json j;
      j["name"] = s.name;
      j["kind"] = s.kind;
      j["address"] = s.address;
      j["space"] = s.space;
      if (!s.type.empty()) j["type"] = s.type;
      if (!s.module.empty()) j["module"] = s.module;
      list.push_back(j);
      std::string row = s.space + ":" + AddressText(s.address);
      row.resize(16, ' ');
      std::string kindName = s.name;
      kindName.resize(22, ' ');
      if (!text.empty()) text += "\n";
      text += row + kindName + " " + s.kind + (s.type.empty() ? "" : "  " + s.type);
    }
    r.json["symbols"] = list;
    r.text = text.empty() ? "no symbols match" : text;
    return r;
  }
  return fail("unknown command '" + cmd + "'");
}

}  // namespace kz51::cli
