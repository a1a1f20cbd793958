#include <unistd.h>

#include <cstdio>

#include "platform/posix/PosixPorts.h"

namespace kz {

void PosixUi::MessageBox(MessageKind kind, const std::string& text) {
  std::fprintf(stderr, "kz51 %s: %s\n", kind == MessageKind::Error ? "error" : "information",
               text.c_str());
}

bool PosixUi::RunModal(Form& form) {
  std::fprintf(stderr, "kz51: dialog \"%s\" answered Cancel (no interactive renderer)\n",
               form.caption.c_str());
  form.OnCancel();
  return false;
}

void PosixUi::UpdateProgress(const ProgressView& view) {
  if (!view.visible || !isatty(STDERR_FILENO)) return;
  int span = view.maximum - view.minimum;
  int filled = span > 0 ? (view.position - view.minimum) * 30 / span : 0;
  std::fprintf(stderr, "\r%-28.28s [%-30.*s] ", view.caption.c_str(), filled,
               "##############################");
  std::fflush(stderr);
}

}  // namespace kz
