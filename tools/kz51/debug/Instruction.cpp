#include "debug/Instruction.h"

#include "Disassembler.h"

namespace kz51::debug {

namespace {

void AddWrite(Instruction& in, int direct) {
  for (auto& w : in.writes) {
    if (w == direct) return;
    if (w < 0) {
      w = static_cast<std::int16_t>(direct);
      return;
    }
  }
}

// Every write of A changes the parity flag in PSW.
void WriteA(Instruction& in) {
  AddWrite(in, kAcc);
  AddWrite(in, kPsw);
}

std::uint16_t Relative(const Instruction& in, std::uint8_t offset) {
  return static_cast<std::uint16_t>(in.address + in.length + static_cast<std::int8_t>(offset));
}

}  // namespace

std::uint8_t BitByte(std::uint8_t bit) {
  return bit < 0x80 ? static_cast<std::uint8_t>(0x20 + bit / 8)
                    : static_cast<std::uint8_t>(bit & 0xF8);
}

Instruction DecodeInstruction(std::uint16_t address, const std::uint8_t* bytes, int bank) {
  Instruction in;
  in.address = address;
  in.opcode = bytes[0];
  in.length = kzhost::InstructionLength(in.opcode);
  if (in.length > 1) in.b1 = bytes[1];
  if (in.length > 2) in.b2 = bytes[2];
  const std::uint8_t op = in.opcode;
  const int rn = (bank & 3) * 8 + (op & 7);  // Rn of the opcode's low bits
  const std::uint8_t lo = op & 0x0F;
  const std::uint8_t hi = op & 0xF0;
  // A direct-address destination: SP writes are stack effects, not writes.
  auto direct = [&](std::uint8_t d) {
    if (d == kSp) {
      in.stack = Instruction::Stack::SpWrite;
    } else {
      AddWrite(in, d);
      if (d == kAcc) AddWrite(in, kPsw);
    }
  };

  // AJMP / ACALL: aaa00001 / aaa10001.
  if ((op & 0x1F) == 0x01 || (op & 0x1F) == 0x11) {
    in.target = static_cast<std::uint16_t>(((address + 2) & 0xF800) | ((op & 0xE0) << 3) | in.b1);
    in.flow = (op & 0x10) ? Instruction::Flow::Call : Instruction::Flow::Jump;
    return in;
  }
  switch (op) {
    case 0x02:  // LJMP
      in.flow = Instruction::Flow::Jump;
      in.target = static_cast<std::uint16_t>(in.b1 << 8 | in.b2);
      return in;
    case 0x12:  // LCALL
      in.flow = Instruction::Flow::Call;
      in.target = static_cast<std::uint16_t>(in.b1 << 8 | in.b2);
      return in;
    case 0x22:  // RET
    case 0x32:  // RETI
      in.flow = Instruction::Flow::Return;
      return in;
    case 0x73:  // JMP @A+DPTR
      in.flow = Instruction::Flow::Indirect;
      return in;
    case 0x80:  // SJMP
      in.flow = Instruction::Flow::Jump;
      in.target = Relative(in, in.b1);
      return in;
    case 0x40:  // JC
    case 0x50:  // JNC
    case 0x60:  // JZ
    case 0x70:  // JNZ
      in.flow = Instruction::Flow::Branch;
      in.target = Relative(in, in.b1);
      return in;
    case 0x10:  // JBC bit,rel
      direct(BitByte(in.b1));
      [[fallthrough]];
    case 0x20:  // JB
    case 0x30:  // JNB
      in.flow = Instruction::Flow::Branch;
      in.target = Relative(in, in.b2);
      return in;
    case 0xC0:  // PUSH direct
      in.stack = Instruction::Stack::Push;
      in.operand = in.b1;
      return in;
    case 0xD0:  // POP direct
      in.stack = Instruction::Stack::Pop;
      in.operand = in.b1;
      if (in.b1 == kAcc) AddWrite(in, kPsw);
      return in;
    case 0xD5:  // DJNZ direct,rel
      direct(in.b1);
      in.flow = Instruction::Flow::Branch;
      in.target = Relative(in, in.b2);
      return in;
    case 0xB4:  // CJNE A,#,rel
    case 0xB5:  // CJNE A,direct,rel
    case 0xB6:
    case 0xB7:  // CJNE @Ri,#,rel
      AddWrite(in, kPsw);
      in.flow = Instruction::Flow::Branch;
      in.target = Relative(in, in.b2);
      return in;
    case 0x05:  // INC direct
    case 0x15:  // DEC direct
    case 0x42:  // ORL direct,A
    case 0x43:  // ORL direct,#
    case 0x52:  // ANL direct,A
    case 0x53:  // ANL direct,#
    case 0x62:  // XRL direct,A
    case 0x63:  // XRL direct,#
    case 0x75:  // MOV direct,#
    case 0x86:
    case 0x87:  // MOV direct,@Ri
      direct(in.b1);
      return in;
    case 0x85:  // MOV direct,direct: source first, destination second
      direct(in.b2);
      if (in.b1 != kSp && in.b2 != kSp) {
        in.copyFrom = in.b1;
        in.copyTo = in.b2;
      }
      return in;
    case 0xF5:  // MOV direct,A
      direct(in.b1);
      if (in.b1 != kSp) {
        in.copyFrom = kAcc;
        in.copyTo = in.b1;
      }
      return in;
    case 0xE5:  // MOV A,direct
      WriteA(in);
      in.copyFrom = in.b1;
      in.copyTo = kAcc;
      return in;
    case 0xC5:  // XCH A,direct
      WriteA(in);
      direct(in.b1);
      return in;
    case 0x90:  // MOV DPTR,#
    case 0xA3:  // INC DPTR
      AddWrite(in, kDpl);
      AddWrite(in, kDph);
      return in;
    case 0x84:  // DIV AB
    case 0xA4:  // MUL AB
      WriteA(in);
      AddWrite(in, kB);
      return in;
    case 0x72:  // ORL C,bit
    case 0x82:  // ANL C,bit
    case 0xA0:  // ORL C,/bit
    case 0xA2:  // MOV C,bit
    case 0xB0:  // ANL C,/bit
    case 0xB3:  // CPL C
    case 0xC3:  // CLR C
    case 0xD3:  // SETB C
      AddWrite(in, kPsw);
      return in;
    case 0x92:  // MOV bit,C
    case 0xB2:  // CPL bit
    case 0xC2:  // CLR bit
    case 0xD2:  // SETB bit
      direct(BitByte(in.b1));
      return in;
    case 0x03:  // RR A
    case 0x04:  // INC A
    case 0x13:  // RRC A
    case 0x14:  // DEC A
    case 0x23:  // RL A
    case 0x33:  // RLC A
    case 0x74:  // MOV A,#
    case 0x83:  // MOVC A,@A+PC
    case 0x93:  // MOVC A,@A+DPTR
    case 0xC4:  // SWAP A
    case 0xC6:
    case 0xC7:  // XCH A,@Ri
    case 0xD4:  // DA A
    case 0xD6:
    case 0xD7:  // XCHD A,@Ri
    case 0xE0:  // MOVX A,@DPTR
    case 0xE2:
    case 0xE3:  // MOVX A,@Ri
    case 0xE4:  // CLR A
    case 0xE6:
    case 0xE7:  // MOV A,@Ri
    case 0xF4:  // CPL A
      WriteA(in);
      return in;
    default:
      break;
  }
  // Register forms (low nibble 8..F: Rn).
  if (lo >= 8) {
    switch (hi) {
      case 0x00:  // INC Rn
      case 0x10:  // DEC Rn
      case 0x70:  // MOV Rn,#
        AddWrite(in, rn);
        return in;
      case 0x20:  // ADD A,Rn
      case 0x30:  // ADDC
      case 0x40:  // ORL
      case 0x50:  // ANL
      case 0x60:  // XRL
      case 0x90:  // SUBB
        WriteA(in);
        return in;
      case 0x80:  // MOV direct,Rn
        direct(in.b1);
        if (in.b1 != kSp) {
          in.copyFrom = static_cast<std::int16_t>(rn);
          in.copyTo = in.b1;
        }
        return in;
      case 0xA0:  // MOV Rn,direct
        AddWrite(in, rn);
        in.copyFrom = in.b1;
        in.copyTo = static_cast<std::int16_t>(rn);
        return in;
      case 0xB0:  // CJNE Rn,#,rel
        AddWrite(in, kPsw);
        in.flow = Instruction::Flow::Branch;
        in.target = Relative(in, in.b2);
        return in;
      case 0xC0:  // XCH A,Rn
        WriteA(in);
        AddWrite(in, rn);
        return in;
      case 0xD0:  // DJNZ Rn,rel
        AddWrite(in, rn);
        in.flow = Instruction::Flow::Branch;
        in.target = Relative(in, in.b1);
        return in;
      case 0xE0:  // MOV A,Rn
        WriteA(in);
        in.copyFrom = static_cast<std::int16_t>(rn);
        in.copyTo = kAcc;
        return in;
      case 0xF0:  // MOV Rn,A
        AddWrite(in, rn);
        in.copyFrom = kAcc;
        in.copyTo = static_cast<std::int16_t>(rn);
        return in;
      default:
        return in;
    }
  }
  // Arithmetic and logic into A with #, direct or @Ri operands.
  if ((hi == 0x20 || hi == 0x30 || hi == 0x40 || hi == 0x50 || hi == 0x60 || hi == 0x90) &&
      lo >= 4) {
    WriteA(in);
    return in;
  }
  // Everything left writes no register the analysis follows: MOV @Ri,...,
  // MOVX @..,A, INC/DEC @Ri, NOP and the undefined A5h.
  return in;
}

}  // namespace kz51::debug
