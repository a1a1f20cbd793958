#pragma once
// Port to the user interface: message boxes, modal forms and the progress
// window view.
#include <cstdint>
#include <string>

#include "platform/Form.h"

namespace kz {

enum class MessageKind : std::uint8_t { Information, Error, Warning };

// What a renderer needs to draw the progress window; the state lives in the
// progress form model.
struct ProgressView {
  std::string caption;
  int minimum = 0;
  int maximum = 0;
  int position = 0;
  bool visible = false;
};

class Ui {
 public:
  virtual ~Ui() = default;
  // Modal box with a single OK button. Texts are bytes as the driver holds
  // them (UTF-8 for fixed texts, GBK for names from the data files).
  virtual void MessageBox(MessageKind kind, const std::string& text) = 0;
  // Runs the form modally; true for OK, false for Cancel.
  virtual bool RunModal(Form& form) = 0;
  // Redraws the progress window from its model.
  virtual void UpdateProgress(const ProgressView& view) = 0;
  // The window the host registered (0: none). Dialogs and message boxes are
  // modal to it, so the host takes no input while one is up.
  virtual void SetHostWindow(std::uintptr_t window) = 0;
};

}  // namespace kz
