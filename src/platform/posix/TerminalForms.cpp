// The terminal renderer of form models: each form as a numbered menu of its
// controls on stderr, answered line by line on stdin. Only used while stdin
// is a terminal.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/posix/PosixPorts.h"

namespace kz {

namespace {

// A line from stdin without its end; false at the end of input.
bool ReadLine(std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return c != EOF || !line.empty();
}

bool ParseNumber(const std::string& s, int& n) {
  if (s.empty() || s.size() > 6) return false;
  n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return true;
}

bool Interactive(const Control& c) {
  if (!c.visible || !c.enabled) return false;
  switch (c.kind) {
    case ControlKind::ListBox:
    case ControlKind::DropDownList:
    case ControlKind::RadioGroup:
    case ControlKind::CheckBox:
    case ControlKind::Edit:
      return true;
    case ControlKind::Button:
      return c.role == ButtonRole::None;
    default:
      return false;
  }
}

// What a control is called: its caption, else the label right above it.
std::string Title(const Form& form, const Control& c) {
  if (!c.caption.empty() && c.kind != ControlKind::Edit) return c.caption;
  const Control* best = nullptr;
  for (const Control& l : form.controls) {
    if (l.kind != ControlKind::Label || !l.visible || l.bounds.x != c.bounds.x) continue;
    if (l.bounds.y + l.bounds.h > c.bounds.y) continue;
    if (best == nullptr || l.bounds.y > best->bounds.y) best = &l;
  }
  return best != nullptr ? best->caption : c.name;
}

std::string Value(const Control& c) {
  switch (c.kind) {
    case ControlKind::ListBox:
    case ControlKind::DropDownList:
    case ControlKind::RadioGroup:
      return c.selected >= 0 && c.selected < static_cast<int>(c.items.size())
                 ? c.items[static_cast<std::size_t>(c.selected)]
                 : std::string("(none)");
    case ControlKind::CheckBox:
      return c.checked ? "[x]" : "[ ]";
    case ControlKind::Edit:
      return c.text;
    default:
      return std::string();
  }
}

void Show(const Form& form, const std::vector<int>& menu) {
  std::fprintf(stderr, "\n== %s ==\n", GbkToUtf8(form.caption).c_str());
  for (const Control& c : form.controls)
    if (c.kind == ControlKind::Label && c.visible && c.enabled && c.name.rfind("Label", 0) == 0 &&
        c.caption.find(": ") != std::string::npos)
      std::fprintf(stderr, "   %s\n", GbkToUtf8(c.caption).c_str());  // read-outs
  for (std::size_t i = 0; i < menu.size(); ++i) {
    const Control& c = form.controls[static_cast<std::size_t>(menu[i])];
    const std::string value = Value(c);
    std::fprintf(stderr, "%3zu) %s%s%s\n", i + 1, GbkToUtf8(Title(form, c)).c_str(),
                 value.empty() && c.kind == ControlKind::Button ? "" : ": ",
                 GbkToUtf8(value).c_str());
  }
  std::fprintf(stderr, "  o) OK   c) Cancel\nchoice: ");
  std::fflush(stderr);
}

// Lets the user act on one control; false when the input ended.
bool Act(Form& form, Control& c) {
  std::string line;
  const int id = c.id;
  switch (c.kind) {
    case ControlKind::ListBox:
    case ControlKind::DropDownList:
    case ControlKind::RadioGroup: {
      for (std::size_t k = 0; k < c.items.size(); ++k)
        std::fprintf(stderr, "  %c%3zu) %s\n", static_cast<int>(k) == c.selected ? '*' : ' ', k + 1,
                     GbkToUtf8(c.items[k]).c_str());
      std::fprintf(stderr, "item: ");
      std::fflush(stderr);
      if (!ReadLine(line)) return false;
      int n = 0;
      if (!ParseNumber(line, n) || n < 1 || n > static_cast<int>(c.items.size())) return true;
      c.selected = n - 1;
      if (c.kind == ControlKind::DropDownList)
        form.OnChange(id);
      else
        form.OnClick(id);
      return true;
    }
    case ControlKind::CheckBox:
      c.checked = !c.checked;
      form.OnClick(id);
      return true;
    case ControlKind::Edit:
      std::fprintf(stderr, "text [%s]: ", GbkToUtf8(c.text).c_str());
      std::fflush(stderr);
      if (!ReadLine(line)) return false;
      c.text = Utf8ToGbk(line);
      return true;
    default:
      form.OnClick(id);
      return true;
  }
}

}  // namespace

std::string GbkToUtf8(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return ConvertText(text, "UTF-8", "GBK");
  return text;
}

std::string Utf8ToGbk(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return ConvertText(text, "GBK", "UTF-8");
  return text;
}

bool RunTerminalForm(Form& form) {
  std::string line;
  for (;;) {
    std::vector<int> menu;
    for (std::size_t i = 0; i < form.controls.size(); ++i)
      if (Interactive(form.controls[i])) menu.push_back(static_cast<int>(i));
    Show(form, menu);
    if (!ReadLine(line)) return false;
    if (line == "o" || line == "O") return true;
    if (line == "c" || line == "C") return false;
    int n = 0;
    if (!ParseNumber(line, n) || n < 1 || n > static_cast<int>(menu.size())) continue;
    if (!Act(form, form.controls[static_cast<std::size_t>(menu[static_cast<std::size_t>(n - 1)])]))
      return false;
  }
}

}  // namespace kz
