#include "config/PodTable.h"

#include <initializer_list>

namespace kz {

const std::array<EmulatorModel, kEmulatorModelCount> kEmulatorModels = {{
    {1, "JY/L", 0x00},
    {1, "JY/T", 0x01},
    {1, "JY/S", 0x02},
    {1, "JZ/L", 0x03},
    {1, "JZ/T", 0x04},
    {1, "JZ/S", 0x05},
    {1, "MK40", 0x06},
    {1, "MK41", 0x07},
    {1, "HX/L", 0x20},
    {1, "HX/T", 0x22},
}};

namespace {

// EmulatorSet: bit n = emulator number n.
constexpr std::uint16_t Emulators(std::initializer_list<int> numbers) {
  std::uint16_t set = 0;
  for (int n : numbers) set = static_cast<std::uint16_t>(set | (1u << n));
  return set;
}

constexpr std::uint16_t kEmu123 = Emulators({1, 2, 3});
constexpr std::uint16_t kEmu1to6 = Emulators({1, 2, 3, 4, 5, 6});
constexpr std::uint16_t kEmu1to6and8 = Emulators({1, 2, 3, 4, 5, 6, 8});
constexpr std::uint16_t kEmu1to7 = Emulators({1, 2, 3, 4, 5, 6, 7});
constexpr std::uint16_t kEmu123and9and10 = Emulators({1, 2, 3, 9, 10});

constexpr PodSlot Empty(std::uint8_t family = 0) {
  return {0, family, 0, "", "", "", 0, 0, 0};
}

}  // namespace

// Listed, Family, OptionDialogKind, PodConfigName, PodName, MonitorName,
// PodCode, MonitorKind, EmulatorSet. Pods 6 and 7 run pod 2's monitor.
const std::array<PodSlot, kPodSlotCount> kPodSlots = {{
    /* 1 */ {0, 0, 2, "P51A", "Pod 51-A", "MON51A", 0x01, 3, kEmu123},
    /* 2 */ {0, 0, 1, "P51B", "Pod 51-B", "MON51B", 0x00, 1, kEmu1to6and8},
    /* 3 */ {0, 0, 1, "P51C", "Pod 51-C", "MON51C", 0x00, 1, kEmu1to7},
    /* 4 */ {0, 0, 0, "P51D", "Pod 51-D", "MON51D", 0x07, 3, kEmu123},
    /* 5 */ {0, 0, 1, "P51E", "Pod 51-E", "MON51E", 0x04, 1, kEmu1to6},
    /* 6 */ {0, 0, 1, "P51F", "Pod 51-F", "MON51B", 0x02, 1, kEmu1to6},
    /* 7 */ {0, 0, 1, "P51G", "Pod 51-G", "MON51B", 0x03, 1, kEmu1to6},
    /* 8 */ {0, 0, 3, "P51H", "Pod 51-H", "MON51H", 0x05, 2, kEmu123},
    /* 9 */ {0, 0, 11, "P51J", "Pod 51-J", "MON51J", 0x06, 2, kEmu123},
    /* 10 */ {0, 0, 0, "P51K", "Pod 51-K", "MON51K", 0x22, 0, kEmu123and9and10},
    /* 11 */ Empty(),
    /* 12 */ Empty(),
    /* 13 */ Empty(),
    /* 14 */ Empty(),
    /* 15 */ Empty(),
    /* 16 */ Empty(),
    /* 17 */ Empty(),
    /* 18 */ {0, 1, 4, "P196A", "Pod 196-A", "MON196A", 0x10, 0, kEmu123},
    /* 19 */ {0, 1, 4, "P196B", "Pod 196-B", "MON196B", 0x11, 0, kEmu123},
    /* 20 */ {0, 1, 4, "P196C", "Pod 196-C", "MON196C", 0x12, 0, kEmu123},
    /* 21 */ {0, 1, 4, "P196D", "Pod 196-D", "MON196D", 0x13, 0, kEmu123},
    /* 22 */ {0, 4, 0, "P166A", "Pod 166-A", "MON166A", 0x22, 0, kEmu123and9and10},
    /* 23 */ {0, 5, 0, "PARMA", "Pod ARM-A", "MONARMA", 0x21, 0, kEmu123and9and10},
    /* 24 */ {0, 6, 0, "PDSPA", "Pod DSP-A", "MONDSPA", 0x20, 0, kEmu123and9and10},
    /* 25 */ Empty(1),
    /* 26 */ Empty(1),
    /* 27 */ Empty(1),
    /* 28 */ Empty(1),
    /* 29 */ Empty(1),
    /* 30 */ Empty(1),
    /* 31 */ Empty(1),
    /* 32 */ Empty(1),
    /* 33 */ Empty(1),
    /* 34 */ Empty(1),
    /* 35 */ Empty(3),
    /* 36 */ Empty(3),
    /* 37 */ Empty(3),
    /* 38 */ Empty(),
    /* 39 */ Empty(),
    /* 40 */ Empty(),
}};

std::uint32_t PodBit(int podNumber) {
  if (podNumber >= 1 && podNumber <= 9) return 1u << (podNumber - 1);
  if (podNumber == 10) return 1u << 16;
  if (podNumber >= 18 && podNumber <= 21) return 1u << (podNumber - 9);
  if (podNumber >= 22 && podNumber <= 24) return 1u << (podNumber - 5);
  return 0;
}

const char* PodNameForCode(std::uint8_t podCode) {
  static constexpr const char* kOwn8051[8] = {
      "8051 pod type 1", "8051 pod type 2", "8051 pod type 3", "8051 pod type 4",
      "8051 pod type 5", "8051 pod type 6", "8051 pod type 7", "8051 pod type 8"};
  static constexpr const char* kOwn196[8] = {"196 pod type 1", "196 pod type 2", "196 pod type 3",
                                             "196 pod type 4", "196 pod type 5", "196 pod type 6",
                                             "196 pod type 7", "196 pod type 8"};
  static constexpr const char* kOwnOther[4] = {"DSP pod", "ARM pod", "166/8051 pod",
                                               "Extended pod"};
  if (podCode >= 1 && podCode <= 8) return kOwn8051[podCode - 1];
  if (podCode >= 16 && podCode <= 23) return kOwn196[podCode - 16];
  if (podCode >= 32 && podCode <= 35) return kOwnOther[podCode - 32];
  return "Standard 8051 pod";
}

}  // namespace kz
