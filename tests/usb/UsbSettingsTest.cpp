// KZ51_USB as users write it: what is taken, and what is refused with which
// sentence (the refusals reach the user unchanged, see UsbProviderTest).
#include <gtest/gtest.h>

#include <string>

#include "UsbSettings.h"

namespace kzusb {
namespace {

struct Row {
  const char* text;
  bool ok;
  // ok: vid, pid, interface, out, in (-1: not given); else a fragment of the error.
  int vid, pid, interfaceNumber, out, in;
  const char* error;
};

class UsbSettingsRow : public ::testing::TestWithParam<Row> {};

TEST_P(UsbSettingsRow, ParsesOrSaysWhy) {
  const Row& r = GetParam();
  UsbSettings s;
  std::string error;
  ASSERT_EQ(ParseUsbSettings(r.text, s, error), r.ok) << r.text << ": " << error;
  if (!r.ok) {
    EXPECT_NE(error.find(r.error), std::string::npos) << error;
    return;
  }
  EXPECT_EQ(s.vid, r.vid);
  EXPECT_EQ(s.pid, r.pid);
  EXPECT_EQ(s.interfaceNumber ? *s.interfaceNumber : -1, r.interfaceNumber);
  EXPECT_EQ(s.out ? *s.out : -1, r.out);
  EXPECT_EQ(s.in ? *s.in : -1, r.in);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, UsbSettingsRow,
    ::testing::Values(
        Row{"vid=0x1234,pid=0x5678", true, 0x1234, 0x5678, -1, -1, -1, ""},
        // As lsusb prints ids, spaces around items, upper-case digits.
        Row{" vid = 04B4 , pid=00F3 ,", true, 0x04B4, 0x00F3, -1, -1, -1, ""},
        Row{"vid=0x1234,pid=0x5678,interface=1,out=0x02,in=0x81", true, 0x1234, 0x5678, 1, 2, 0x81,
            ""},
        // An IN endpoint written without its direction bit.
        Row{"vid=1,pid=2,in=3", true, 1, 2, -1, -1, 0x83, ""},
        Row{"", false, 0, 0, 0, 0, 0, "the vendor and product ids are missing"},
        Row{"vid=0x1234", false, 0, 0, 0, 0, 0, "the vendor and product ids are missing"},
        Row{"vid=0x12345,pid=1", false, 0, 0, 0, 0, 0,
            "'vid=0x12345' needs a hexadecimal number up to 0xffff"},
        Row{"vid=,pid=1", false, 0, 0, 0, 0, 0, "'vid=' needs a hexadecimal number"},
        Row{"vid=1,pid=2,interface=0x100", false, 0, 0, 0, 0, 0, "up to 0xff"},
        Row{"VID=1,pid=2", false, 0, 0, 0, 0, 0, "unknown setting 'VID=1'"},
        Row{"vid=1,pid=2,out=0x81", false, 0, 0, 0, 0, 0, "'out=0x81' is not an OUT endpoint"},
        Row{"vid=1,pid=2,out=0", false, 0, 0, 0, 0, 0, "is not an OUT endpoint"},
        Row{"vid=1,pid=2,in=0x90", false, 0, 0, 0, 0, 0, "'in=0x90' is not an IN endpoint"}));

TEST(UsbIds, ShownAsLsusbShowsThem) {
  EXPECT_EQ(IdText(0x04B4, 0x00F3), "04b4:00f3");
}

}  // namespace
}  // namespace kzusb
