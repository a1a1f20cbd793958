#pragma once
// Toolkit-free form model: a dialog is a caption, a client size and named
// controls. Dialog classes fill the controls and handle their events;
// renderers only map the model to widgets and user actions back to events.
//
// Event contract (every renderer keeps it):
//  1. Before raising an event the renderer copies the state of every widget
//     into the model: list and radio selection, check marks, edit texts.
//  2. It raises the event: Click for a click on a list, a radio item, a check
//     box or a button without a role; Change for a new choice in a drop-down
//     list. Typing in an edit raises nothing; its text is copied as in 1.
//  3. After the handler returns it pushes every control back to its widget
//     (captions, items, selection, checks, texts, enabled, visible) and the
//     form caption to the window, raising no events while it does so.
//  4. Events of disabled or hidden controls are ignored.
//  5. OK (the button with role Ok, Enter) copies the state as in 1 and ends
//     the modal run with true; Cancel, Escape and the close box end it with
//     false and copy nothing.
//  6. A handler may run another form modally through the Ui port; that form
//     is shown above the one whose handler runs it.
//  7. A renderer that takes an edit's text as a whole typed line (the
//     terminal) asks TextRefusal first and, when it answers a reason, shows
//     the reason and keeps the previous text. A renderer whose edits take
//     keystrokes leaves the text as typed; OK then skips what the dialog
//     cannot use.
#include <cstdint>
#include <string>
#include <vector>

namespace kz {

enum class ControlKind : std::uint8_t {
  ListBox,       // single-choice list
  DropDownList,  // single choice, no free text
  RadioGroup,    // group box with one auto radio button per item
  CheckBox,
  Edit,  // one-line text field; its text is `text`
  Label,
  Button,
  PageControl,
  Page,      // one page of a page control; `parent` names the page control
  Panel,     // a plain container
  GroupBox,  // a framed container with a caption
  Gauge
};

enum class ButtonRole : std::uint8_t { None, Ok, Cancel, Help };

// Pixels, relative to the form's client area (not to the parent), so a
// renderer can place every widget directly.
struct Bounds {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};

struct Control {
  int id = 0;  // stable id: the widget id of the Win32 renderer, shared with tests
  std::string name;
  ControlKind kind = ControlKind::Label;
  int parent = 0;  // id of the page, panel or group box holding it; 0 = the form
  Bounds bounds;
  ButtonRole role = ButtonRole::None;
  std::string caption;
  std::string text;  // edit text, kept apart from the caption
  std::vector<std::string> items;
  int selected = -1;  // list, drop-down, radio group and page control: -1 = none
  bool checked = false;
  bool enabled = true;
  bool visible = true;
};

// The widget id of item k of a radio group: the group's id + 1 + k.
inline constexpr int RadioItemId(int groupId, int item) {
  return groupId + 1 + item;
}

class Form {
 public:
  virtual ~Form() = default;
  virtual const char* ClassName() const = 0;

  std::string caption;
  int clientWidth = 0;
  int clientHeight = 0;
  bool stayOnTop = true;
  bool centred = true;
  // In creation order, which is also the tab order of the controls that take
  // the focus (lists, drop-downs, edits, check boxes, radio groups, buttons).
  std::vector<Control> controls;

  Control& Add(int id, const std::string& name, ControlKind kind, Bounds bounds, int parent = 0) {
    Control c;
    c.id = id;
    c.name = name;
    c.kind = kind;
    c.bounds = bounds;
    c.parent = parent;
    controls.push_back(c);
    return controls.back();
  }
  Control* Find(const std::string& name) {
    for (auto& c : controls)
      if (c.name == name) return &c;
    return nullptr;
  }
  Control* FindId(int id) {
    for (auto& c : controls)
      if (c.id == id) return &c;
    return nullptr;
  }
  const Control* FindId(int id) const {
    for (const auto& c : controls)
      if (c.id == id) return &c;
    return nullptr;
  }
  // The control of that id; the dialog classes only ask for their own ids.
  Control& operator[](int id) { return *FindId(id); }

  // Events raised by a renderer, with the control's id.
  virtual void OnClick(int /*id*/) {}
  virtual void OnChange(int /*id*/) {}
  // Why a typed text cannot go into the edit of that id; empty when it can.
  virtual std::string TextRefusal(int /*id*/, const std::string& /*text*/) const { return {}; }
};

}  // namespace kz
