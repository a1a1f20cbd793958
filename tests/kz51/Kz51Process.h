#pragma once
// kz51 run as a program against libkz51.so and the virtual emulator
// (libusbd12.so), for the script-mode suites: its exit status, output and
// JSON objects.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/TempDir.h"

namespace kz51test {

namespace fs = std::filesystem;
using Json = nlohmann::json;

inline const std::string kBin = KZ_OUT_DIR;

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<Json> objects;  // stdout as JSON lines
};

using kz::fake::TempDir;

// Runs kz51 with `args`, KZ51_EMU set to `emu` (unset when empty).
inline Outcome Kz51(const std::vector<std::string>& args, const std::string& emu = "") {
  TempDir tmp;
  std::string cmd = "cd " + Quote(kBin) + " && ";
  cmd += emu.empty() ? "env -u KZ51_EMU" : "env KZ51_EMU=" + Quote(emu);
  cmd += " timeout 60 ./kz51";
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " </dev/null >" + Quote((tmp.Path() / "out").string()) + " 2>" +
         Quote((tmp.Path() / "err").string());
  Outcome r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadText(tmp.Path() / "out");
  r.err = ReadText(tmp.Path() / "err");
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    r.objects.push_back(Json::parse(line, nullptr, false));
  }
  return r;
}

inline std::vector<std::string> JsonCommands(const std::vector<std::string>& commands) {
  std::vector<std::string> args{"--json"};
  for (const auto& c : commands) {
    args.push_back("-c");
    args.push_back(c);
  }
  return args;
}

}  // namespace kz51test
