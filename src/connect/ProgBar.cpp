#include "connect/ProgBar.h"

namespace kz {

void TProgForm::Start(std::uint16_t range, const std::string& title) {
  view_.caption = title;
  view_.minimum = 0;
  view_.maximum = range;
  view_.position = 0;
  Redraw();
}

void TProgForm::Reset() {
  view_.caption.clear();
  view_.position = 0;
  Redraw();
}

void TProgForm::Step() {
  if (view_.position < view_.maximum) ++view_.position;
  if (view_.position < view_.minimum) view_.position = view_.minimum;
  Redraw();
}

void TProgForm::Show() {
  view_.visible = true;
  Redraw();
}

void TProgForm::Hide() {
  view_.visible = false;
  Redraw();
}

}  // namespace kz
