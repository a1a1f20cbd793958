// The Linux ports: text for the terminal, and a provider library that is
// missing behaving as pipes that cannot be opened.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/PosixPorts.h"

namespace kz {
namespace {

TEST(PosixUi, TerminalTextKeepsUtf8AndConvertsGbk) {
  EXPECT_EQ(ToTerminalText("POD not match: Pod 51-A"), "POD not match: Pod 51-A");
  EXPECT_EQ(ToTerminalText("请检查仿真器"), "请检查仿真器");
  // "中文" in GBK.
  EXPECT_EQ(ToTerminalText(std::string("\xD6\xD0\xCE\xC4")), "中文");
  // A truncated GBK pair still gives printable text, never a crash.
  std::string cut = ToTerminalText(std::string("A\xD6"));
  EXPECT_EQ(cut.substr(0, 1), "A");
}

TEST(PosixUsbPipes, MissingProviderIsPipesThatCannotOpen) {
  PosixUsbPipes pipes("libkz51-no-such-provider.so");
  EXPECT_EQ(pipes.OpenReadPipe(), kInvalidPipe);
  EXPECT_EQ(pipes.OpenWritePipe(), kInvalidPipe);
  std::uint8_t b[64] = {};
  std::uint32_t got = 7;
  EXPECT_FALSE(pipes.Write(kInvalidPipe, b, 64));
  EXPECT_FALSE(pipes.Read(kInvalidPipe, b, 64, got));
  EXPECT_EQ(got, 0u);
}

TEST(PosixSystem, CommandLineJoinsArgumentsWithBlanks) {
  PosixSystem sys;
  const std::string line = sys.CommandLine();
  EXPECT_NE(line.find("unit_tests"), std::string::npos);
  EXPECT_EQ(line.find('\0'), std::string::npos);
  // The process's own arguments, one blank between each two.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  for (std::size_t at = 0; at < raw.size();) {
    const std::size_t end = raw.find('\0', at);
    args.push_back(raw.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? raw.size() : end + 1;
  }
  ASSERT_FALSE(args.empty());
  std::string joined = args[0];
  for (std::size_t i = 1; i < args.size(); ++i) joined += " " + args[i];
  EXPECT_EQ(line, joined);
}

}  // namespace
}  // namespace kz
