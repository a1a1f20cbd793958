#pragma once
// The person at a pseudo-terminal: waits for texts on the master side and
// types lines.
#include <poll.h>
#include <unistd.h>

#include <string>

namespace kz::fake {

class PtyScript {
 public:
  explicit PtyScript(int master) : master_(master) {}

  // Reads the terminal until the text appears after what was already matched
  // (at most 10 s).
  bool Expect(const std::string& text) {
    for (int i = 0; i < 100; ++i) {
      const auto at = screen_.find(text, seen_);
      if (at != std::string::npos) {
        seen_ = at + text.size();
        return true;
      }
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) > 0) {
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return false;
        screen_.append(buf, static_cast<std::size_t>(n));
      }
    }
    return false;
  }
  bool Type(const std::string& line) {
    const std::string l = line + "\n";
    return write(master_, l.data(), l.size()) == static_cast<ssize_t>(l.size());
  }
  const std::string& Screen() const { return screen_; }

 private:
  int master_;
  std::string screen_;
  std::size_t seen_ = 0;
};

}  // namespace kz::fake
