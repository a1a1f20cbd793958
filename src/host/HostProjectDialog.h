#pragma once
// Runs the project options dialog for DllUv3Cap and for the connection's
// retry: the caption shows the failure text while the link has failed.
#include <functional>
#include <string>

#include "config/PrjOpt.h"
#include "platform/Ui.h"

namespace kz {

class HostProjectDialog : public ProjectDialog {
 public:
  // failureCaption answers the failure text, or an empty text when the link
  // has not failed.
  HostProjectDialog(Ui& ui, std::function<std::string()> failureCaption)
      : ui_(ui), failureCaption_(std::move(failureCaption)) {}
  bool RunProjectDialog() override;
  TPrjOptF& Form() { return form_; }

 private:
  Ui& ui_;
  std::function<std::string()> failureCaption_;
  TPrjOptF form_;
};

}  // namespace kz
