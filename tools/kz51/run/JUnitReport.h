#pragma once
// The JUnit XML report of a run: one testcase per program with its wall time,
// a failure carrying the reason when its status is not 0 or it timed out,
// and what the target sent on its UART as system-out.
#include <string>
#include <vector>

namespace kz51::run {

struct TestCase {
  std::string name;  // the program as given
  double seconds = 0;
  bool failed = false;
  std::string failureType;  // "status", "timeout", "max-cycles", "error"
  std::string reason;       // one sentence
  std::string output;       // UART bytes
};

std::string WriteJUnit(const std::vector<TestCase>& cases);

// Text for an XML document: markup characters escaped, bytes that are not
// UTF-8 read as Latin-1, characters XML cannot carry replaced by U+FFFD.
std::string XmlText(const std::string& bytes);

}  // namespace kz51::run
