// The 8051 disassembler against encodings taken from the instruction set
// tables: every operand form, relative and 11-bit targets, SFR and bit names.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "Disassembler.h"

namespace {

struct Known {
  std::uint16_t address;
  std::array<std::uint8_t, 3> bytes;
  const char* text;
  std::int32_t target;
};

const Known kKnown[] = {
    {0x0000, {0x00}, "NOP", -1},
    {0x0100, {0x21, 0x23}, "AJMP 0123H", 0x0123},
    {0x07FE, {0x21, 0x05}, "AJMP 0905H", 0x0905},  // page of the next instruction
    {0x0100, {0xF1, 0xFF}, "ACALL 07FFH", 0x07FF},
    {0x0000, {0x02, 0xFD, 0x00}, "LJMP 0FD00H", 0xFD00},
    {0x0000, {0x12, 0x01, 0x23}, "LCALL 0123H", 0x0123},
    {0x0000, {0x03}, "RR A", -1},
    {0x0000, {0x05, 0x30}, "INC 30H", -1},
    {0x0000, {0x05, 0x81}, "INC SP", -1},
    {0x0000, {0x07}, "INC @R1", -1},
    {0x0000, {0x0F}, "INC R7", -1},
    {0x0000, {0xA3}, "INC DPTR", -1},
    {0x0000, {0x16}, "DEC @R0", -1},
    {0x0000, {0x15, 0xE0}, "DEC ACC", -1},
    {0x0200, {0x10, 0x00, 0xFD}, "JBC 20H.0,0200H", 0x0200},
    {0x0200, {0x20, 0xE7, 0x10}, "JB ACC.7,0213H", 0x0213},
    {0x0200, {0x30, 0x90, 0x00}, "JNB P1.0,0203H", 0x0203},
    {0x0200, {0x30, 0x7F, 0x00}, "JNB 2FH.7,0203H", 0x0203},
    {0x0000, {0x22}, "RET", -1},
    {0x0000, {0x32}, "RETI", -1},
    {0x0000, {0x24, 0x0A}, "ADD A,#0AH", -1},
    {0x0000, {0x35, 0xF0}, "ADDC A,B", -1},
    {0x0000, {0x46}, "ORL A,@R0", -1},
    {0x0000, {0x5D}, "ANL A,R5", -1},
    {0x0000, {0x62, 0x40}, "XRL 40H,A", -1},
    {0x0000, {0x43, 0xA8, 0x80}, "ORL IE,#80H", -1},
    {0x0000, {0x53, 0x89, 0xF0}, "ANL TMOD,#0F0H", -1},
    {0x0000, {0x63, 0xD0, 0x18}, "XRL PSW,#18H", -1},
    {0x0010, {0x40, 0xFE}, "JC 0010H", 0x0010},
    {0x0010, {0x50, 0x80}, "JNC 0FF92H", 0xFF92},  // wraps below 0
    {0x0010, {0x60, 0x7F}, "JZ 0091H", 0x0091},
    {0x0010, {0x70, 0x00}, "JNZ 0012H", 0x0012},
    {0x0010, {0x80, 0xFE}, "SJMP 0010H", 0x0010},
    {0x0000, {0x72, 0xD7}, "ORL C,PSW.7", -1},
    {0x0000, {0xA0, 0x8C}, "ORL C,/TCON.4", -1},
    {0x0000, {0x82, 0x99}, "ANL C,SCON.1", -1},
    {0x0000, {0xB0, 0x00}, "ANL C,/20H.0", -1},
    {0x0000, {0x73}, "JMP @A+DPTR", -1},
    {0x0000, {0x74, 0xFF}, "MOV A,#0FFH", -1},
    {0x0000, {0x75, 0x81, 0x07}, "MOV SP,#07H", -1},
    {0x0000, {0x77, 0x55}, "MOV @R1,#55H", -1},
    {0x0000, {0x7A, 0x10}, "MOV R2,#10H", -1},
    {0x0000, {0x83}, "MOVC A,@A+PC", -1},
    {0x0000, {0x93}, "MOVC A,@A+DPTR", -1},
    {0x0000, {0x84}, "DIV AB", -1},
    {0x0000, {0xA4}, "MUL AB", -1},
    {0x0000, {0x85, 0x30, 0x40}, "MOV 40H,30H", -1},  // source byte first
    {0x0000, {0x86, 0x90}, "MOV P1,@R0", -1},
    {0x0000, {0x8B, 0x99}, "MOV SBUF,R3", -1},
    {0x0000, {0x90, 0x12, 0x34}, "MOV DPTR,#1234H", -1},
    {0x0000, {0x92, 0xB1}, "MOV P3.1,C", -1},
    {0x0000, {0xA2, 0xAF}, "MOV C,IE.7", -1},
    {0x0000, {0x94, 0x01}, "SUBB A,#01H", -1},
    {0x0000, {0x9F}, "SUBB A,R7", -1},
    {0x0000, {0xA5}, "DB 0A5H", -1},
    {0x0000, {0xA7, 0x30}, "MOV @R1,30H", -1},
    {0x0000, {0xA8, 0x82}, "MOV R0,DPL", -1},
    {0x0000, {0xB2, 0x95}, "CPL P1.5", -1},
    {0x0000, {0xB3}, "CPL C", -1},
    {0x0300, {0xB4, 0x0D, 0xFD}, "CJNE A,#0DH,0300H", 0x0300},
    {0x0300, {0xB5, 0x30, 0x01}, "CJNE A,30H,0304H", 0x0304},
    {0x0300, {0xB6, 0x00, 0x00}, "CJNE @R0,#00H,0303H", 0x0303},
    {0x0300, {0xBC, 0x05, 0x02}, "CJNE R4,#05H,0305H", 0x0305},
    {0x0000, {0xC0, 0xE0}, "PUSH ACC", -1},
    {0x0000, {0xD0, 0x83}, "POP DPH", -1},
    {0x0000, {0xC2, 0xAF}, "CLR IE.7", -1},
    {0x0000, {0xC3}, "CLR C", -1},
    {0x0000, {0xC4}, "SWAP A", -1},
    {0x0000, {0xC5, 0x31}, "XCH A,31H", -1},
    {0x0000, {0xC7}, "XCH A,@R1", -1},
    {0x0000, {0xCE}, "XCH A,R6", -1},
    {0x0000, {0xD2, 0x8E}, "SETB TCON.6", -1},
    {0x0000, {0xD3}, "SETB C", -1},
    {0x0000, {0xD4}, "DA A", -1},
    {0x0400, {0xD5, 0x30, 0xFD}, "DJNZ 30H,0400H", 0x0400},
    {0x0400, {0xD8, 0xFE}, "DJNZ R0,0400H", 0x0400},
    {0x0000, {0xD6}, "XCHD A,@R0", -1},
    {0x0000, {0xE0}, "MOVX A,@DPTR", -1},
    {0x0000, {0xE3}, "MOVX A,@R1", -1},
    {0x0000, {0xF0}, "MOVX @DPTR,A", -1},
    {0x0000, {0xF2}, "MOVX @R0,A", -1},
    {0x0000, {0xE4}, "CLR A", -1},
    {0x0000, {0xF4}, "CPL A", -1},
    {0x0000, {0xE5, 0xE0}, "MOV A,ACC", -1},
    {0x0000, {0xE9}, "MOV A,R1", -1},
    {0x0000, {0xF5, 0x87}, "MOV PCON,A", -1},
    {0x0000, {0xF6}, "MOV @R0,A", -1},
    {0x0000, {0xFF}, "MOV R7,A", -1},
};

TEST(Disassembler, KnownEncodings) {
  for (const Known& k : kKnown) {
    const kzhost::Instruction ins = kzhost::Disassemble(k.address, k.bytes.data());
    EXPECT_EQ(ins.text, k.text) << "opcode " << std::hex << +k.bytes[0];
    EXPECT_EQ(ins.target, k.target) << k.text;
    EXPECT_EQ(ins.address, k.address);
  }
}

// Lengths of all 256 opcodes, row by row as the instruction set's opcode map
// lays them out (high nibble down, low nibble across).
TEST(Disassembler, LengthOfEveryOpcode) {
  static const char* const kRows[16] = {
      "1231121111111111", "3231121111111111", "3211221111111111", "3211221111111111",
      "2223221111111111", "2223221111111111", "2223221111111111", "2221232222222222",
      "2221132222222222", "3221221111111111", "2221112222222222", "2221333333333333",
      "2221121111111111", "2221131122222222", "1211121111111111", "1211121111111111"};
  for (int op = 0; op < 256; ++op) {
    const int expected = kRows[op >> 4][op & 15] - '0';
    EXPECT_EQ(kzhost::InstructionLength(static_cast<std::uint8_t>(op)), expected)
        << "opcode " << std::hex << op;
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(op), 0x12, 0x34};
    const kzhost::Instruction ins = kzhost::Disassemble(0x100, bytes);
    EXPECT_EQ(ins.length, expected);
    EXPECT_NE(ins.text.rfind("DB", 0) == 0, op != 0xA5) << ins.text;
    EXPECT_EQ(ins.isCall, op == 0x12 || (op & 0x1F) == 0x11) << ins.text;
  }
}

}  // namespace
