#pragma once
// 8051 disassembler: every one of the 256 opcodes in Intel mnemonics, with
// numbers in the "0FD00H" style and SFRs and their bits by name.
#include <cstdint>
#include <string>

namespace kzhost {

struct Instruction {
  std::uint16_t address = 0;
  std::uint8_t length = 1;  // 1..3 bytes
  std::string text;         // "MOV A,#12H", "LCALL 0123H"
  // Where control may go besides the next instruction (jumps, calls);
  // -1 when fixed by data (JMP @A+DPTR, RET) or for straight-line code.
  std::int32_t target = -1;
  bool isCall = false;  // ACALL, LCALL
};

// Length in bytes of the instruction that starts with `opcode`.
std::uint8_t InstructionLength(std::uint8_t opcode);

// Decodes the instruction at `address`; `bytes` holds at least its length
// (three bytes are always enough). Relative and 11-bit targets are resolved.
Instruction Disassemble(std::uint16_t address, const std::uint8_t* bytes);

// "12H", "0A5H": two hex digits, with a leading 0 when a letter comes first.
std::string Hex8(std::uint8_t value);
// "0123H", "0FD00H": four hex digits, the same leading-0 rule.
std::string Hex16(std::uint16_t value);

}  // namespace kzhost
