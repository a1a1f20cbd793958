#pragma once
// A scripted Ui: records what was shown and plays the answers of modal forms.
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/System.h"
#include "platform/Ui.h"

namespace kz::fake {

class FakeUi : public Ui {
 public:
  struct Shown {
    MessageKind kind;
    std::string text;
  };
  std::vector<Shown> boxes;
  std::vector<std::string> formCaptions;  // caption of each modal form run
  std::deque<bool> modalAnswers;          // true = OK; Cancel when empty
  std::vector<ProgressView> progress;     // every redraw of the progress window
  // When set, plays each modal form (clicks, typing) and answers for it;
  // modalAnswers is then not used.
  std::function<bool(Form&)> play;

  void MessageBox(MessageKind kind, const std::string& text) override {
    boxes.push_back({kind, text});
  }
  bool RunModal(Form& form) override {
    formCaptions.push_back(form.caption);
    if (play) return play(form);
    bool ok = false;
    if (!modalAnswers.empty()) {
      ok = modalAnswers.front();
      modalAnswers.pop_front();
    }
    return ok;
  }
  void UpdateProgress(const ProgressView& view) override { progress.push_back(view); }
  void SetHostWindow(std::uintptr_t window) override { hostWindow = window; }
  std::uintptr_t hostWindow = 0;
};

class FakeSystem : public System {
 public:
  std::string commandLine;
  std::vector<std::string> events;
  struct Posted {
    std::uintptr_t window;
    std::uint32_t message;
    std::uintptr_t wparam;
    std::intptr_t lparam;
  };
  std::vector<Posted> posted;

  std::string CommandLine() override { return commandLine; }
  char PathSeparator() const override { return '/'; }
  void CreateNamedEvent(const char* name) override { events.emplace_back(name); }
  bool ReplaceFile(const std::string& from, const std::string& to) override {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return !ec;
  }
  void PostHostMessage(std::uintptr_t w, std::uint32_t m, std::uintptr_t wp,
                       std::intptr_t lp) override {
    posted.push_back({w, m, wp, lp});
  }
};

}  // namespace kz::fake
