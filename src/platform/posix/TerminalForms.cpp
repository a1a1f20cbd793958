// The terminal renderer of form models: each form as a numbered menu of its
// controls, answered line by line. Only used while stdin is a terminal; the
// menu and its prompts go to that terminal (/dev/tty), so they reach the
// person even when stdout or stderr are redirected.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/posix/PosixPorts.h"

namespace kz {

namespace {

// The person's terminal: /dev/tty for both ways, else stdin and stderr.
class Terminal {
 public:
  Terminal() : fd_(open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
  ~Terminal() {
    if (fd_ >= 0) close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  void Say(const std::string& text) {
    const int out = fd_ >= 0 ? fd_ : STDERR_FILENO;
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(out, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  // A line without its end; false at the end of input. Reads byte by byte,
  // so nothing typed after the line is taken from the terminal.
  bool ReadLine(std::string& line) {
    const int in = fd_ >= 0 ? fd_ : STDIN_FILENO;
    line.clear();
    for (;;) {
      char c = 0;
      const ssize_t n = read(in, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return !line.empty();
      if (c == '\n') break;
      line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }

 private:
  int fd_;
};

bool ParseNumber(const std::string& s, int& n) {
  if (s.empty() || s.size() > 6) return false;
  n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return true;
}

// Controls a person acts on; each gets a menu number for the life of the menu.
bool Actionable(const Control& c) {
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

bool SameRow(const Bounds& a, const Bounds& b) {
  return a.y < b.y + b.h && b.y < a.y + a.h;
}

// The nearest visible label left of the control in its row and container:
// a sector table's address range, an edit field's title.
const Control* RowLabel(const Form& form, const Control& c) {
  const Control* best = nullptr;
  for (const Control& l : form.controls) {
    if (l.kind != ControlKind::Label || !l.visible || l.parent != c.parent) continue;
    if (l.bounds.x + l.bounds.w > c.bounds.x || !SameRow(l.bounds, c.bounds)) continue;
    if (best == nullptr || l.bounds.x > best->bounds.x) best = &l;
  }
  return best;
}

// The nearest visible label right above the control, in its column.
const Control* LabelAbove(const Form& form, const Control& c, int maxGap) {
  const Control* best = nullptr;
  for (const Control& l : form.controls) {
    if (l.kind != ControlKind::Label || !l.visible || l.bounds.x != c.bounds.x) continue;
    const int gap = c.bounds.y - (l.bounds.y + l.bounds.h);
    if (gap < 0 || gap > maxGap) continue;
    if (best == nullptr || l.bounds.y > best->bounds.y) best = &l;
  }
  return best;
}

// What a control is called: a check box by its row's label and its caption
// ("0000-03FF GEDIS"), an edit field by its label, else its caption or the
// label above it.
std::string Title(const Form& form, const Control& c) {
  const Control* row = RowLabel(form, c);
  if (c.kind == ControlKind::CheckBox && row != nullptr && c.parent != 0)
    return row->caption + " " + c.caption;
  if (c.kind != ControlKind::Edit && !c.caption.empty()) return c.caption;
  if (row != nullptr && !row->caption.empty()) return row->caption;
  const Control* above = LabelAbove(form, c, 1 << 20);
  return above != nullptr ? above->caption : c.name;
}

// The heading of a panel or group box: its caption, else the label right
// above it ("Secotor security bits" over the sector table).
std::string Heading(const Form& form, const Control& container) {
  if (!container.caption.empty()) return container.caption;
  const Control* above = LabelAbove(form, container, 8);
  return above != nullptr ? above->caption : std::string();
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

std::string Number(std::size_t n, int width) {
  std::string s = std::to_string(n);
  return std::string(s.size() < static_cast<std::size_t>(width) ? width - s.size() : 0, ' ') + s;
}

void Show(Terminal& tty, Form& form, const std::vector<int>& menu) {
  std::string out = "\n== " + GbkToUtf8(form.caption) + " ==\n";
  for (const Control& c : form.controls)
    if (c.kind == ControlKind::Label && c.visible && c.enabled && c.name.rfind("Label", 0) == 0 &&
        c.caption.find(": ") != std::string::npos)
      out += "   " + GbkToUtf8(c.caption) + "\n";  // read-outs
  int container = 0;
  for (std::size_t i = 0; i < menu.size(); ++i) {
    const Control& c = form.controls[static_cast<std::size_t>(menu[i])];
    if (!c.visible) continue;  // hidden since the menu opened: its number stays unused
    if (c.parent != container) {
      container = c.parent;
      const Control* box = form.FindId(container);
      if (box != nullptr &&
          (box->kind == ControlKind::Panel || box->kind == ControlKind::GroupBox)) {
        const std::string heading = Heading(form, *box);
        if (!heading.empty()) out += "   -- " + GbkToUtf8(heading) + " --\n";
      }
    }
    const std::string value = Value(c);
    out += Number(i + 1, 3) + ") " + GbkToUtf8(Title(form, c));
    if (!(value.empty() && c.kind == ControlKind::Button)) out += ": " + GbkToUtf8(value);
    if (!c.enabled) out += "  (disabled)";
    out += "\n";
  }
  out += "  o) OK   c) Cancel\nchoice: ";
  tty.Say(out);
}

// Lets the person act on one control; false when the input ended.
bool Act(Terminal& tty, Form& form, Control& c) {
  std::string line;
  const int id = c.id;
  switch (c.kind) {
    case ControlKind::ListBox:
    case ControlKind::DropDownList:
    case ControlKind::RadioGroup: {
      std::string out;
      for (std::size_t k = 0; k < c.items.size(); ++k)
        out += std::string("  ") + (static_cast<int>(k) == c.selected ? '*' : ' ') +
               Number(k + 1, 3) + ") " + GbkToUtf8(c.items[k]) + "\n";
      tty.Say(out + "item: ");
      if (!tty.ReadLine(line)) return false;
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
    case ControlKind::Edit: {
      tty.Say("text [" + GbkToUtf8(c.text) + "]: ");
      if (!tty.ReadLine(line)) return false;
      const std::string text = Utf8ToGbk(line);
      const std::string refusal = form.TextRefusal(id, text);
      if (!refusal.empty()) {
        tty.Say(GbkToUtf8(refusal) + "\n");
        return true;
      }
      c.text = text;
      return true;
    }
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
  Terminal tty;
  // Numbers are given once, to every control shown when the form opens, so
  // a control that is disabled later keeps its number and the rest theirs.
  std::vector<int> menu;
  for (std::size_t i = 0; i < form.controls.size(); ++i)
    if (Actionable(form.controls[i]) && form.controls[i].visible)
      menu.push_back(static_cast<int>(i));
  std::string line;
  for (;;) {
    Show(tty, form, menu);
    if (!tty.ReadLine(line)) return false;
    if (line == "o" || line == "O") return true;
    if (line == "c" || line == "C") return false;
    int n = 0;
    if (!ParseNumber(line, n) || n < 1 || n > static_cast<int>(menu.size())) continue;
    Control& c = form.controls[static_cast<std::size_t>(menu[static_cast<std::size_t>(n - 1)])];
    if (!c.visible) continue;
    if (!c.enabled) {
      tty.Say(GbkToUtf8(Title(form, c)) + " is disabled\n");
      continue;
    }
    if (!Act(tty, form, c)) return false;
  }
}

}  // namespace kz
