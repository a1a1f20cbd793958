#include "cpu/Cpu8051.h"

#include <array>
#include <bit>

#include "cpu/ExecutionCounts.h"

namespace kzemu {

namespace {

constexpr std::uint8_t kCY = 0x80, kAC = 0x40, kOV = 0x04;

// Machine cycles per opcode (12 oscillator periods each). A5h counts as a
// 1-cycle NOP.
// clang-format off
constexpr std::uint8_t kCycles[256] = {
//  0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F
    1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x
    2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 1x
    2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 2x
    2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 3x
    2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 4x
    2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 5x
    2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 6x
    2, 2, 2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 7x
    2, 2, 2, 2, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 8x
    2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 9x
    2, 2, 1, 2, 4, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // Ax
    2, 2, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // Bx
    2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // Cx
    2, 2, 1, 1, 1, 2, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,  // Dx
    2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // Ex
    2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // Fx
};
// clang-format on

// Opcodes that call or return (LCALL, ACALL, RET, RETI): what counting follows.
constexpr std::array<bool, 256> kFlow = [] {
  std::array<bool, 256> t{};
  for (int op = 0; op < 256; ++op)
    t[op] = op == 0x12 || (op & 0x1F) == 0x11 || op == 0x22 || op == 0x32;
  return t;
}();

inline std::uint8_t Parity(std::uint8_t v) {
  return static_cast<std::uint8_t>(std::popcount(static_cast<unsigned>(v)) & 1);
}

int HexNibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Advances one timer in modes 0..2 by k counts; returns the overflows.
int AdvanceTimer(std::uint8_t& tl, std::uint8_t& th, int mode, int k) {
  switch (mode) {
    case 0: {  // 13 bits: TL4..0 below TH
      unsigned v = static_cast<unsigned>(th) << 5 | (tl & 0x1F);
      v += static_cast<unsigned>(k);
      tl = static_cast<std::uint8_t>((tl & 0xE0) | (v & 0x1F));
      th = static_cast<std::uint8_t>(v >> 5);
      return v > 0x1FFF ? 1 : 0;
    }
    case 1: {
      const unsigned v = (static_cast<unsigned>(th) << 8 | tl) + static_cast<unsigned>(k);
      tl = static_cast<std::uint8_t>(v);
      th = static_cast<std::uint8_t>(v >> 8);
      return v > 0xFFFF ? 1 : 0;
    }
    default: {  // 8 bits, TL reloaded from TH on each overflow
      int ovf = 0;
      int t = tl;
      while (t + k > 0xFF) {
        k -= 0x100 - t;
        t = th;
        ++ovf;
      }
      tl = static_cast<std::uint8_t>(t + k);
      return ovf;
    }
  }
}

}  // namespace

// Instruction handlers. Operand names: a = accumulator, r = Rn, ir = @Ri,
// mem = direct address, imm = #data, bitaddr = bit address, rel = relative
// offset, addr11/addr16 = absolute targets. Bit patterns show the opcode byte
// (rrr = register, i = @R0/@R1, aaa = address bits 10..8).
struct Cpu8051::Ops {
  using u8 = std::uint8_t;
  using u16 = std::uint16_t;

  // ---- operand access ----------------------------------------------------
  static u8& acc(Cpu8051& c) { return c.sfr_[sfr::ACC - 0x80]; }
  static u8& bReg(Cpu8051& c) { return c.sfr_[sfr::B - 0x80]; }
  static u8& psw(Cpu8051& c) { return c.sfr_[sfr::PSW - 0x80]; }
  static u8& sp(Cpu8051& c) { return c.sfr_[sfr::SP - 0x80]; }
  static u8& reg(Cpu8051& c, u8 op) { return c.iram[c.rb_ + (op & 7)]; }
  // @Ri always addresses internal RAM, including 80h..FFh.
  static u8& ind(Cpu8051& c, u8 op) { return c.iram[c.iram[c.rb_ + (op & 1)]]; }
  static u8 fetch(Cpu8051& c) { return c.code[c.pc++]; }
  static u16 dptr(Cpu8051& c) { return c.Dptr(); }
  static void setDptr(Cpu8051& c, u16 v) {
    c.sfr_[sfr::DPL - 0x80] = static_cast<u8>(v);
    c.sfr_[sfr::DPH - 0x80] = static_cast<u8>(v >> 8);
  }
  static bool cy(Cpu8051& c) { return psw(c) & kCY; }
  static void setCy(Cpu8051& c, bool v) {
    psw(c) = static_cast<u8>((psw(c) & ~kCY) | (v ? kCY : 0));
  }

  // Read-modify-write instructions read the port latch, not the pins.
  static u8 readLatch(Cpu8051& c, u8 a) { return a < 0x80 ? c.iram[a] : c.sfr_[a - 0x80]; }

  static void push(Cpu8051& c, u8 v) { c.iram[++sp(c)] = v; }
  static u8 pop(Cpu8051& c) { return c.iram[sp(c)--]; }
  static void pushPc(Cpu8051& c) {
    push(c, static_cast<u8>(c.pc));
    push(c, static_cast<u8>(c.pc >> 8));
  }
  static void jumpRel(Cpu8051& c, u8 rel) {
    c.pc = static_cast<u16>(c.pc + static_cast<std::int8_t>(rel));
  }

  // Bit space: 00..7F are RAM 20h..2Fh, 80..FF are bits of SFRs at x0h/x8h.
  static u8 bitByte(u8 b) { return b < 0x80 ? static_cast<u8>(0x20 + (b >> 3)) : (b & 0xF8); }
  static bool readBit(Cpu8051& c, u8 b) { return (c.ReadDirect(bitByte(b)) >> (b & 7)) & 1; }
  static bool readBitLatch(Cpu8051& c, u8 b) { return (readLatch(c, bitByte(b)) >> (b & 7)) & 1; }
  static void writeBit(Cpu8051& c, u8 b, bool v) {
    const u8 a = bitByte(b);
    const u8 m = static_cast<u8>(1u << (b & 7));
    if (a < 0x80) {
      c.iram[a] = static_cast<u8>(v ? (c.iram[a] | m) : (c.iram[a] & ~m));
    } else {
      const u8 old = c.sfr_[a - 0x80];
      c.SfrWrite(a, static_cast<u8>(v ? (old | m) : (old & ~m)));
    }
  }

  // ---- arithmetic --------------------------------------------------------
  static void add(Cpu8051& c, u8 v, bool carryIn) {
    const u8 a = acc(c);
    const unsigned ci = carryIn ? 1 : 0;
    const unsigned sum = a + v + ci;
    const bool c3 = ((a & 0x0F) + (v & 0x0F) + ci) > 0x0F;
    const bool c6 = ((a & 0x7F) + (v & 0x7F) + ci) > 0x7F;
    const bool c7 = sum > 0xFF;
    u8 f = psw(c) & static_cast<u8>(~(kCY | kAC | kOV));
    if (c7) f |= kCY;
    if (c3) f |= kAC;
    if (c6 != c7) f |= kOV;
    psw(c) = f;
    acc(c) = static_cast<u8>(sum);
  }
  static void subb(Cpu8051& c, u8 v) {
    const u8 a = acc(c);
    const int ci = cy(c) ? 1 : 0;
    const int diff = a - v - ci;
    const bool b3 = (a & 0x0F) < (v & 0x0F) + ci;
    const bool b6 = (a & 0x7F) < (v & 0x7F) + ci;
    const bool b7 = diff < 0;
    u8 f = psw(c) & static_cast<u8>(~(kCY | kAC | kOV));
    if (b7) f |= kCY;
    if (b3) f |= kAC;
    if (b6 != b7) f |= kOV;
    psw(c) = f;
    acc(c) = static_cast<u8>(diff);
  }
  static void cjne(Cpu8051& c, u8 x, u8 y) {
    const u8 rel = fetch(c);
    setCy(c, x < y);
    if (x != y) jumpRel(c, rel);
  }

  // ---- 0x0_ --------------------------------------------------------------
  // 0000 0000
  static void nop(Cpu8051&) {}
  // aaa0 0001 (op & 0xE0 = address bits 10..8)
  static void ajmp_addr11(Cpu8051& c, u8 op) {
    const u8 lo = fetch(c);
    c.pc = static_cast<u16>((c.pc & 0xF800) | ((op & 0xE0) << 3) | lo);
  }
  // 0000 0010
  static void ljmp_addr16(Cpu8051& c) {
    const u8 hi = fetch(c);
    const u8 lo = fetch(c);
    c.pc = static_cast<u16>(hi << 8 | lo);
  }
  // 0000 0011
  static void rr_a(Cpu8051& c) { acc(c) = static_cast<u8>(acc(c) >> 1 | acc(c) << 7); }
  // 0000 0100
  static void inc_a(Cpu8051& c) { ++acc(c); }
  // 0000 0101
  static void inc_mem(Cpu8051& c) {
    const u8 a = fetch(c);
    c.WriteDirect(a, static_cast<u8>(readLatch(c, a) + 1));
  }
  // 0000 011i
  static void inc_ir(Cpu8051& c, u8 op) { ++ind(c, op); }
  // 0000 1rrr
  static void inc_r(Cpu8051& c, u8 op) { ++reg(c, op); }

  // ---- 0x1_ --------------------------------------------------------------
  // 0001 0000
  static void jbc_bitaddr_rel(Cpu8051& c) {
    const u8 b = fetch(c);
    const u8 rel = fetch(c);
    if (readBitLatch(c, b)) {
      writeBit(c, b, false);
      jumpRel(c, rel);
    }
  }
  // aaa1 0001
  static void acall_addr11(Cpu8051& c, u8 op) {
    const u8 lo = fetch(c);
    pushPc(c);
    c.pc = static_cast<u16>((c.pc & 0xF800) | ((op & 0xE0) << 3) | lo);
  }
  // 0001 0010
  static void lcall_addr16(Cpu8051& c) {
    const u8 hi = fetch(c);
    const u8 lo = fetch(c);
    pushPc(c);
    c.pc = static_cast<u16>(hi << 8 | lo);
  }
  // 0001 0011
  static void rrc_a(Cpu8051& c) {
    const u8 a = acc(c);
    acc(c) = static_cast<u8>(a >> 1 | (cy(c) ? 0x80 : 0));
    setCy(c, a & 1);
  }
  // 0001 0100
  static void dec_a(Cpu8051& c) { --acc(c); }
  // 0001 0101
  static void dec_mem(Cpu8051& c) {
    const u8 a = fetch(c);
    c.WriteDirect(a, static_cast<u8>(readLatch(c, a) - 1));
  }
  // 0001 011i
  static void dec_ir(Cpu8051& c, u8 op) { --ind(c, op); }
  // 0001 1rrr
  static void dec_r(Cpu8051& c, u8 op) { --reg(c, op); }

  // ---- 0x2_ / 0x3_ -------------------------------------------------------
  // 0010 0000
  static void jb_bitaddr_rel(Cpu8051& c) {
    const u8 b = fetch(c);
    const u8 rel = fetch(c);
    if (readBit(c, b)) jumpRel(c, rel);
  }
  // 0011 0000
  static void jnb_bitaddr_rel(Cpu8051& c) {
    const u8 b = fetch(c);
    const u8 rel = fetch(c);
    if (!readBit(c, b)) jumpRel(c, rel);
  }
  // 0010 0010
  static void ret(Cpu8051& c) {
    const u8 hi = pop(c);
    const u8 lo = pop(c);
    c.pc = static_cast<u16>(hi << 8 | lo);
  }
  // 0011 0010
  static void reti(Cpu8051& c) {
    ret(c);
    // Ends the highest level in service; one more instruction runs before the
    // next interrupt is taken.
    if (c.inService_ & 2)
      c.inService_ &= static_cast<u8>(~2);
    else
      c.inService_ &= static_cast<u8>(~1);
    c.blockIrq_ = true;
  }
  // 0010 0011
  static void rl_a(Cpu8051& c) { acc(c) = static_cast<u8>(acc(c) << 1 | acc(c) >> 7); }
  // 0011 0011
  static void rlc_a(Cpu8051& c) {
    const u8 a = acc(c);
    acc(c) = static_cast<u8>(a << 1 | (cy(c) ? 1 : 0));
    setCy(c, a & 0x80);
  }
  // 0010 0100
  static void add_a_imm(Cpu8051& c) { add(c, fetch(c), false); }
  // 0010 0101
  static void add_a_mem(Cpu8051& c) { add(c, c.ReadDirect(fetch(c)), false); }
  // 0010 011i
  static void add_a_ir(Cpu8051& c, u8 op) { add(c, ind(c, op), false); }
  // 0010 1rrr
  static void add_a_r(Cpu8051& c, u8 op) { add(c, reg(c, op), false); }
  // 0011 0100
  static void addc_a_imm(Cpu8051& c) { add(c, fetch(c), cy(c)); }
  // 0011 0101
  static void addc_a_mem(Cpu8051& c) { add(c, c.ReadDirect(fetch(c)), cy(c)); }
  // 0011 011i
  static void addc_a_ir(Cpu8051& c, u8 op) { add(c, ind(c, op), cy(c)); }
  // 0011 1rrr
  static void addc_a_r(Cpu8051& c, u8 op) { add(c, reg(c, op), cy(c)); }

  // ---- 0x4_ .. 0x6_: conditional jumps and logic -------------------------
  // 0100 0000
  static void jc_rel(Cpu8051& c) {
    const u8 rel = fetch(c);
    if (cy(c)) jumpRel(c, rel);
  }
  // 0101 0000
  static void jnc_rel(Cpu8051& c) {
    const u8 rel = fetch(c);
    if (!cy(c)) jumpRel(c, rel);
  }
  // 0110 0000
  static void jz_rel(Cpu8051& c) {
    const u8 rel = fetch(c);
    if (acc(c) == 0) jumpRel(c, rel);
  }
  // 0111 0000
  static void jnz_rel(Cpu8051& c) {
    const u8 rel = fetch(c);
    if (acc(c) != 0) jumpRel(c, rel);
  }
  // 0100 0010
  static void orl_mem_a(Cpu8051& c) {
    const u8 a = fetch(c);
    c.WriteDirect(a, readLatch(c, a) | acc(c));
  }
  // 0100 0011
  static void orl_mem_imm(Cpu8051& c) {
    const u8 a = fetch(c);
    const u8 v = fetch(c);
    c.WriteDirect(a, readLatch(c, a) | v);
  }
  // 0100 0100
  static void orl_a_imm(Cpu8051& c) { acc(c) |= fetch(c); }
  // 0100 0101
  static void orl_a_mem(Cpu8051& c) { acc(c) |= c.ReadDirect(fetch(c)); }
  // 0100 011i
  static void orl_a_ir(Cpu8051& c, u8 op) { acc(c) |= ind(c, op); }
  // 0100 1rrr
  static void orl_a_r(Cpu8051& c, u8 op) { acc(c) |= reg(c, op); }
  // 0101 0010
  static void anl_mem_a(Cpu8051& c) {
    const u8 a = fetch(c);
    c.WriteDirect(a, readLatch(c, a) & acc(c));
  }
  // 0101 0011
  static void anl_mem_imm(Cpu8051& c) {
    const u8 a = fetch(c);
    const u8 v = fetch(c);
    c.WriteDirect(a, readLatch(c, a) & v);
  }
  // 0101 0100
  static void anl_a_imm(Cpu8051& c) { acc(c) &= fetch(c); }
  // 0101 0101
  static void anl_a_mem(Cpu8051& c) { acc(c) &= c.ReadDirect(fetch(c)); }
  // 0101 011i
  static void anl_a_ir(Cpu8051& c, u8 op) { acc(c) &= ind(c, op); }
  // 0101 1rrr
  static void anl_a_r(Cpu8051& c, u8 op) { acc(c) &= reg(c, op); }
  // 0110 0010
  static void xrl_mem_a(Cpu8051& c) {
    const u8 a = fetch(c);
    c.WriteDirect(a, readLatch(c, a) ^ acc(c));
  }
  // 0110 0011
  static void xrl_mem_imm(Cpu8051& c) {
    const u8 a = fetch(c);
    const u8 v = fetch(c);
    c.WriteDirect(a, readLatch(c, a) ^ v);
  }
  // 0110 0100
  static void xrl_a_imm(Cpu8051& c) { acc(c) ^= fetch(c); }
  // 0110 0101
  static void xrl_a_mem(Cpu8051& c) { acc(c) ^= c.ReadDirect(fetch(c)); }
  // 0110 011i
  static void xrl_a_ir(Cpu8051& c, u8 op) { acc(c) ^= ind(c, op); }
  // 0110 1rrr
  static void xrl_a_r(Cpu8051& c, u8 op) { acc(c) ^= reg(c, op); }

  // ---- 0x7_ / 0x8_ -------------------------------------------------------
  // 0111 0010
  static void orl_c_bitaddr(Cpu8051& c) {
    const u8 b = fetch(c);
    if (readBit(c, b)) setCy(c, true);
  }
  // 1000 0010
  static void anl_c_bitaddr(Cpu8051& c) {
    const u8 b = fetch(c);
    if (!readBit(c, b)) setCy(c, false);
  }
  // 1010 0000
  static void orl_c_nbitaddr(Cpu8051& c) {
    const u8 b = fetch(c);
    if (!readBit(c, b)) setCy(c, true);
  }
  // 1011 0000
  static void anl_c_nbitaddr(Cpu8051& c) {
    const u8 b = fetch(c);
    if (readBit(c, b)) setCy(c, false);
  }
  // 0111 0011
  static void jmp_indir_a_dptr(Cpu8051& c) { c.pc = static_cast<u16>(dptr(c) + acc(c)); }
  // 0111 0100
  static void mov_a_imm(Cpu8051& c) { acc(c) = fetch(c); }
  // 0111 0101
  static void mov_mem_imm(Cpu8051& c) {
    const u8 a = fetch(c);
    c.WriteDirect(a, fetch(c));
  }
  // 0111 011i
  static void mov_ir_imm(Cpu8051& c, u8 op) { ind(c, op) = fetch(c); }
  // 0111 1rrr
  static void mov_r_imm(Cpu8051& c, u8 op) { reg(c, op) = fetch(c); }
  // 1000 0000
  static void sjmp_rel(Cpu8051& c) { jumpRel(c, fetch(c)); }
  // 1000 0011 (PC already points past this instruction)
  static void movc_a_indir_a_pc(Cpu8051& c) { acc(c) = c.code[static_cast<u16>(c.pc + acc(c))]; }
  // 1000 0100
  static void div_ab(Cpu8051& c) {
    u8 f = psw(c) & static_cast<u8>(~(kCY | kOV));
    const u8 b = bReg(c);
    if (b == 0) {
      f |= kOV;  // A and B stay as they were
    } else {
      const u8 a = acc(c);
      acc(c) = static_cast<u8>(a / b);
      bReg(c) = static_cast<u8>(a % b);
    }
    psw(c) = f;
  }
  // 1000 0101 (encoded source first, then destination)
  static void mov_mem_mem(Cpu8051& c) {
    const u8 src = fetch(c);
    const u8 dst = fetch(c);
    c.WriteDirect(dst, c.ReadDirect(src));
  }
  // 1000 011i
  static void mov_mem_ir(Cpu8051& c, u8 op) { c.WriteDirect(fetch(c), ind(c, op)); }
  // 1000 1rrr
  static void mov_mem_r(Cpu8051& c, u8 op) { c.WriteDirect(fetch(c), reg(c, op)); }

  // ---- 0x9_ / 0xA_ -------------------------------------------------------
  // 1001 0000
  static void mov_dptr_imm(Cpu8051& c) {
    const u8 hi = fetch(c);
    const u8 lo = fetch(c);
    setDptr(c, static_cast<u16>(hi << 8 | lo));
  }
  // 1001 0010 (writes the whole byte back from the latch)
  static void mov_bitaddr_c(Cpu8051& c) { writeBit(c, fetch(c), cy(c)); }
  // 1001 0011
  static void movc_a_indir_a_dptr(Cpu8051& c) {
    acc(c) = c.code[static_cast<u16>(dptr(c) + acc(c))];
  }
  // 1001 0100
  static void subb_a_imm(Cpu8051& c) { subb(c, fetch(c)); }
  // 1001 0101
  static void subb_a_mem(Cpu8051& c) { subb(c, c.ReadDirect(fetch(c))); }
  // 1001 011i
  static void subb_a_ir(Cpu8051& c, u8 op) { subb(c, ind(c, op)); }
  // 1001 1rrr
  static void subb_a_r(Cpu8051& c, u8 op) { subb(c, reg(c, op)); }
  // 1010 0010
  static void mov_c_bitaddr(Cpu8051& c) { setCy(c, readBit(c, fetch(c))); }
  // 1010 0011
  static void inc_dptr(Cpu8051& c) { setDptr(c, static_cast<u16>(dptr(c) + 1)); }
  // 1010 0100
  static void mul_ab(Cpu8051& c) {
    const unsigned p = static_cast<unsigned>(acc(c)) * bReg(c);
    acc(c) = static_cast<u8>(p);
    bReg(c) = static_cast<u8>(p >> 8);
    u8 f = psw(c) & static_cast<u8>(~(kCY | kOV));
    if (p > 0xFF) f |= kOV;
    psw(c) = f;
  }
  // 1010 0101: not an MCS-51 instruction; runs as a 1-byte NOP.
  static void undefined_a5(Cpu8051&) {}
  // 1010 011i
  static void mov_ir_mem(Cpu8051& c, u8 op) { ind(c, op) = c.ReadDirect(fetch(c)); }
  // 1010 1rrr
  static void mov_r_mem(Cpu8051& c, u8 op) { reg(c, op) = c.ReadDirect(fetch(c)); }

  // ---- 0xB_ / 0xC_ -------------------------------------------------------
  // 1011 0010
  static void cpl_bitaddr(Cpu8051& c) {
    const u8 b = fetch(c);
    writeBit(c, b, !readBitLatch(c, b));
  }
  // 1011 0011
  static void cpl_c(Cpu8051& c) { psw(c) ^= kCY; }
  // 1011 0100
  static void cjne_a_imm_rel(Cpu8051& c) {
    const u8 v = fetch(c);
    cjne(c, acc(c), v);
  }
  // 1011 0101
  static void cjne_a_mem_rel(Cpu8051& c) {
    const u8 v = c.ReadDirect(fetch(c));
    cjne(c, acc(c), v);
  }
  // 1011 011i
  static void cjne_ir_imm_rel(Cpu8051& c, u8 op) {
    const u8 v = fetch(c);
    cjne(c, ind(c, op), v);
  }
  // 1011 1rrr
  static void cjne_r_imm_rel(Cpu8051& c, u8 op) {
    const u8 v = fetch(c);
    cjne(c, reg(c, op), v);
  }
  // 1100 0000
  static void push_mem(Cpu8051& c) {
    const u8 v = c.ReadDirect(fetch(c));
    push(c, v);
  }
  // 1100 0010
  static void clr_bitaddr(Cpu8051& c) { writeBit(c, fetch(c), false); }
  // 1100 0011
  static void clr_c(Cpu8051& c) { setCy(c, false); }
  // 1100 0100
  static void swap_a(Cpu8051& c) { acc(c) = static_cast<u8>(acc(c) << 4 | acc(c) >> 4); }
  // 1100 0101
  static void xch_a_mem(Cpu8051& c) {
    const u8 a = fetch(c);
    const u8 v = c.ReadDirect(a);
    c.WriteDirect(a, acc(c));
    acc(c) = v;
  }
  // 1100 011i
  static void xch_a_ir(Cpu8051& c, u8 op) {
    u8& m = ind(c, op);
    const u8 v = m;
    m = acc(c);
    acc(c) = v;
  }
  // 1100 1rrr
  static void xch_a_r(Cpu8051& c, u8 op) {
    u8& m = reg(c, op);
    const u8 v = m;
    m = acc(c);
    acc(c) = v;
  }

  // ---- 0xD_ --------------------------------------------------------------
  // 1101 0000 (SP is decremented before the write, so POP SP keeps the popped value)
  static void pop_mem(Cpu8051& c) {
    const u8 a = fetch(c);
    const u8 v = pop(c);
    c.WriteDirect(a, v);
  }
  // 1101 0010
  static void setb_bitaddr(Cpu8051& c) { writeBit(c, fetch(c), true); }
  // 1101 0011
  static void setb_c(Cpu8051& c) { setCy(c, true); }
  // 1101 0100: adds 6 to a nibble above 9 (or with its carry set); CY is only
  // ever set here, never cleared.
  static void da_a(Cpu8051& c) {
    unsigned v = acc(c);
    bool carry = cy(c);
    if ((v & 0x0F) > 9 || (psw(c) & kAC)) {
      v += 0x06;
      if (v > 0xFF) carry = true;
      v &= 0xFF;
    }
    if ((v & 0xF0) > 0x90 || carry) {
      v += 0x60;
      if (v > 0xFF) carry = true;
    }
    acc(c) = static_cast<u8>(v);
    setCy(c, carry);
  }
  // 1101 0101
  static void djnz_mem_rel(Cpu8051& c) {
    const u8 a = fetch(c);
    const u8 rel = fetch(c);
    const u8 v = static_cast<u8>(readLatch(c, a) - 1);
    c.WriteDirect(a, v);
    if (v != 0) jumpRel(c, rel);
  }
  // 1101 011i
  static void xchd_a_ir(Cpu8051& c, u8 op) {
    u8& m = ind(c, op);
    const u8 a = acc(c);
    acc(c) = static_cast<u8>((a & 0xF0) | (m & 0x0F));
    m = static_cast<u8>((m & 0xF0) | (a & 0x0F));
  }
  // 1101 1rrr
  static void djnz_r_rel(Cpu8051& c, u8 op) {
    const u8 rel = fetch(c);
    if (--reg(c, op) != 0) jumpRel(c, rel);
  }

  // ---- 0xE_ / 0xF_ -------------------------------------------------------
  // 1110 0000
  static void movx_a_indir_dptr(Cpu8051& c) { acc(c) = c.xdata[dptr(c)]; }
  // 1110 001i (P2 supplies the high address byte)
  static void movx_a_ir(Cpu8051& c, u8 op) {
    acc(c) = c.xdata[static_cast<u16>(c.sfr_[sfr::P2 - 0x80] << 8 | reg(c, op & 1))];
  }
  // 1110 0100
  static void clr_a(Cpu8051& c) { acc(c) = 0; }
  // 1110 0101
  static void mov_a_mem(Cpu8051& c) { acc(c) = c.ReadDirect(fetch(c)); }
  // 1110 011i
  static void mov_a_ir(Cpu8051& c, u8 op) { acc(c) = ind(c, op); }
  // 1110 1rrr
  static void mov_a_r(Cpu8051& c, u8 op) { acc(c) = reg(c, op); }
  // 1111 0000
  static void movx_indir_dptr_a(Cpu8051& c) { c.xdata[dptr(c)] = acc(c); }
  // 1111 001i
  static void movx_ir_a(Cpu8051& c, u8 op) {
    c.xdata[static_cast<u16>(c.sfr_[sfr::P2 - 0x80] << 8 | reg(c, op & 1))] = acc(c);
  }
  // 1111 0100
  static void cpl_a(Cpu8051& c) { acc(c) = static_cast<u8>(~acc(c)); }
  // 1111 0101
  static void mov_mem_a(Cpu8051& c) { c.WriteDirect(fetch(c), acc(c)); }
  // 1111 011i
  static void mov_ir_a(Cpu8051& c, u8 op) { ind(c, op) = acc(c); }
  // 1111 1rrr
  static void mov_r_a(Cpu8051& c, u8 op) { reg(c, op) = acc(c); }

  static void Execute(Cpu8051& c, u8 op);
};

#define KZ_R8(base) \
  case base:        \
  case base + 1:    \
  case base + 2:    \
  case base + 3:    \
  case base + 4:    \
  case base + 5:    \
  case base + 6:    \
  case base + 7
#define KZ_I2(base) \
  case base:        \
  case base + 1
#define KZ_PAGES(low) \
  case 0x00 + low:    \
  case 0x20 + low:    \
  case 0x40 + low:    \
  case 0x60 + low:    \
  case 0x80 + low:    \
  case 0xA0 + low:    \
  case 0xC0 + low:    \
  case 0xE0 + low

inline __attribute__((always_inline)) void Cpu8051::Ops::Execute(Cpu8051& c, u8 op) {
  switch (op) {
    case 0x00:
      nop(c);
      break;
      KZ_PAGES(0x01) : ajmp_addr11(c, op);
      break;
      KZ_PAGES(0x11) : acall_addr11(c, op);
      break;
    case 0x02:
      ljmp_addr16(c);
      break;
    case 0x03:
      rr_a(c);
      break;
    case 0x04:
      inc_a(c);
      break;
    case 0x05:
      inc_mem(c);
      break;
      KZ_I2(0x06) : inc_ir(c, op);
      break;
      KZ_R8(0x08) : inc_r(c, op);
      break;

    case 0x10:
      jbc_bitaddr_rel(c);
      break;
    case 0x12:
      lcall_addr16(c);
      break;
    case 0x13:
      rrc_a(c);
      break;
    case 0x14:
      dec_a(c);
      break;
    case 0x15:
      dec_mem(c);
      break;
      KZ_I2(0x16) : dec_ir(c, op);
      break;
      KZ_R8(0x18) : dec_r(c, op);
      break;

    case 0x20:
      jb_bitaddr_rel(c);
      break;
    case 0x22:
      ret(c);
      break;
    case 0x23:
      rl_a(c);
      break;
    case 0x24:
      add_a_imm(c);
      break;
    case 0x25:
      add_a_mem(c);
      break;
      KZ_I2(0x26) : add_a_ir(c, op);
      break;
      KZ_R8(0x28) : add_a_r(c, op);
      break;

    case 0x30:
      jnb_bitaddr_rel(c);
      break;
    case 0x32:
      reti(c);
      break;
    case 0x33:
      rlc_a(c);
      break;
    case 0x34:
      addc_a_imm(c);
      break;
    case 0x35:
      addc_a_mem(c);
      break;
      KZ_I2(0x36) : addc_a_ir(c, op);
      break;
      KZ_R8(0x38) : addc_a_r(c, op);
      break;

    case 0x40:
      jc_rel(c);
      break;
    case 0x42:
      orl_mem_a(c);
      break;
    case 0x43:
      orl_mem_imm(c);
      break;
    case 0x44:
      orl_a_imm(c);
      break;
    case 0x45:
      orl_a_mem(c);
      break;
      KZ_I2(0x46) : orl_a_ir(c, op);
      break;
      KZ_R8(0x48) : orl_a_r(c, op);
      break;

    case 0x50:
      jnc_rel(c);
      break;
    case 0x52:
      anl_mem_a(c);
      break;
    case 0x53:
      anl_mem_imm(c);
      break;
    case 0x54:
      anl_a_imm(c);
      break;
    case 0x55:
      anl_a_mem(c);
      break;
      KZ_I2(0x56) : anl_a_ir(c, op);
      break;
      KZ_R8(0x58) : anl_a_r(c, op);
      break;

    case 0x60:
      jz_rel(c);
      break;
    case 0x62:
      xrl_mem_a(c);
      break;
    case 0x63:
      xrl_mem_imm(c);
      break;
    case 0x64:
      xrl_a_imm(c);
      break;
    case 0x65:
      xrl_a_mem(c);
      break;
      KZ_I2(0x66) : xrl_a_ir(c, op);
      break;
      KZ_R8(0x68) : xrl_a_r(c, op);
      break;

    case 0x70:
      jnz_rel(c);
      break;
    case 0x72:
      orl_c_bitaddr(c);
      break;
    case 0x73:
      jmp_indir_a_dptr(c);
      break;
    case 0x74:
      mov_a_imm(c);
      break;
    case 0x75:
      mov_mem_imm(c);
      break;
      KZ_I2(0x76) : mov_ir_imm(c, op);
      break;
      KZ_R8(0x78) : mov_r_imm(c, op);
      break;

    case 0x80:
      sjmp_rel(c);
      break;
    case 0x82:
      anl_c_bitaddr(c);
      break;
    case 0x83:
      movc_a_indir_a_pc(c);
      break;
    case 0x84:
      div_ab(c);
      break;
    case 0x85:
      mov_mem_mem(c);
      break;
      KZ_I2(0x86) : mov_mem_ir(c, op);
      break;
      KZ_R8(0x88) : mov_mem_r(c, op);
      break;

    case 0x90:
      mov_dptr_imm(c);
      break;
    case 0x92:
      mov_bitaddr_c(c);
      break;
    case 0x93:
      movc_a_indir_a_dptr(c);
      break;
    case 0x94:
      subb_a_imm(c);
      break;
    case 0x95:
      subb_a_mem(c);
      break;
      KZ_I2(0x96) : subb_a_ir(c, op);
      break;
      KZ_R8(0x98) : subb_a_r(c, op);
      break;

    case 0xA0:
      orl_c_nbitaddr(c);
      break;
    case 0xA2:
      mov_c_bitaddr(c);
      break;
    case 0xA3:
      inc_dptr(c);
      break;
    case 0xA4:
      mul_ab(c);
      break;
    case 0xA5:
      undefined_a5(c);
      break;
      KZ_I2(0xA6) : mov_ir_mem(c, op);
      break;
      KZ_R8(0xA8) : mov_r_mem(c, op);
      break;

    case 0xB0:
      anl_c_nbitaddr(c);
      break;
    case 0xB2:
      cpl_bitaddr(c);
      break;
    case 0xB3:
      cpl_c(c);
      break;
    case 0xB4:
      cjne_a_imm_rel(c);
      break;
    case 0xB5:
      cjne_a_mem_rel(c);
      break;
      KZ_I2(0xB6) : cjne_ir_imm_rel(c, op);
      break;
      KZ_R8(0xB8) : cjne_r_imm_rel(c, op);
      break;

    case 0xC0:
      push_mem(c);
      break;
    case 0xC2:
      clr_bitaddr(c);
      break;
    case 0xC3:
      clr_c(c);
      break;
    case 0xC4:
      swap_a(c);
      break;
    case 0xC5:
      xch_a_mem(c);
      break;
      KZ_I2(0xC6) : xch_a_ir(c, op);
      break;
      KZ_R8(0xC8) : xch_a_r(c, op);
      break;

    case 0xD0:
      pop_mem(c);
      break;
    case 0xD2:
      setb_bitaddr(c);
      break;
    case 0xD3:
      setb_c(c);
      break;
    case 0xD4:
      da_a(c);
      break;
    case 0xD5:
      djnz_mem_rel(c);
      break;
      KZ_I2(0xD6) : xchd_a_ir(c, op);
      break;
      KZ_R8(0xD8) : djnz_r_rel(c, op);
      break;

    case 0xE0:
      movx_a_indir_dptr(c);
      break;
      KZ_I2(0xE2) : movx_a_ir(c, op);
      break;
    case 0xE4:
      clr_a(c);
      break;
    case 0xE5:
      mov_a_mem(c);
      break;
      KZ_I2(0xE6) : mov_a_ir(c, op);
      break;
      KZ_R8(0xE8) : mov_a_r(c, op);
      break;

    case 0xF0:
      movx_indir_dptr_a(c);
      break;
      KZ_I2(0xF2) : movx_ir_a(c, op);
      break;
    case 0xF4:
      cpl_a(c);
      break;
    case 0xF5:
      mov_mem_a(c);
      break;
      KZ_I2(0xF6) : mov_ir_a(c, op);
      break;
      KZ_R8(0xF8) : mov_r_a(c, op);
      break;
  }
}

#undef KZ_R8
#undef KZ_I2
#undef KZ_PAGES

// ---- machine ---------------------------------------------------------------

Cpu8051::Cpu8051() {
  Reset();
}

void Cpu8051::Reset() {
  sfr_.fill(0);
  sfr_[sfr::SP - 0x80] = 0x07;
  sfr_[sfr::P0 - 0x80] = 0xFF;
  sfr_[sfr::P1 - 0x80] = 0xFF;
  sfr_[sfr::P2 - 0x80] = 0xFF;
  sfr_[sfr::P3 - 0x80] = 0xFF;
  pc = 0;
  rb_ = 0;
  blockIrq_ = false;
  idle_ = false;
  powerDown_ = false;
  inService_ = 0;
  txCount_ = 0;
  rxCount_ = 0;
  rxHeld_ = false;
  pinsP3_ = static_cast<std::uint8_t>(sfr_[sfr::P3 - 0x80] & portPins[3]);
  Refresh();
  if (counts_ != nullptr) counts_->Abandon(cycles, instructions);
}

std::uint8_t Cpu8051::ReadSfr(std::uint8_t a) const {
  if (a < 0x80) return 0;
  const std::uint8_t v = sfr_[a - 0x80];
  if (a == sfr::PSW) return static_cast<std::uint8_t>((v & 0xFE) | Parity(sfr_[sfr::ACC - 0x80]));
  return v;
}

void Cpu8051::WriteSfr(std::uint8_t a, std::uint8_t v) {
  if (a < 0x80) return;
  sfr_[a - 0x80] = v;
  if (a == sfr::PSW) rb_ = v & 0x18;
  Refresh();
}

std::uint8_t Cpu8051::ReadSfrDirect(std::uint8_t a) {
  switch (a) {
    case sfr::PSW:
      return ReadSfr(a);
    case sfr::P0:
      return static_cast<std::uint8_t>(sfr_[a - 0x80] & portPins[0]);
    case sfr::P1:
      return static_cast<std::uint8_t>(sfr_[a - 0x80] & portPins[1]);
    case sfr::P2:
      return static_cast<std::uint8_t>(sfr_[a - 0x80] & portPins[2]);
    case sfr::P3:
      return static_cast<std::uint8_t>(sfr_[a - 0x80] & portPins[3]);
    default:
      return sfr_[a - 0x80];
  }
}

void Cpu8051::SfrWrite(std::uint8_t a, std::uint8_t v) {
  switch (a) {
    case sfr::PSW:
      sfr_[a - 0x80] = v;
      rb_ = v & 0x18;
      return;
    case sfr::SBUF:
      // The receive buffer keeps its value; the byte goes to the shifter.
      txByte_ = v;
      txCount_ = FrameCycles();
      periph_ = true;
      return;
    case sfr::IE:
    case sfr::IP:
      sfr_[a - 0x80] = v;
      blockIrq_ = true;
      return;
    case sfr::PCON:
      sfr_[a - 0x80] = v;
      if (v & 0x02)
        powerDown_ = true;
      else if (v & 0x01)
        idle_ = true;
      return;
    case sfr::TCON:
    case sfr::TMOD:
    case sfr::SCON:
    case sfr::P3:
      sfr_[a - 0x80] = v;
      Refresh();
      return;
    default:
      sfr_[a - 0x80] = v;
      return;
  }
}

void Cpu8051::PinsChanged() {
  Refresh();
}

// Recomputes what the per-step path depends on after a control register or
// pin change: external interrupt flags, counter inputs and whether timers or
// the serial port need ticking.
void Cpu8051::Refresh() {
  EvalPins();
  const std::uint8_t tcon = sfr_[sfr::TCON - 0x80];
  const std::uint8_t tmod = sfr_[sfr::TMOD - 0x80];
  const bool t0Mode3 = (tmod & 0x03) == 0x03;
  const bool t1Free = t0Mode3 && (tmod & 0x30) != 0x30;
  const bool rxWaiting = !rxQueue_.empty() && (sfr_[sfr::SCON - 0x80] & 0x10);
  periph_ = (tcon & 0x50) || t1Free || txCount_ || rxCount_ || rxHeld_ || rxWaiting;
}

void Cpu8051::EvalPins() {
  std::uint8_t& tcon = sfr_[sfr::TCON - 0x80];
  const std::uint8_t now = static_cast<std::uint8_t>(sfr_[sfr::P3 - 0x80] & portPins[3]);
  const std::uint8_t fell = static_cast<std::uint8_t>(pinsP3_ & ~now);
  pinsP3_ = now;
  // INT0 = P3.2 -> IE0 (TCON.1, type IT0 = TCON.0); INT1 = P3.3 -> IE1 (TCON.3, IT1 = TCON.2).
  if (tcon & 0x01) {
    if (fell & 0x04) tcon |= 0x02;
  } else {
    tcon = static_cast<std::uint8_t>((now & 0x04) ? (tcon & ~0x02) : (tcon | 0x02));
  }
  if (tcon & 0x04) {
    if (fell & 0x08) tcon |= 0x08;
  } else {
    tcon = static_cast<std::uint8_t>((now & 0x08) ? (tcon & ~0x08) : (tcon | 0x08));
  }
  // Counter inputs: T0 = P3.4, T1 = P3.5, one count per falling edge.
  const std::uint8_t tmod = sfr_[sfr::TMOD - 0x80];
  const int mode0 = tmod & 3, mode1 = (tmod >> 4) & 3;
  if ((fell & 0x10) && (tmod & 0x04) && (tcon & 0x10) && (!(tmod & 0x08) || (now & 0x04))) {
    std::uint8_t& tl0 = sfr_[sfr::TL0 - 0x80];
    if (mode0 == 3) {
      if (++tl0 == 0) tcon |= 0x20;
    } else if (AdvanceTimer(tl0, sfr_[sfr::TH0 - 0x80], mode0, 1)) {
      tcon |= 0x20;
    }
  }
  if ((fell & 0x20) && (tmod & 0x40) && (mode0 == 3 || (tcon & 0x40)) && mode1 != 3 &&
      (!(tmod & 0x80) || (now & 0x08))) {
    if (AdvanceTimer(sfr_[sfr::TL1 - 0x80], sfr_[sfr::TH1 - 0x80], mode1, 1) && mode0 != 3)
      tcon |= 0x80;
  }
}

// Serial frame length in machine cycles for the current mode and baud source.
int Cpu8051::FrameCycles() const {
  const std::uint8_t scon = sfr_[sfr::SCON - 0x80];
  const bool smod = sfr_[sfr::PCON - 0x80] & 0x80;
  const int mode = scon >> 6;
  if (mode == 0) return 8;               // one bit per machine cycle
  if (mode == 2) return smod ? 29 : 58;  // 11 bits at fosc/32 or fosc/64
  const int bits = mode == 1 ? 10 : 11;
  const std::uint8_t tmod = sfr_[sfr::TMOD - 0x80];
  int overflow = 256;  // period of timer 1 overflows in cycles
  if (((tmod >> 4) & 3) == 2) overflow = 256 - sfr_[sfr::TH1 - 0x80];
  return bits * overflow * (smod ? 16 : 32);
}

void Cpu8051::SerialReceive(std::uint8_t byte) {
  rxQueue_.push_back(byte);
  Refresh();
}

void Cpu8051::StartRx() {
  if (rxCount_ == 0 && !rxHeld_ && !rxQueue_.empty() && (sfr_[sfr::SCON - 0x80] & 0x10))
    rxCount_ = FrameCycles();
}

void Cpu8051::SerialStep(int n) {
  std::uint8_t& scon = sfr_[sfr::SCON - 0x80];
  if (txCount_ > 0) {
    txCount_ -= n;
    if (txCount_ <= 0) {
      txCount_ = 0;
      scon |= 0x02;  // TI
      if (onSerialTx) onSerialTx(txByte_);
    }
  }
  if (rxCount_ == 0 && !rxHeld_) StartRx();
  if (rxCount_ > 0) {
    rxCount_ -= n;
    if (rxCount_ <= 0) {
      rxCount_ = 0;
      rxHeld_ = true;
    }
  }
  if (rxHeld_ && !(scon & 0x01)) {
    sfr_[sfr::SBUF - 0x80] = rxQueue_.front();
    rxQueue_.pop_front();
    rxHeld_ = false;
    scon |= 0x01 | 0x04;  // RI, RB8 = stop bit
  }
}

void Cpu8051::TimerStep(int n) {
  std::uint8_t& tcon = sfr_[sfr::TCON - 0x80];
  const std::uint8_t tmod = sfr_[sfr::TMOD - 0x80];
  const bool int0 = pinsP3_ & 0x04, int1 = pinsP3_ & 0x08;
  const int mode0 = tmod & 3;
  const int mode1 = (tmod >> 4) & 3;
  const bool run0 = (tcon & 0x10) && (!(tmod & 0x08) || int0) && !(tmod & 0x04);
  const bool run1 = (tcon & 0x40) && (!(tmod & 0x80) || int1) && !(tmod & 0x40);

  std::uint8_t& tl0 = sfr_[sfr::TL0 - 0x80];
  std::uint8_t& th0 = sfr_[sfr::TH0 - 0x80];
  std::uint8_t& tl1 = sfr_[sfr::TL1 - 0x80];
  std::uint8_t& th1 = sfr_[sfr::TH1 - 0x80];
  if (mode0 == 3) {
    // TL0 is an 8-bit timer under TR0/GATE0; TH0 an 8-bit timer under TR1 that owns TF1.
    if (run0 && tl0 + n > 0xFF) tcon |= 0x20;
    if (run0) tl0 = static_cast<std::uint8_t>(tl0 + n);
    if ((tcon & 0x40) && th0 + n > 0xFF) tcon |= 0x80;
    if (tcon & 0x40) th0 = static_cast<std::uint8_t>(th0 + n);
    // Timer 1 runs freely (as a baud generator) unless it is in mode 3 itself.
    if (mode1 != 3 && !(tmod & 0x40)) AdvanceTimer(tl1, th1, mode1, n);
  } else {
    if (run0 && AdvanceTimer(tl0, th0, mode0, n)) tcon |= 0x20;
    if (run1 && mode1 != 3 && AdvanceTimer(tl1, th1, mode1, n)) tcon |= 0x80;
  }
}

void Cpu8051::Tick(int n) {
  TimerStep(n);
  const bool rxWaiting = !rxQueue_.empty() && (sfr_[sfr::SCON - 0x80] & 0x10);
  if (txCount_ || rxCount_ || rxHeld_ || rxWaiting) {
    SerialStep(n);
    if (!txCount_ && !rxCount_ && !rxHeld_) Refresh();  // may stop ticking
  }
}

// Interrupt request flags as bits 0..4 = IE0, TF0, IE1, TF1, RI|TI.
std::uint8_t Cpu8051::Requests() const {
  const std::uint8_t tcon = sfr_[sfr::TCON - 0x80];
  const std::uint8_t scon = sfr_[sfr::SCON - 0x80];
  return static_cast<std::uint8_t>(((tcon >> 1) & 0x01) | ((tcon >> 4) & 0x02) |
                                   ((tcon >> 1) & 0x04) | ((tcon >> 4) & 0x08) |
                                   ((scon & 0x03) ? 0x10 : 0));
}

int Cpu8051::ServiceInterrupt() {
  const std::uint8_t tcon = sfr_[sfr::TCON - 0x80];
  // Only flags latched before the last cycle of the previous instruction are
  // polled; one set in that cycle waits for the next instruction to finish.
  const std::uint8_t req = Requests() & latched_ & sfr_[sfr::IE - 0x80] & 0x1F;
  if (!req || blockIrq_ || (inService_ & 2)) return 0;
  const std::uint8_t high = req & sfr_[sfr::IP - 0x80];
  std::uint8_t pick;
  if (high) {
    pick = high;
    inService_ |= 2;
  } else if (!(inService_ & 1)) {
    pick = req;
    inService_ |= 1;
  } else {
    return 0;
  }
  const int src = std::countr_zero(static_cast<unsigned>(pick));
  std::uint8_t& tconRef = sfr_[sfr::TCON - 0x80];
  switch (src) {
    case 0:  // IE0 clears on vectoring only when edge-triggered
      if (tcon & 0x01) tconRef &= static_cast<std::uint8_t>(~0x02);
      break;
    case 1:
      tconRef &= static_cast<std::uint8_t>(~0x20);
      break;
    case 2:
      if (tcon & 0x04) tconRef &= static_cast<std::uint8_t>(~0x08);
      break;
    case 3:
      tconRef &= static_cast<std::uint8_t>(~0x80);
      break;
    default:  // RI/TI stay set; the handler clears them
      break;
  }
  idle_ = false;
  sfr_[sfr::PCON - 0x80] &= 0xFE;
  const std::uint16_t interrupted = pc;
  Ops::pushPc(*this);
  pc = static_cast<std::uint16_t>(0x03 + 8 * src);
  if (counts_ != nullptr) {
    counts_->Call(interrupted, pc, Sp(), true, cycles, instructions);
    counts_->ExtraCycles(pc, 2);
  }
  ++interrupts;
  cycles += 2;
  if (periph_) Tick(1);
  latched_ = Requests();
  if (periph_) Tick(1);
  return 2;
}

// One step, with or without counting: two instantiations, so that the
// loop without counts carries no counting code at all.
template <bool kCount>
inline __attribute__((always_inline)) int Cpu8051::StepAs() {
  if (powerDown_) return 0;
  const bool ea = sfr_[sfr::IE - 0x80] & 0x80;
  if (ea) {
    const int n = ServiceInterrupt();
    if (n) return n;
  }
  blockIrq_ = false;
  int n = 1;
  if (!idle_) {
    const std::uint16_t at = pc;
    const std::uint8_t op = code[pc++];
    if constexpr (kCount) counts_->Instruction(at);
    Ops::Execute(*this, op);
    n = kCycles[op];
    ++instructions;
    cycles += static_cast<std::uint64_t>(n);
    if constexpr (kCount) {
      if (kFlow[op]) CountFlow(op, at);
    }
  } else {
    cycles += 1;
  }
  if (periph_) {
    if (n > 1) Tick(n - 1);
    latched_ = Requests();
    Tick(1);
  } else if (ea) {
    latched_ = Requests();
  }
  return n;
}

// Calls (LCALL, ACALL) and returns (RET, RETI) of a counted instruction; its
// cycles are already in the totals.
void Cpu8051::CountFlow(std::uint8_t op, std::uint16_t at) {
  if (op == 0x12 || (op & 0x1F) == 0x11) {
    counts_->Call(at, pc, Sp(), false, cycles, instructions);
  } else if (op == 0x22 || op == 0x32) {
    counts_->Return(Sp(), cycles, instructions);
  }
}

int Cpu8051::Step() {
  return counts_ != nullptr ? StepAs<true>() : StepAs<false>();
}

template <bool kCount, class Stop>
std::uint64_t Cpu8051::RunAs(std::uint64_t maxInstructions, Stop stop) {
  std::uint64_t done = 0;
  while (done < maxInstructions && !stop()) {
    StepAs<kCount>();
    ++done;
  }
  return done;
}

std::uint64_t Cpu8051::Run(std::uint64_t maxInstructions, int stopPc) {
  auto stop = [this, stopPc] { return static_cast<int>(pc) == stopPc; };
  return counts_ != nullptr ? RunAs<true>(maxInstructions, stop)
                            : RunAs<false>(maxInstructions, stop);
}

std::uint64_t Cpu8051::RunToMark(std::uint64_t maxInstructions, const std::uint8_t* marks,
                                 std::uint8_t mask, std::uint64_t cycleLimit) {
  auto stop = [this, marks, mask, cycleLimit] {
    return (marks[pc] & mask) != 0 || cycles >= cycleLimit;
  };
  return counts_ != nullptr ? RunAs<true>(maxInstructions, stop)
                            : RunAs<false>(maxInstructions, stop);
}

int Cpu8051::CyclesOf(std::uint8_t opcode) {
  return kCycles[opcode];
}

bool Cpu8051::LoadIntelHex(const std::string& text, std::string* error) {
  auto fail = [&](std::size_t line, const char* what) {
    if (error) *error = "line " + std::to_string(line) + ": " + what;
    return false;
  };
  std::size_t pos = 0, line = 0;
  std::uint32_t base = 0;
  bool sawEof = false;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string rec = text.substr(pos, end - pos);
    pos = end + 1;
    ++line;
    while (!rec.empty() && (rec.back() == '\r' || rec.back() == ' ' || rec.back() == '\t'))
      rec.pop_back();
    if (rec.empty()) continue;
    if (rec[0] != ':') return fail(line, "record does not start with ':'");
    if (rec.size() < 11 || (rec.size() - 1) % 2 != 0) return fail(line, "bad record length");
    std::uint8_t bytes[260];
    const std::size_t count = (rec.size() - 1) / 2;
    if (count > sizeof bytes) return fail(line, "record too long");
    for (std::size_t i = 0; i < count; ++i) {
      const int h = HexNibble(rec[1 + 2 * i]), l = HexNibble(rec[2 + 2 * i]);
      if (h < 0 || l < 0) return fail(line, "bad hex digit");
      bytes[i] = static_cast<std::uint8_t>(h << 4 | l);
    }
    const std::size_t len = bytes[0];
    if (count != len + 5) return fail(line, "byte count does not match record");
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    if (sum != 0) return fail(line, "checksum mismatch");
    const std::uint32_t addr = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
    switch (bytes[3]) {
      case 0x00:
        if (base + addr + len > code.size()) return fail(line, "data beyond 64K");
        for (std::size_t i = 0; i < len; ++i) code[base + addr + i] = bytes[4 + i];
        break;
      case 0x01:
        sawEof = true;
        break;
      case 0x02:
      case 0x04: {
        if (len != 2) return fail(line, "bad address record");
        const std::uint32_t hi = static_cast<std::uint32_t>(bytes[4] << 8 | bytes[5]);
        base = bytes[3] == 0x02 ? hi << 4 : hi << 16;
        if (base >= code.size()) return fail(line, "address beyond 64K");
        break;
      }
      case 0x03:
      case 0x05:
        break;  // start address: the 8051 always starts at 0
      default:
        return fail(line, "unknown record type");
    }
    if (sawEof) break;
  }
  if (!sawEof) return fail(line, "missing end-of-file record");
  return true;
}

}  // namespace kzemu
