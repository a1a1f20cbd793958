#include "connect/umessage.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kz {

namespace {

struct MessageEntry {
  std::uint16_t number;
  std::string_view text;
};

// Sorted by number. Texts are returned exactly, trailing blanks included.
constexpr MessageEntry kMessages[] = {
    {132, "Emulator option"},
    {138, "OK"},
    {139, "Cancel"},
    {140, "Help"},
    {660, "Emulator"},
    {664, "Oscillator(Hz)"},
    {831, "Hardware configration file not found or file format error"},
    {851, "Downloading program..."},
    {852, "Uploading program..."},
    {853, "Downloading data..."},
    {854, "Uploading data..."},
    {856, "Initial emulator..."},
    {868, "Select Emulator"},
    {869, "Select POD"},
    {870, "Select CPU"},
    {871, "POD Setting"},
    {874, "CODE memory"},
    {875, "CODE on emulator"},
    {876, "CODE on target board (ROM on target board)"},
    {877, "XDATA memory"},
    {878, "XDATA on emulator"},
    {879, "XDATA on target board"},
    {881, "WDTE: WatchDog Timer Enable"},
    {882, "WDT disabled"},
    {883, "WDT enabled"},
    {884, "PRHI: Port Reset High"},
    {885, "Enable ports to reset low"},
    {886, "Enable ports to reset high"},
    {887, "CLKR: Clock Rate select"},
    {890, "RPD: Reset Pin Disable"},
    {891, "Reset pin function enabled"},
    {892, "Reset pin function disabled"},
    {893, "BO2.5: Brown out at 2.5V"},
    {894, "Enable brown out at 3.8V"},
    {895, "Enable brown out at 2.5V"},
    {896, "FOSC: Frequency Oscillator"},
    {897, "High frequency crystall 4M-20M"},
    {898, "Med frequency crystall 100K-4M"},
    {899, "Low frequency crystall 20K-200K"},
    {900, "Internal RC clock  6M, 5%"},
    {901, "External clock"},
    {902, "Security bits"},
    {903, "Both bits enabled"},
    {904, "not allowed"},
    {905, "Bit 2 disabled; bit 1 enabled"},
    {906, "Security bits disabled"},
    {907, "32byte customer programmer bytes"},
    {908, "Enable divide by 2 of clock"},
    {909, "Enable divide by 1 of clock"},
    {910, "UCFG"},
    {915, "Power down enable"},
    {916, "Write strobe"},
    {917, "Bus width control"},
    {918, "bits mode"},
    {919, "Bus width"},
    {920, "Ready control"},
    {921, "wait states"},
    {922, "None"},
    {923, "Address valid strobe"},
    {924, "Watch dog enable"},
    {925, "Lock bits"},
    {926, "Read and Write"},
    {927, "Read only"},
    {928, "Write only"},
    {929, "use INST"},
    {930, "Disable"},
    {931, "Enable"},
    {1210, "clocks of CPU"},
    {1211, "12 clocks"},
    {1212, "6  clocks"},
    {1213, "P0, P2 function select"},
    {1214, "P0, P2 used as BUS or I/O"},
    {1215, "P0, P2 used as I/O only"},
    {1400, "WDTE: WatchDog Timer Enable"},
    {1401, "WDT disabled"},
    {1402, "WDT enabled"},
    {1403, "RPE: Reset Pin Disable"},
    {1404, "Reset pin function disabled"},
    {1405, "Reset pin function enabled"},
    {1406, "BOE: Browout enable"},
    {1407, "Browout disabled"},
    {1408, "Browout enabled"},
    {1409, "FOSC: Frequency oscillator"},
    {1410, "External clock(XTAL1)"},
    {1411, "Watchdog oscillator"},
    {1412, "Internal RC clock"},
    {1413, "Low frequency crystall 20K-100K"},
    {1414, "Med frequency crystall 100K-4M"},
    {1415, "High frequency crystall 4M-12M"},
    {1416, "Secotor security bits"},
    {1417, "WDSE: Watchdog safety bit"},
    {1418, "Watchdog safety disabled"},
    {1419, "Watchdog safety enabled"},
    {1420, "Monitor clock select"},
    {1421, "use RC clock"},
    {1422, "use user define clock"},
    {1423, "CCU in monitor"},
    {1424, "running"},
    {1425, "stop"},
    {1426, "Boot Status"},
    {1427, "Boot Vector"},
    {1428, "T0 in monitor"},
    {1429, "T1 in monitor"},
    {1600, "Test CPU ..."},
    {1641, "PORT XTAL2 select"},
    {1642, "XTAL2 output low"},
    {1643, "XTAL2 output clock"},
    {1644, "Watch Dog function select"},
    {1645, "Disable Watch Dog"},
    {1646, "Breakpoint when watchdog overflow"},
    {1647, "Reset CPU when watchdog overflow"},
    {1654, "Check EMULATOR"},
    {1655, "Check POD"},
    {1661, "Can not connect USB"},
    {1664, "POD not match"},
    {1665, "No MCU on POD"},
    {1666, "Can not reset MCU on POD"},
    {1667, "Can not found FPGA board"},
    {1668, "Undefine error"},
    {1671, "Test Clock: "},
    {1673, "Configure FPGA ..."},
    {1674, "Driver: USBD12.DLL not installed"},
    {1678, "Test USB ..."},
    {1680, "Can not found file or file format error. Please reinstall ZOLT IDE"},
    {1681, "Select Vendor"},
    {1683, "Target reset function select"},
    {1684, "Disable target reset"},
    {1685, "Breakpoint when target reset"},
    {1686, "Reset CPU when target reset"},
    {1687, "Emulator reset function select"},
    {1688, "Emulator reset CPU only"},
    {1689, "Emulator reset CPU + target board"},
    {1690, "Disable T0"},
    {1691, "Disable T1"},
    {1692, "Disable T2"},
    {1693, "Disable UART"},
    {1694, "Disable PCA"},
    {1695, "Disable SPI"},
    {1696, "Disable IIC"},
    {1697, ""},
    {1698, "In Monitor"},
};

constexpr bool SortedByNumber() {
  for (std::size_t i = 1; i < std::size(kMessages); ++i)
    if (kMessages[i - 1].number >= kMessages[i].number) return false;
  return true;
}
static_assert(SortedByNumber(), "the message table must be sorted and without duplicates");

constexpr std::string_view kUndefined = "undefined error";

}  // namespace

std::string GetMessage(std::uint16_t number) {
  const auto* end = std::end(kMessages);
  const auto* it =
      std::lower_bound(std::begin(kMessages), end, number,
                       [](const MessageEntry& e, std::uint16_t n) { return e.number < n; });
  if (it == end || it->number != number) return std::string(kUndefined);
  return std::string(it->text);
}

}  // namespace kz
