// What the target holds: where, regs, set, dump, write, symbols.
#include <cctype>
#include <cstdio>

#include "cli/Handlers.h"

namespace kz51::cli {

CommandResult WhereCommand(Call& call) {
  auto pc = call.session.Pc();
  if (!pc) return call.Fail(pc.error());
  Symbols& symbols = call.symbols();
  AddPlace(call.r.json, symbols, *pc);
  const std::string ins = symbols.InstructionAt(*pc);
  if (!ins.empty()) call.r.json["instruction"] = ins;
  call.r.text = "pc " + LineText(symbols, *pc) + (ins.empty() ? "" : "   " + ins);
  return call.r;
}

CommandResult RegsCommand(Call& call) {
  auto regs = call.session.ReadRegisters();
  if (!regs) return call.Fail(regs.error());
  Json& j = call.r.json;
  std::string line1;
  for (int i = 0; i < 8; ++i) {
    j["r" + std::to_string(i)] = regs->r[i];
    line1 += (i ? "  r" : "r") + std::to_string(i) + " " + Hex2(regs->r[i]);
  }
  const std::uint8_t psw = regs->psw;
  j["a"] = regs->a;
  j["b"] = regs->b;
  j["sp"] = regs->sp;
  j["psw"] = psw;
  j["dptr"] = regs->dptr;
  j["pc"] = regs->pc;
  const struct {
    const char* name;
    unsigned mask, shift;
  } flags[] = {{"cy", 0x80, 7}, {"ac", 0x40, 6}, {"f0", 0x20, 5}, {"rs", 0x18, 3},
               {"ov", 0x04, 2}, {"f1", 0x02, 1}, {"p", 0x01, 0}};
  std::string flagText;
  for (const auto& f : flags) {
    const unsigned v = (psw & f.mask) >> f.shift;
    j[f.name] = v;
    flagText += std::string(flagText.empty() ? "" : " ") + f.name + "=" + std::to_string(v);
  }
  char buf[128];
  std::snprintf(buf, sizeof buf, "a %02X  b %02X  sp %02X  dptr %04X  pc %s  psw %02X (", regs->a,
                regs->b, regs->sp, regs->dptr, AddressText(regs->pc).c_str(), psw);
  call.r.text = line1 + "\n" + buf + flagText + ")";
  return call.r;
}

CommandResult SetCommand(Call& call) {
  if (call.argc() != 2) return call.Usage();
  std::uint32_t value = 0;
  if (!ParseNumber(call.arg(1), value)) return call.Fail("'" + call.arg(1) + "' is not a number");
  std::string reg = call.arg(0);
  for (char& c : reg) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto s = call.session.SetRegister(reg, value);
  if (!s) return call.Fail(s.error());
  call.r.json["register"] = reg;
  call.r.json["value"] = value;
  call.r.text = reg + " = " + ValueText(value);
  return call.r;
}

CommandResult DumpCommand(Call& call) {
  if (call.argc() != 2) return call.Usage();
  MemorySpace space{};
  std::uint32_t address = 0;
  std::string error;
  if (!ParseSpaceAddress(call.arg(0), call.commands.model(), space, address, error))
    return call.Fail(error);
  call.r.json["space"] = MemorySpaceName(space);
  call.r.json["address"] = address;
  std::uint32_t length = 0;
  if (!ParseCount(call.arg(1), length, error)) return call.Fail(error);
  auto bytes = call.session.Read(space, address, length);
  if (!bytes) return call.Fail(bytes.error());
  call.r.json["length"] = length;
  call.r.json["hex"] = HexBytes(*bytes);
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
  call.r.text = text;
  return call.r;
}

CommandResult WriteCommand(Call& call) {
  if (call.argc() != 2) return call.Usage();
  MemorySpace space{};
  std::uint32_t address = 0;
  std::string error;
  if (!ParseSpaceAddress(call.arg(0), call.commands.model(), space, address, error))
    return call.Fail(error);
  call.r.json["space"] = MemorySpaceName(space);
  call.r.json["address"] = address;
  const std::string hex = call.arg(1);
  const std::string notHex = "'" + hex + "' is not a sequence of hex bytes (e.g. 0A1B2C)";
  if (hex.size() % 2 != 0 || hex.empty()) return call.Fail(notHex);
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
        !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
      return call.Fail(notHex);
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  auto w = call.session.Write(space, address, bytes);
  if (!w) return call.Fail(w.error());
  call.r.json["length"] = bytes.size();
  call.r.text = "wrote " + std::to_string(bytes.size()) + " byte" + (bytes.size() == 1 ? "" : "s") +
                " at " + MemorySpaceName(space) + ":" + AddressText(address);
  return call.r;
}

CommandResult SymbolsCommand(Call& call) {
  if (call.argc() > 1) return call.Usage();
  Json list = Json::array();
  std::string text;
  for (const auto& s : call.symbols().Match(call.arg(0))) {
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
  call.r.json["symbols"] = list;
  call.r.text = text.empty() ? "no symbols match" : text;
  return call.r;
}

}  // namespace kz51::cli
