#pragma once
// Register access: the 42-byte register record behind AG_RegAcc and AG_AllReg,
// and the two-group register view whose lines the host asks the driver to
// describe and fill. Both are rebuilt from the register shadows the monitor
// saved at the last stop and written back into them.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "config/ByteOrder.h"
#include "host/AG_DLL_DEF.h"
#include "link/EmulatorState.h"
#include "link/MemoryTransfers.h"

namespace kz {

#pragma pack(push, 1)
struct RegisterRecord {
  std::uint8_t R[8];           // R0..R7 of the bank PSW bits 4..3 select
  std::uint8_t carried8[8];    // the host's; carried unchanged
  LeU32 pc;                    // CODE address: 0xFF000000 | 16-bit PC
  std::uint8_t sp;             // 20
  std::uint8_t psw;            // 21
  std::uint8_t b;              // 22
  std::uint8_t acc;            // 23
  std::uint8_t dpl;            // 24
  std::uint8_t dph;            // 25
  std::uint8_t carried26[16];  // the host's; carried unchanged
};
#pragma pack(pop)
static_assert(sizeof(RegisterRecord) == 42);
static_assert(offsetof(RegisterRecord, R) == 0 && offsetof(RegisterRecord, carried8) == 8);
static_assert(offsetof(RegisterRecord, pc) == 16 && offsetof(RegisterRecord, sp) == 20);
static_assert(offsetof(RegisterRecord, psw) == 21 && offsetof(RegisterRecord, b) == 22);
static_assert(offsetof(RegisterRecord, acc) == 23 && offsetof(RegisterRecord, dpl) == 24);
static_assert(offsetof(RegisterRecord, dph) == 25 && offsetof(RegisterRecord, carried26) == 26);

inline constexpr std::uint32_t kCodeAddressBase = 0xFF000000u;

class RegisterAccess {
 public:
  static constexpr int kGroupCount = 2;
  static constexpr int kItemCount = 22;
  // Register numbers of AG_RegAcc beyond R0..R7.
  static constexpr std::uint32_t kRegAcc = 20;
  static constexpr std::uint32_t kRegDptr = 24;
  static constexpr std::uint32_t kRegPc = 0x500;
  // Register view item numbers.
  static constexpr std::uint16_t kItemA = 0x10, kItemB = 0x11, kItemSp = 0x12, kItemDptr = 0x13,
                                 kItemPc = 0x14, kItemPsw = 0x100, kItemFirstFlag = 0x101,
                                 kItemLastFlag = 0x107, kItemBlank = 0x108;

  // `running`, `abandon`, `pc16` and `pcCell` are the driver's: the running
  // and abandon flags, the 16-bit PC copy of execution control and the
  // host's current-PC cell as registered (it may be registered later).
  RegisterAccess(EmulatorState& state, MemoryTransfers& transfers, std::atomic<bool>& running,
                 std::atomic<bool>& abandon, std::uint16_t& pc16, std::uint32_t* const& pcCell);
  RegisterAccess(const RegisterAccess&) = delete;
  RegisterAccess& operator=(const RegisterAccess&) = delete;

  // The host calls the view functions without a context argument: the
  // descriptor carries plain functions that lead back to this object.
  void SetViewFunctions(RegisterGetFn get, RegisterSetFn set) {
    viewGet_ = get;
    viewSet_ = set;
  }
  // Valid as long as this object; the host keeps the table pointers.
  RegisterViewDescriptor Descriptor();

  // ---- entry points (the caller checks nothing; refusals are answered here) ----
  std::uint16_t RegAcc(std::uint16_t code, std::uint32_t number, void* value);
  std::uint16_t AllReg(std::uint16_t code);
  void ViewGet(RegisterItem* item, std::int32_t selector);
  std::int32_t ViewSet(RegisterItem* item, void* value);

  // ---- operations shared with memory access and execution control ----
  void Refresh();
  void Apply(RegisterRecord given);  // by value: callers pass the record itself
  // Reset target: the PC address and the record's PC start from 0.
  void ResetPc();
  // Refresh step 2 alone: the PC address and the record's PC follow the
  // 16-bit PC copy after every run or step, whatever the written flag says.
  void SyncPc();

  RegisterRecord& Record() { return record_; }
  const RegisterRecord& ViewCopy() const { return view_; }
  std::uint32_t& PcAddress() { return pcAddress_; }
  std::atomic<bool>& RegistersWritten() { return written_; }
  std::array<RegisterGroup, kGroupCount>& Groups() { return groups_; }
  std::array<RegisterItem, kItemCount>& Items() { return items_; }

 private:
  EmulatorState& state_;
  MemoryTransfers& transfers_;
  std::atomic<bool>& running_;
  std::atomic<bool>& abandon_;
  std::uint16_t& pc16_;
  std::uint32_t* const& pcCell_;

  RegisterRecord record_{};
  RegisterRecord view_{};
  std::uint32_t pcAddress_ = 0;
  // Set by AG_AllReg code 2: the host's values stand until the next run or a
  // host write into the register banks.
  std::atomic<bool> written_{false};

  std::array<RegisterGroup, kGroupCount> groups_{};
  std::array<RegisterItem, kItemCount> items_{};
  RegisterGetFn viewGet_ = nullptr;
  RegisterSetFn viewSet_ = nullptr;
};

}  // namespace kz
