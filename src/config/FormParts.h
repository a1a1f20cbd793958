#pragma once
// Pieces the dialog forms share: the OK/Cancel/Help strip, radio groups sized
// for their items, and the hexadecimal and binary read-outs.
#include <cstdint>
#include <string>
#include <vector>

#include "config/CpuDetails.h"
#include "config/TargetConfig.h"
#include "platform/Form.h"
#include "platform/Ui.h"

namespace kz {

// Ids every dialog gives its button strip; the Win32 renderer maps the roles
// to the dialog manager's OK and Cancel, so Enter and Escape work.
inline constexpr int kOkBtnId = 1;
inline constexpr int kCancelId = 2;
inline constexpr int kHelpId = 9;

// The message table lookup (number to text). The dialogs get it passed in, so
// this layer does not reach up to the connection layer that keeps the table.
using MessageFn = std::string (*)(std::uint16_t);

// What a CPU option dialog works with.
struct OptionDialogContext {
  Ui& ui;
  TargetConfig& config;
  const CpuDetails& details;
  MessageFn message;
};

inline constexpr int kRadioItemHeight = 18;
// Height of a radio group with n items stacked under its caption.
inline constexpr int RadioGroupHeight(int n) {
  return 22 + kRadioItemHeight * n;
}

Control& AddRadioGroup(Form& form, int id, const std::string& name, Bounds bounds,
                       const std::string& caption, std::vector<std::string> items, int parent = 0);
// OK, Cancel and Help (messages 138, 139, 140) right-aligned at y.
void AddButtonStrip(Form& form, MessageFn message, int y, int rightEdge);

// "D8" for 0xD8.
std::string Hex2(std::uint8_t value);
// "11011000" for 0xD8, bit 7 first.
std::string Bits8(std::uint8_t value);
// prefix + "D8H (11011000B)".
std::string ByteReadOut(const std::string& prefix, std::uint8_t value);

// A radio group's item for a value: the value when it names an item, else
// no choice (-1), so a stored value no item stands for is shown as no choice.
int ItemFor(int value, int itemCount);
// The item of a stored switch that the dialogs treat as 0 when it is out of
// range, as target preparation does.
int ItemOrZero(int value, int itemCount);

}  // namespace kz
