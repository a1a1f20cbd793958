#include "Disassembler.h"

#include <array>
#include <cstdio>

namespace kzhost {

namespace {

// Operand forms; the opcode's low bits give @Ri and Rn.
enum class Op : std::uint8_t {
  None,
  A,
  AB,
  C,
  Dptr,
  AtDptr,
  AtADptr,
  AtAPc,
  Rn,       // R0..R7 from opcode bits 2..0
  AtRi,     // @R0/@R1 from opcode bit 0
  Direct,   // next byte
  Direct2,  // the byte after that (the destination of MOV direct,direct)
  Imm,      // #data in the next byte
  Imm2,     // #data in the byte after the direct address
  Imm16,    // #data16
  Bit,
  NotBit,
  Rel,  // relative target in the instruction's last byte
  Addr11,
  Addr16,
};

struct Entry {
  const char* mnemonic;
  std::uint8_t length;
  Op a = Op::None, b = Op::None, c = Op::None;
};

constexpr std::array<const char*, 128> MakeSfrNames() {
  std::array<const char*, 128> n{};
  n[0x80 - 0x80] = "P0";
  n[0x81 - 0x80] = "SP";
  n[0x82 - 0x80] = "DPL";
  n[0x83 - 0x80] = "DPH";
  n[0x87 - 0x80] = "PCON";
  n[0x88 - 0x80] = "TCON";
  n[0x89 - 0x80] = "TMOD";
  n[0x8A - 0x80] = "TL0";
  n[0x8B - 0x80] = "TL1";
  n[0x8C - 0x80] = "TH0";
  n[0x8D - 0x80] = "TH1";
  n[0x90 - 0x80] = "P1";
  n[0x98 - 0x80] = "SCON";
  n[0x99 - 0x80] = "SBUF";
  n[0xA0 - 0x80] = "P2";
  n[0xA8 - 0x80] = "IE";
  n[0xB0 - 0x80] = "P3";
  n[0xB8 - 0x80] = "IP";
  n[0xC8 - 0x80] = "T2CON";
  n[0xCA - 0x80] = "RCAP2L";
  n[0xCB - 0x80] = "RCAP2H";
  n[0xCC - 0x80] = "TL2";
  n[0xCD - 0x80] = "TH2";
  n[0xD0 - 0x80] = "PSW";
  n[0xE0 - 0x80] = "ACC";
  n[0xF0 - 0x80] = "B";
  return n;
}
constexpr auto kSfrNames = MakeSfrNames();

Entry Lookup(std::uint8_t op) {
  const std::uint8_t lo = op & 0x0F;
  const std::uint8_t hi = op >> 4;
  if ((op & 0x1F) == 0x01) return {"AJMP", 2, Op::Addr11};
  if ((op & 0x1F) == 0x11) return {"ACALL", 2, Op::Addr11};
  // The regular block: columns 4..F of rows 0..F share operand forms.
  if (lo >= 4 && (hi == 0x2 || hi == 0x3 || hi == 0x4 || hi == 0x5 || hi == 0x6 || hi == 0x9)) {
    static constexpr const char* kArith[16] = {nullptr, nullptr, "ADD",   "ADDC",  "ORL",
                                               "ANL",   "XRL",   nullptr, nullptr, "SUBB"};
    const char* m = kArith[hi];
    if (lo == 4) return {m, 2, Op::A, Op::Imm};
    if (lo == 5) return {m, 2, Op::A, Op::Direct};
    if (lo < 8) return {m, 1, Op::A, Op::AtRi};
    return {m, 1, Op::A, Op::Rn};
  }
  if (lo >= 6) {
    switch (hi) {
      case 0x0:
        return {"INC", 1, lo < 8 ? Op::AtRi : Op::Rn};
      case 0x1:
        return {"DEC", 1, lo < 8 ? Op::AtRi : Op::Rn};
      case 0x7:
        return {"MOV", 2, lo < 8 ? Op::AtRi : Op::Rn, Op::Imm};
      case 0x8:
        return {"MOV", 2, Op::Direct, lo < 8 ? Op::AtRi : Op::Rn};
      case 0xA:
        return {"MOV", 2, lo < 8 ? Op::AtRi : Op::Rn, Op::Direct};
      case 0xB:
        return {"CJNE", 3, lo < 8 ? Op::AtRi : Op::Rn, Op::Imm, Op::Rel};
      case 0xC:
        return {"XCH", 1, Op::A, lo < 8 ? Op::AtRi : Op::Rn};
      case 0xD:
        return lo < 8 ? Entry{"XCHD", 1, Op::A, Op::AtRi} : Entry{"DJNZ", 2, Op::Rn, Op::Rel};
      case 0xE:
        return {"MOV", 1, Op::A, lo < 8 ? Op::AtRi : Op::Rn};
      case 0xF:
        return {"MOV", 1, lo < 8 ? Op::AtRi : Op::Rn, Op::A};
      default:
        break;
    }
  }
  switch (op) {
    case 0x00:
      return {"NOP", 1};
    case 0x02:
      return {"LJMP", 3, Op::Addr16};
    case 0x03:
      return {"RR", 1, Op::A};
    case 0x04:
      return {"INC", 1, Op::A};
    case 0x05:
      return {"INC", 2, Op::Direct};
    case 0x10:
      return {"JBC", 3, Op::Bit, Op::Rel};
    case 0x12:
      return {"LCALL", 3, Op::Addr16};
    case 0x13:
      return {"RRC", 1, Op::A};
    case 0x14:
      return {"DEC", 1, Op::A};
    case 0x15:
      return {"DEC", 2, Op::Direct};
    case 0x20:
      return {"JB", 3, Op::Bit, Op::Rel};
    case 0x22:
      return {"RET", 1};
    case 0x23:
      return {"RL", 1, Op::A};
    case 0x30:
      return {"JNB", 3, Op::Bit, Op::Rel};
    case 0x32:
      return {"RETI", 1};
    case 0x33:
      return {"RLC", 1, Op::A};
    case 0x40:
      return {"JC", 2, Op::Rel};
    case 0x42:
      return {"ORL", 2, Op::Direct, Op::A};
    case 0x43:
      return {"ORL", 3, Op::Direct, Op::Imm2};
    case 0x50:
      return {"JNC", 2, Op::Rel};
    case 0x52:
      return {"ANL", 2, Op::Direct, Op::A};
    case 0x53:
      return {"ANL", 3, Op::Direct, Op::Imm2};
    case 0x60:
      return {"JZ", 2, Op::Rel};
    case 0x62:
      return {"XRL", 2, Op::Direct, Op::A};
    case 0x63:
      return {"XRL", 3, Op::Direct, Op::Imm2};
    case 0x70:
      return {"JNZ", 2, Op::Rel};
    case 0x72:
      return {"ORL", 2, Op::C, Op::Bit};
    case 0x73:
      return {"JMP", 1, Op::AtADptr};
    case 0x74:
      return {"MOV", 2, Op::A, Op::Imm};
    case 0x75:
      return {"MOV", 3, Op::Direct, Op::Imm2};
    case 0x80:
      return {"SJMP", 2, Op::Rel};
    case 0x82:
      return {"ANL", 2, Op::C, Op::Bit};
    case 0x83:
      return {"MOVC", 1, Op::A, Op::AtAPc};
    case 0x84:
      return {"DIV", 1, Op::AB};
    // MOV direct,direct: the source comes first in the code.
    case 0x85:
      return {"MOV", 3, Op::Direct2, Op::Direct};
    case 0x90:
      return {"MOV", 3, Op::Dptr, Op::Imm16};
    case 0x92:
      return {"MOV", 2, Op::Bit, Op::C};
    case 0x93:
      return {"MOVC", 1, Op::A, Op::AtADptr};
    case 0xA0:
      return {"ORL", 2, Op::C, Op::NotBit};
    case 0xA2:
      return {"MOV", 2, Op::C, Op::Bit};
    case 0xA3:
      return {"INC", 1, Op::Dptr};
    case 0xA4:
      return {"MUL", 1, Op::AB};
    case 0xA5:
      return {"DB", 1, Op::None};  // reserved; runs as a 1-byte no-op
    case 0xB0:
      return {"ANL", 2, Op::C, Op::NotBit};
    case 0xB2:
      return {"CPL", 2, Op::Bit};
    case 0xB3:
      return {"CPL", 1, Op::C};
    case 0xB4:
      return {"CJNE", 3, Op::A, Op::Imm, Op::Rel};
    case 0xB5:
      return {"CJNE", 3, Op::A, Op::Direct, Op::Rel};
    case 0xC0:
      return {"PUSH", 2, Op::Direct};
    case 0xC2:
      return {"CLR", 2, Op::Bit};
    case 0xC3:
      return {"CLR", 1, Op::C};
    case 0xC4:
      return {"SWAP", 1, Op::A};
    case 0xC5:
      return {"XCH", 2, Op::A, Op::Direct};
    case 0xD0:
      return {"POP", 2, Op::Direct};
    case 0xD2:
      return {"SETB", 2, Op::Bit};
    case 0xD3:
      return {"SETB", 1, Op::C};
    case 0xD4:
      return {"DA", 1, Op::A};
    case 0xD5:
      return {"DJNZ", 3, Op::Direct, Op::Rel};
    case 0xE0:
      return {"MOVX", 1, Op::A, Op::AtDptr};
    case 0xE2:
    case 0xE3:
      return {"MOVX", 1, Op::A, Op::AtRi};
    case 0xE4:
      return {"CLR", 1, Op::A};
    case 0xE5:
      return {"MOV", 2, Op::A, Op::Direct};
    case 0xF0:
      return {"MOVX", 1, Op::AtDptr, Op::A};
    case 0xF2:
    case 0xF3:
      return {"MOVX", 1, Op::AtRi, Op::A};
    case 0xF4:
      return {"CPL", 1, Op::A};
    case 0xF5:
      return {"MOV", 2, Op::Direct, Op::A};
    default:
      break;
  }
  return {"DB", 1};  // not reached: every opcode is listed above
}

// Prefix and operand, appended rather than built with "literal" + string,
// which GCC 12 warns about wrongly at -O3 (-Wrestrict).
std::string Cat(const char* prefix, const std::string& rest) {
  std::string r(prefix);
  r += rest;
  return r;
}

std::string DirectName(std::uint8_t a) {
  if (a >= 0x80 && kSfrNames[a - 0x80] != nullptr) return kSfrNames[a - 0x80];
  return Hex8(a);
}

std::string BitName(std::uint8_t bit) {
  const std::uint8_t byte = bit < 0x80 ? static_cast<std::uint8_t>(0x20 + bit / 8)
                                       : static_cast<std::uint8_t>(bit & 0xF8);
  return DirectName(byte) + "." + std::to_string(bit & 7);
}

}  // namespace

std::string Hex8(std::uint8_t value) {
  char s[8];
  std::snprintf(s, sizeof s, value >= 0xA0 ? "0%02XH" : "%02XH", value);
  return s;
}

std::string Hex16(std::uint16_t value) {
  char s[8];
  std::snprintf(s, sizeof s, value >= 0xA000 ? "0%04XH" : "%04XH", value);
  return s;
}

std::uint8_t InstructionLength(std::uint8_t opcode) {
  return Lookup(opcode).length;
}

Instruction Disassemble(std::uint16_t address, const std::uint8_t* bytes) {
  const std::uint8_t op = bytes[0];
  const Entry e = Lookup(op);
  Instruction ins;
  ins.address = address;
  ins.length = e.length;
  ins.isCall = (op & 0x1F) == 0x11 || op == 0x12;
  const std::uint16_t next = static_cast<std::uint16_t>(address + e.length);
  std::string text = e.mnemonic;
  if (op == 0xA5) text += Cat(" ", Hex8(op));
  const Op ops[3] = {e.a, e.b, e.c};
  for (int i = 0; i < 3 && ops[i] != Op::None; ++i) {
    std::string s;
    switch (ops[i]) {
      case Op::None:
        break;
      case Op::A:
        s = "A";
        break;
      case Op::AB:
        s = "AB";
        break;
      case Op::C:
        s = "C";
        break;
      case Op::Dptr:
        s = "DPTR";
        break;
      case Op::AtDptr:
        s = "@DPTR";
        break;
      case Op::AtADptr:
        s = "@A+DPTR";
        break;
      case Op::AtAPc:
        s = "@A+PC";
        break;
      case Op::Rn:
        s = Cat("R", std::to_string(op & 7));
        break;
      case Op::AtRi:
        s = Cat("@R", std::to_string(op & 1));
        break;
      case Op::Direct:
        s = DirectName(bytes[1]);
        break;
      case Op::Direct2:
        s = DirectName(bytes[2]);
        break;
      case Op::Imm:
        s = Cat("#", Hex8(bytes[1]));
        break;
      case Op::Imm2:
        s = Cat("#", Hex8(bytes[2]));
        break;
      case Op::Imm16:
        s = Cat("#", Hex16(static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2])));
        break;
      case Op::Bit:
        s = BitName(bytes[1]);
        break;
      case Op::NotBit:
        s = Cat("/", BitName(bytes[1]));
        break;
      case Op::Rel:
        ins.target =
            static_cast<std::uint16_t>(next + static_cast<std::int8_t>(bytes[e.length - 1]));
        s = Hex16(static_cast<std::uint16_t>(ins.target));
        break;
      case Op::Addr11:
        ins.target = (next & 0xF800) | ((op & 0xE0) << 3) | bytes[1];
        s = Hex16(static_cast<std::uint16_t>(ins.target));
        break;
      case Op::Addr16:
        ins.target = bytes[1] << 8 | bytes[2];
        s = Hex16(static_cast<std::uint16_t>(ins.target));
        break;
    }
    text += i == 0 ? " " : ",";
    text += s;
  }
  ins.text = std::move(text);
  return ins;
}

}  // namespace kzhost
