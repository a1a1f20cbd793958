#pragma once
// What one 8051 instruction does for the stack walk and the variable
// locations: where control goes next, what it does to the stack, and which
// direct addresses it writes. Registers R0..R7 are named by their direct
// address in the bank the code runs in (bank 1: R7 is 0Fh), so that a write
// through Rn and one through the bank's direct address are the same write.
#include <array>
#include <cstdint>

namespace kz51::debug {

// Direct addresses of the registers the analysis follows.
inline constexpr std::uint8_t kSp = 0x81;
inline constexpr std::uint8_t kDpl = 0x82;
inline constexpr std::uint8_t kDph = 0x83;
inline constexpr std::uint8_t kPsw = 0xD0;
inline constexpr std::uint8_t kAcc = 0xE0;
inline constexpr std::uint8_t kB = 0xF0;

struct Instruction {
  enum class Flow : std::uint8_t {
    Next,      // on to the next instruction
    Jump,      // only to `target`
    Branch,    // to `target` or on
    Call,      // into `target`, then on after it returns
    Return,    // RET or RETI: the path ends
    Indirect,  // JMP @A+DPTR: targets fixed by data
  };
  enum class Stack : std::uint8_t {
    None,
    Push,     // PUSH `operand`
    Pop,      // POP `operand`
    SpWrite,  // SP written some other way (MOV SP,..., INC SP, ...)
  };

  std::uint16_t address = 0;
  std::uint8_t length = 1;
  std::uint8_t opcode = 0;
  std::uint8_t b1 = 0, b2 = 0;  // the operand bytes (as far as the length goes)
  Flow flow = Flow::Next;
  std::uint16_t target = 0;
  Stack stack = Stack::None;
  std::uint8_t operand = 0;  // PUSH/POP direct address
  // Direct addresses written besides the stack (at most three: XCH writes
  // two, every write of A also changes PSW's parity bit).
  std::array<std::int16_t, 3> writes{{-1, -1, -1}};
  // A plain copy of one byte: `copyTo` receives `copyFrom` (MOV Rn,A,
  // MOV A,direct, MOV direct,direct, ...), both -1 otherwise.
  std::int16_t copyFrom = -1, copyTo = -1;

  bool Writes(std::uint8_t direct) const {
    for (auto w : writes)
      if (w == direct) return true;
    return false;
  }
};

// Decodes the instruction at `address` from `bytes` (three bytes are always
// enough) for code running in register bank `bank` (0..3).
Instruction DecodeInstruction(std::uint16_t address, const std::uint8_t* bytes, int bank);

// The byte that holds bit address `bit`: 20h..2Fh below 80h, the SFR above.
std::uint8_t BitByte(std::uint8_t bit);

}  // namespace kz51::debug
