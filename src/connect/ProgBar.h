#pragma once
// The progress window (TProgForm): one stay-on-top window whose only content
// is a bar gauge. The model keeps caption and gauge; the Ui port draws it.
#include <cstdint>
#include <string>

#include "platform/Ui.h"

namespace kz {

class TProgForm {
 public:
  explicit TProgForm(Ui& ui) : ui_(ui) { view_.caption = "Waitting"; }

  // Sets caption, minimum 0, maximum range and progress 0; does not show.
  void Start(std::uint16_t range, const std::string& title);
  // Empty caption, progress 0.
  void Reset();
  // One step; the progress stays within minimum and maximum.
  void Step();
  void Show();
  void Hide();

  const ProgressView& View() const { return view_; }

 private:
  void Redraw() { ui_.UpdateProgress(view_); }
  Ui& ui_;
  ProgressView view_;
};

}  // namespace kz
