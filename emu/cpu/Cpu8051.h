#pragma once
// MCS-51 CPU core of the virtual emulator: the full instruction set, 256 bytes
// of internal RAM, 64K code and 64K xdata, timers 0/1, the serial port and the
// five-source two-level interrupt system. Single-threaded and deterministic:
// the same program and inputs give the same state after the same number of
// Step() calls.
//
// Documented choices where the silicon leaves things open:
//  - Opcode A5h (undefined) executes as a 1-byte, 1-cycle NOP.
//  - DIV AB with B=0 sets OV, clears CY and leaves A and B unchanged.
//  - Counter mode (C/T=1) counts falling edges on the T0/T1 pins, which are the
//    P3 latch ANDed with portPins[3]; with nothing driving them it counts nothing.
//  - The serial line never overruns: a received byte that completes while RI is
//    still set waits in the shift register until software clears RI.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace kzemu {

class ExecutionCounts;

// SFR addresses used by the core.
namespace sfr {
inline constexpr std::uint8_t P0 = 0x80, SP = 0x81, DPL = 0x82, DPH = 0x83, PCON = 0x87,
                              TCON = 0x88, TMOD = 0x89, TL0 = 0x8A, TL1 = 0x8B, TH0 = 0x8C,
                              TH1 = 0x8D, P1 = 0x90, SCON = 0x98, SBUF = 0x99, P2 = 0xA0, IE = 0xA8,
                              P3 = 0xB0, IP = 0xB8, PSW = 0xD0, ACC = 0xE0, B = 0xF0;
}  // namespace sfr

class Cpu8051 {
 public:
  Cpu8051();

  // 8051 reset values (SP=07, P0..P3=FF, PC=0, SBUF/ACC/... = 0). Internal RAM,
  // xdata and code keep their contents, as on hardware.
  void Reset();

  // Services a pending interrupt (the hardware LCALL, 2 cycles) or executes one
  // instruction; returns the machine cycles used. Timers and the serial port
  // advance by the same number of cycles. In idle mode a step is one cycle with
  // no instruction; after power-down (PCON.PD) Step() returns 0 until Reset().
  int Step();

  // Runs until maxInstructions Step() calls were made or PC equals stopPc
  // (checked before each step; -1 = no stop address). Returns the steps made.
  std::uint64_t Run(std::uint64_t maxInstructions, int stopPc = -1);
  // Runs until maxInstructions Step() calls were made, PC reaches an address
  // whose byte in `marks` has a bit of `mask` set, or `cycles` reaches
  // `cycleLimit` (both checked before each step). Returns the steps made.
  std::uint64_t RunToMark(std::uint64_t maxInstructions, const std::uint8_t* marks,
                          std::uint8_t mask, std::uint64_t cycleLimit);

  // Counting for coverage and profiles (null: off, the default). The counts
  // belong to the caller and must outlive their use here. Without counts the
  // execute loop is one without any counting code.
  void SetCounts(ExecutionCounts* counts) { counts_ = counts; }
  ExecutionCounts* Counts() const { return counts_; }
  // Machine cycles of an instruction by its opcode.
  static int CyclesOf(std::uint8_t opcode);

  std::uint16_t pc = 0;
  std::array<std::uint8_t, 65536> code{};   // program memory (MOVC)
  std::array<std::uint8_t, 65536> xdata{};  // external data (MOVX)
  std::array<std::uint8_t, 256> iram{};     // internal RAM 00..FF (80..FF reached only indirectly)

  // Direct address space: <80h internal RAM, >=80h SFRs. Port reads return
  // latch AND pins, as a MOV from the port does on hardware.
  std::uint8_t ReadDirect(std::uint8_t a) { return a < 0x80 ? iram[a] : ReadSfrDirect(a); }
  void WriteDirect(std::uint8_t a, std::uint8_t v) {
    if (a < 0x80)
      iram[a] = v;
    else
      SfrWrite(a, v);
  }

  // Debugger view of an SFR: no side effects (SBUF shows the receive buffer,
  // ports show the latch, PSW includes the current parity).
  std::uint8_t ReadSfr(std::uint8_t a) const;
  // Debugger write: stores the value and refreshes derived state (register
  // bank, timer run state, interrupt pins) but starts no transmission.
  void WriteSfr(std::uint8_t a, std::uint8_t v);

  // Convenience views for debuggers and tests.
  std::uint8_t A() const { return sfr_[sfr::ACC - 0x80]; }
  std::uint8_t Psw() const { return ReadSfr(sfr::PSW); }
  std::uint8_t Sp() const { return sfr_[sfr::SP - 0x80]; }
  std::uint16_t Dptr() const {
    return static_cast<std::uint16_t>(sfr_[sfr::DPH - 0x80] << 8 | sfr_[sfr::DPL - 0x80]);
  }
  // Rn of the bank selected by PSW.RS1:RS0.
  std::uint8_t R(int n) const { return iram[(sfr_[sfr::PSW - 0x80] & 0x18) + (n & 7)]; }
  // Interrupt levels in service (bit0 low, bit1 high); RETI clears the highest.
  std::uint8_t InService() const { return inService_; }

  std::uint64_t cycles = 0;        // machine cycles since construction
  std::uint64_t instructions = 0;  // instructions executed (interrupt vectoring not counted)
  std::uint64_t interrupts = 0;    // interrupts vectored

  // External pin levels of P0..P3 (1 = high / released). A port read returns
  // latch & pins; INT0/INT1/T0/T1 are P3.2..P3.5 seen the same way.
  std::array<std::uint8_t, 4> portPins{{0xFF, 0xFF, 0xFF, 0xFF}};
  // Call after changing portPins so external interrupts and counters see it.
  void PinsChanged();

  std::function<void(std::uint8_t)>
      onSerialTx;  // byte written to SBUF goes out here (after the frame time)
  void SerialReceive(std::uint8_t byte);  // byte arriving at RXD

  // Intel HEX (types 00, 01, 02, 04 with a zero upper address) into code[].
  bool LoadIntelHex(const std::string& text, std::string* error);

 private:
  struct Ops;  // instruction handlers, defined in Cpu8051.cpp
  friend struct Ops;

  template <bool kCount>
  int StepAs();
  template <bool kCount, class Stop>
  std::uint64_t RunAs(std::uint64_t maxInstructions, Stop stop);
  void CountFlow(std::uint8_t op, std::uint16_t at);  // calls and returns, when counting

  std::uint8_t ReadSfrDirect(std::uint8_t a);     // program read of an SFR (ports: latch & pins)
  void SfrWrite(std::uint8_t a, std::uint8_t v);  // program write with side effects
  void Refresh();                                 // derived state after control SFR changes
  void EvalPins();
  void Tick(int n);
  void TimerStep(int n);
  void SerialStep(int n);
  int ServiceInterrupt();
  std::uint8_t Requests() const;
  int FrameCycles() const;
  void StartRx();

  std::array<std::uint8_t, 128> sfr_{};
  std::uint8_t rb_ = 0;  // register bank base (PSW & 18h)
  bool periph_ = false;  // timers or serial need Tick()
  bool blockIrq_ = false;
  std::uint8_t latched_ = 0;  // request flags as polled for the next Step()
  bool idle_ = false;
  bool powerDown_ = false;
  std::uint8_t inService_ = 0;
  std::uint8_t pinsP3_ = 0xFF;  // last effective P3 pin level (latch & pins)
  std::uint8_t txByte_ = 0;
  int txCount_ = 0;  // cycles until the byte in the transmit shifter is out
  int rxCount_ = 0;  // cycles until the byte being received is complete
  bool rxHeld_ = false;
  std::deque<std::uint8_t> rxQueue_;
  ExecutionCounts* counts_ = nullptr;
};

}  // namespace kzemu
