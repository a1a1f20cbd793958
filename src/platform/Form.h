#pragma once
// Toolkit-free form model: a dialog is a caption plus named controls. Dialog
// classes fill the controls and handle their events; renderers only map the
// model to widgets and user actions back to events.
#include <cstdint>
#include <string>
#include <vector>

namespace kz {

enum class ControlKind : std::uint8_t {
  ListBox,
  DropDownList,
  RadioGroup,
  CheckBox,
  Edit,
  Label,
  Button,
  PageControl,
  Gauge
};

struct Control {
  std::string name;
  ControlKind kind = ControlKind::Label;
  std::string caption;
  std::vector<std::string> items;
  int selected = -1;
  bool checked = false;
  bool enabled = true;
  bool visible = true;
  int page = 0;  // page of the page control this control sits on
};

class Form {
 public:
  virtual ~Form() = default;
  virtual const char* ClassName() const = 0;
  std::string caption;
  std::vector<Control> controls;

  Control* Find(const std::string& name) {
    for (auto& c : controls)
      if (c.name == name) return &c;
    return nullptr;
  }
  // Events raised by a renderer. Return false from OnOk to keep the dialog open.
  virtual void OnClick(const std::string& /*control*/) {}
  virtual void OnChange(const std::string& /*control*/) {}
  virtual bool OnOk() { return true; }
  virtual void OnCancel() {}
};

}  // namespace kz
