#pragma once
// kz51 run as a program from the build's bin directory against libkz51.so
// and the virtual emulator: its exit status, output and JSON objects.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kz51::test {

struct Kz51Outcome {
  int status = -1;
  std::string out, err;
  std::vector<nlohmann::json> objects;  // stdout as JSON lines
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string ReadWhole(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs kz51 with `args` in `bin`, KZ51_EMU unset.
inline Kz51Outcome RunKz51(const std::string& bin, const std::vector<std::string>& args) {
  std::random_device rd;
  const auto dir = std::filesystem::temp_directory_path() / ("kz51-run-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  std::string cmd = "cd " + ShellQuote(bin) + " && env -u KZ51_EMU timeout 60 ./kz51";
  for (const auto& a : args) cmd += " " + ShellQuote(a);
  cmd += " </dev/null >" + ShellQuote((dir / "out").string()) + " 2>" +
         ShellQuote((dir / "err").string());
  Kz51Outcome r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadWhole(dir / "out");
  r.err = ReadWhole(dir / "err");
  std::filesystem::remove_all(dir);
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) r.objects.push_back(nlohmann::json::parse(line, nullptr, false));
  return r;
}

// "--json -c C1 -c C2 ..."
inline std::vector<std::string> JsonScript(const std::vector<std::string>& commands) {
  std::vector<std::string> args{"--json"};
  for (const auto& c : commands) {
    args.push_back("-c");
    args.push_back(c);
  }
  return args;
}

}  // namespace kz51::test
