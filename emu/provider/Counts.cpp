// The provider's counting entry points (kz51emu_counts.h) over the process's
// emulator. A provider built without this file has no counts, as the
// hardware's has none.
#include <algorithm>

#include "Emulator.h"
#include "kz51emu_counts.h"

extern "C" KZEMU_EXPORT int kz51emu_counts_start(const std::uint32_t* regions) {
  std::vector<std::uint32_t> table;
  if (regions != nullptr) table.assign(regions, regions + KZ51EMU_ADDRESSES);
  kzemu::Emulator::Instance().With([&](kzemu::Firmware& f) { f.StartCounts(table); });
  return 0;
}

extern "C" KZEMU_EXPORT int kz51emu_counts_stop() {
  kzemu::Emulator::Instance().With([](kzemu::Firmware& f) { f.StopCounts(); });
  return 0;
}

extern "C" KZEMU_EXPORT int kz51emu_counts_read(std::uint64_t* executions, std::uint64_t* cycles,
                                                std::uint64_t* lineEntries,
                                                std::uint64_t* functionEntries,
                                                kz51emu_totals* totals) {
  int result = -1;
  kzemu::Emulator::Instance().With([&](kzemu::Firmware& f) {
    const kzemu::ExecutionCounts* c = f.Counts();
    if (c == nullptr) return;
    const kzemu::Cpu8051& cpu = f.Cpu();
    const auto& exec = c->Executions();
    if (executions != nullptr) std::copy(exec.begin(), exec.end(), executions);
    if (cycles != nullptr) {
      for (std::size_t a = 0; a < exec.size(); ++a)
        cycles[a] = exec[a] * static_cast<std::uint64_t>(kzemu::Cpu8051::CyclesOf(cpu.code[a])) +
                    c->ExtraCyclesAt(static_cast<std::uint16_t>(a));
    }
    // The target stands at its PC: execution has arrived there, so the
    // arrival counts (its instruction's execution does not, yet).
    std::uint64_t lineArrival = 0, functionArrival = 0;
    c->PendingArrival(cpu.pc, lineArrival, functionArrival);
    if (lineEntries != nullptr) {
      std::copy(c->LineEntries().begin(), c->LineEntries().end(), lineEntries);
      lineEntries[cpu.pc] += lineArrival;
    }
    if (functionEntries != nullptr) {
      std::copy(c->FunctionEntries().begin(), c->FunctionEntries().end(), functionEntries);
      functionEntries[cpu.pc] += functionArrival;
    }
    if (totals != nullptr)
      *totals =
          kz51emu_totals{cpu.cycles - c->start.cycles, cpu.instructions - c->start.instructions,
                         cpu.interrupts - c->start.interrupts};
    result = 0;
  });
  return result;
}

extern "C" KZEMU_EXPORT int kz51emu_counts_calls(kz51emu_call* calls, int capacity) {
  int result = -1;
  kzemu::Emulator::Instance().With([&](kzemu::Firmware& f) {
    const kzemu::ExecutionCounts* c = f.Counts();
    if (c == nullptr) return;
    const auto edges = c->Calls(f.Cpu().cycles, f.Cpu().instructions);
    for (std::size_t i = 0; i < edges.size() && static_cast<int>(i) < capacity; ++i) {
      const auto& e = edges[i];
      calls[i] =
          kz51emu_call{e.site, e.target, e.interrupt ? 1u : 0u, e.count, e.cycles, e.instructions};
    }
    result = static_cast<int>(edges.size());
  });
  return result;
}

extern "C" KZEMU_EXPORT int kz51emu_cycle_limit(std::uint64_t cycles) {
  kzemu::Emulator::Instance().With([&](kzemu::Firmware& f) { f.SetCycleLimit(cycles); });
  return 0;
}

extern "C" KZEMU_EXPORT int kz51emu_cycle_limit_reached() {
  bool reached = false;
  kzemu::Emulator::Instance().With([&](kzemu::Firmware& f) { reached = f.CycleLimitReached(); });
  return reached ? 1 : 0;
}
