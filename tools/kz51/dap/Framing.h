#pragma once
// Debug Adapter Protocol framing: each message is a header block
// ("Content-Length: N", other headers ignored, ended by an empty line)
// followed by N bytes of JSON.
#include <cstddef>
#include <istream>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

namespace kzhost::dap {

// Bodies above this size are refused; a client never needs more and a
// corrupt length must not make the adapter allocate gigabytes.
inline constexpr std::size_t kMaxBody = 16u << 20;

struct Frame {
  enum class Kind { Body, Malformed, End };
  Kind kind = Kind::End;
  std::string body;  // Body: the message; Malformed: why it was refused
};

// Reads frames one after the other. A malformed header block is reported once
// and the reader resynchronises on the next "Content-Length:".
class FrameReader {
 public:
  explicit FrameReader(std::istream& in) : in_(in) {}
  Frame Next();

 private:
  bool ReadLine(std::string& line);  // false at end of input
  bool NextLine(std::string& line);
  std::istream& in_;
  std::optional<std::string> pending_;  // a header line found after stray bytes
};

// Writes whole frames; requests and the run thread's events share it.
class FrameWriter {
 public:
  explicit FrameWriter(std::ostream& out) : out_(out) {}
  void Write(const std::string& body);

 private:
  std::mutex mutex_;
  std::ostream& out_;
};

}  // namespace kzhost::dap
