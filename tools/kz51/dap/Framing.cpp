#include "dap/Framing.h"

#include <cctype>

namespace kzhost::dap {

namespace {

constexpr char kLengthHeader[] = "Content-Length:";
constexpr std::size_t kMaxHeaderLine = 4096;

bool EqualNoCase(const std::string& a, std::size_t pos, const char* b) {
  for (std::size_t i = 0; b[i] != 0; ++i) {
    if (pos + i >= a.size() || std::tolower(static_cast<unsigned char>(a[pos + i])) !=
                                   std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::size_t FindLengthHeader(const std::string& line) {
  for (std::size_t p = 0; p < line.size(); ++p)
    if (EqualNoCase(line, p, kLengthHeader)) return p;
  return std::string::npos;
}

// "Name: value" with a token name: a header this reader does not use.
bool LooksLikeHeader(const std::string& line) {
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string::npos) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (!std::isalnum(c) && c != '-') return false;
  }
  return true;
}

}  // namespace

bool FrameReader::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    const int c = in_.get();
    if (c == std::char_traits<char>::eof()) return !line.empty();
    if (c == '\n') break;
    // An endless line is cut; the rest arrives as further lines and is
    // skipped by the resynchronisation.
    if (line.size() >= kMaxHeaderLine) {
      in_.unget();
      break;
    }
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool FrameReader::NextLine(std::string& line) {
  if (pending_) {
    line = std::move(*pending_);
    pending_.reset();
    return true;
  }
  return ReadLine(line);
}

Frame FrameReader::Next() {
  std::string line;
  bool inHeader = false;
  bool garbage = false;  // bytes seen outside any header block
  std::string why;
  long long length = -1;
  for (;;) {
    if (!NextLine(line)) return Frame{Frame::Kind::End, {}};
    const std::size_t at = FindLengthHeader(line);
    if (at != std::string::npos && (at != 0 || garbage)) {
      // A header begins after stray bytes: report those, then read the frame.
      pending_ = line.substr(at);
      return Frame{Frame::Kind::Malformed, "malformed message: unexpected bytes before the header"};
    }
    if (!inHeader) {
      if (line.empty()) {
        if (garbage) {
          return Frame{Frame::Kind::Malformed,
                       "malformed message: expected a Content-Length header"};
        }
        continue;  // blank lines between frames
      }
      if (at == std::string::npos && !LooksLikeHeader(line)) {
        garbage = true;
        continue;
      }
      inHeader = true;
    }
    if (line.empty()) break;
    if (at == std::string::npos) continue;  // other headers are ignored
    std::string value = line.substr(sizeof(kLengthHeader) - 1);
    std::size_t i = 0;
    while (i < value.size() && value[i] == ' ') ++i;
    long long n = 0;
    std::size_t digits = 0;
    for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i) {
      if (n <= static_cast<long long>(kMaxBody)) n = n * 10 + (value[i] - '0');
      ++digits;
    }
    while (i < value.size() && value[i] == ' ') ++i;
    length = -1;
    if (digits == 0 || i != value.size()) {
      why = "malformed message: Content-Length is not a number";
    } else if (n > static_cast<long long>(kMaxBody)) {
      why = "malformed message: Content-Length" + value + " exceeds the limit of " +
            std::to_string(kMaxBody) + " bytes";
    } else {
      why.clear();
      length = n;
    }
  }
  if (length < 0) {
    return Frame{Frame::Kind::Malformed,
                 why.empty() ? "malformed message: no Content-Length header" : why};
  }
  Frame f{Frame::Kind::Body, std::string(static_cast<std::size_t>(length), '\0')};
  in_.read(f.body.data(), length);
  if (in_.gcount() != length) return Frame{Frame::Kind::End, {}};
  return f;
}

void FrameWriter::Write(const std::string& body) {
  std::lock_guard lock(mutex_);
  out_ << "Content-Length: " << body.size() << "\r\n\r\n" << body;
  out_.flush();
}

}  // namespace kzhost::dap
