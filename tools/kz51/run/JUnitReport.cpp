#include "run/JUnitReport.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

namespace kz51::run {

namespace {

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// One character decoded from UTF-8 at `i`; a byte that starts no valid
// sequence is taken as Latin-1. Advances `i`.
std::uint32_t Decode(const std::string& s, std::size_t& i) {
  const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t c = b(i);
  int more = 0;
  std::uint32_t v = 0, min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    more = 1, v = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    more = 2, v = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    more = 3, v = c & 0x07, min = 0x10000;
  }
  if (more > 0 && i + static_cast<std::size_t>(more) < s.size() + 0) {
    std::uint32_t w = v;
    bool ok = true;
    for (int k = 1; k <= more && ok; ++k) {
      const std::size_t at = i + static_cast<std::size_t>(k);
      ok = at < s.size() && (b(at) & 0xC0) == 0x80;
      if (ok) w = w << 6 | (b(at) & 0x3F);
    }
    if (ok && w >= min && w <= 0x10FFFF && (w < 0xD800 || w > 0xDFFF)) {
      i += static_cast<std::size_t>(more) + 1;
      return w;
    }
  }
  ++i;
  return c;
}

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", s < 0 ? 0.0 : s);
  return buf;
}

}  // namespace

std::string XmlText(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::uint32_t c = Decode(bytes, i);
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF)
          AppendUtf8(out, 0xFFFD);
        else
          AppendUtf8(out, c);
    }
  }
  return out;
}

std::string WriteJUnit(const std::vector<TestCase>& cases) {
  double total = 0;
  int failures = 0;
  for (const auto& c : cases) {
    total += c.seconds;
    if (c.failed) ++failures;
  }
  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  if (const std::tm* t = std::gmtime(&now))
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", t);
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::string counts = " tests=\"" + std::to_string(cases.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"0\"";
  out += "<testsuites name=\"kz51 run\"" + counts + " time=\"" + Seconds(total) + "\">\n";
  out += "  <testsuite name=\"kz51 run\"" + counts + " skipped=\"0\" time=\"" + Seconds(total) +
         "\" timestamp=\"" + stamp + "\">\n";
  for (const auto& c : cases) {
    out += "    <testcase name=\"" + XmlText(c.name) + "\" classname=\"kz51.run\" time=\"" +
           Seconds(c.seconds) + "\">\n";
    if (c.failed)
      out += "      <failure type=\"" + XmlText(c.failureType) + "\" message=\"" +
             XmlText(c.reason) + "\">" + XmlText(c.reason) + "</failure>\n";
    out += "      <system-out>" + XmlText(c.output) + "</system-out>\n";
    out += "    </testcase>\n";
  }
  out += "  </testsuite>\n</testsuites>\n";
  return out;
}

}  // namespace kz51::run
