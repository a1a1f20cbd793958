#pragma once
// Entry points of the virtual emulator's provider library (libusbd12.so,
// usbd12.dll) beside its pipes: the execution counts behind coverage and
// profiles, and a cycle limit. A host reaches them in the provider module the
// driver loaded; a provider without them (the hardware's) has no counts. The
// driver's own exports are not involved.
//
// All of them may be called from any thread; they wait for the emulator's
// current packet to be served. Counts are read while the target is stopped.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One call edge: a call instruction (LCALL, ACALL) or an interrupt's
// vectoring, with the calls made and their inclusive cost.
typedef struct kz51emu_call {
  uint16_t site;          // address of the call instruction, or the interrupted address
  uint16_t target;        // called address; for an interrupt its vector address
  uint32_t interrupt;     // 1 for an interrupt, 0 for a call instruction
  uint64_t count;         // calls made, including those not returned yet
  uint64_t cycles;        // inclusive machine cycles
  uint64_t instructions;  // inclusive instructions
} kz51emu_call;

// Totals since counting started.
typedef struct kz51emu_totals {
  uint64_t cycles;
  uint64_t instructions;
  uint64_t interrupts;
} kz51emu_totals;

#define KZ51EMU_ADDRESSES 65536

// Starts counting afresh, replacing earlier counts. `regions` holds
// KZ51EMU_ADDRESSES entries, the region of every code address: function in
// the high 16 bits, C line in the low 16 (0: none); NULL for none. An
// arrival at an address from another region is counted as a line entry, from
// another function as a function entry; a call always enters its target.
// Returns 0.
typedef int (*kz51emu_counts_start_fn)(const uint32_t* regions);
// Stops counting and frees the counts. Returns 0.
typedef int (*kz51emu_counts_stop_fn)(void);
// Copies KZ51EMU_ADDRESSES entries into each array given (any may be NULL):
// instructions executed at each address, machine cycles spent there (an
// interrupt's vectoring at its vector), line entries and function entries;
// and the totals. Execution has arrived at the address where the target
// stands, so that arrival is in the entries (its instruction is not executed
// yet). Returns 0, or -1 when nothing is being counted.
typedef int (*kz51emu_counts_read_fn)(uint64_t* executions, uint64_t* cycles, uint64_t* lineEntries,
                                      uint64_t* functionEntries, kz51emu_totals* totals);
// Copies up to `capacity` call edges into `calls`; returns how many there
// are (more than `capacity` when they did not fit), or -1 when nothing is
// being counted.
typedef int (*kz51emu_counts_calls_fn)(kz51emu_call* calls, int capacity);
// A running target stops by itself, as if asked to, once it has used
// `cycles` more machine cycles from now (0: no limit). Returns 0.
typedef int (*kz51emu_cycle_limit_fn)(uint64_t cycles);
// 1 when the armed cycle limit stopped the target, else 0.
typedef int (*kz51emu_cycle_limit_reached_fn)(void);

#ifdef __cplusplus
}  // extern "C"
static_assert(sizeof(kz51emu_call) == 32, "kz51emu_call layout");
static_assert(sizeof(kz51emu_totals) == 24, "kz51emu_totals layout");
#endif
