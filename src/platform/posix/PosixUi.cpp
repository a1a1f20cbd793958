#include <iconv.h>
#include <unistd.h>

#include <cstdio>

#include "platform/posix/PosixPorts.h"

namespace kz {

namespace {

bool IsUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t extra = c < 0x80             ? 0
                              : (c & 0xE0) == 0xC0 ? 1
                              : (c & 0xF0) == 0xE0 ? 2
                              : (c & 0xF8) == 0xF0 ? 3
                                                   : 99;
    if (extra == 99 || s.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace

// Bytes that do not convert become '?'.
std::string ConvertText(const std::string& text, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return text;
  std::string in = text;
  std::string out(text.size() * 3 + 4, '\0');
  char* src = in.data();
  char* dst = out.data();
  std::size_t srcLeft = in.size(), dstLeft = out.size();
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
      if (dstLeft == 0) break;
      *dst++ = '?';
      --dstLeft;
      ++src;
      --srcLeft;
    }
  }
  iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return out;
}

// Fixed texts are UTF-8 already; names from the data files are GBK.
std::string ToTerminalText(const std::string& text) {
  if (IsUtf8(text)) return text;
  return ConvertText(text, "UTF-8", "GBK");
}

void PosixUi::MessageBox(MessageKind kind, const std::string& text) {
  const char* label = kind == MessageKind::Error     ? "error"
                      : kind == MessageKind::Warning ? "warning"
                                                     : "information";
  std::fprintf(stderr, "kz51 %s: %s\n", label, ToTerminalText(text).c_str());
}

bool PosixUi::RunModal(Form& form) {
  if (isatty(STDIN_FILENO)) return RunTerminalForm(form);
  std::fprintf(stderr, "kz51: dialog \"%s\" answered Cancel (standard input is not a terminal)\n",
               GbkToUtf8(form.caption).c_str());
  return false;
}

void PosixUi::UpdateProgress(const ProgressView& view) {
  if (!isatty(STDERR_FILENO)) return;
  if (!view.visible) {
    if (barShown_) std::fputc('\n', stderr);  // the next output starts on a line of its own
    barShown_ = false;
    return;
  }
  barShown_ = true;
  int span = view.maximum - view.minimum;
  int filled = span > 0 ? (view.position - view.minimum) * 30 / span : 0;
  std::fprintf(stderr, "\r%-28.28s [%-30.*s] ", ToTerminalText(view.caption).c_str(), filled,
               "##############################");
  std::fflush(stderr);
}

}  // namespace kz
