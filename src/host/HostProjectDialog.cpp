#include "host/HostProjectDialog.h"

#include "connect/umessage.h"

namespace kz {

bool HostProjectDialog::RunProjectDialog() {
  std::string failure = failureCaption_ ? failureCaption_() : std::string();
  form_.caption = failure.empty() ? GetMessage(132) : failure;
  return ui_.RunModal(form_);
}

}  // namespace kz
