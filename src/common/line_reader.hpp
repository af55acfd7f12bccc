#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace murmela {

// Reads a stream of lines from a file descriptor, holding no more than one
// line of at most `limit` bytes: a longer line is passed over as it arrives,
// never held whole, so that a sender cannot make the reader take memory
// without bound.
class LineReader {
 public:
  LineReader(int fd, std::size_t limit) : fd_(fd), limit_(limit) {}

  enum class Outcome {
    Line,     // `text` holds the line, its line feed included when it had one
    TooLong,  // a line of more than `limit` bytes before its line feed was passed over
    End,      // no byte was left
    Failed,   // reading failed
  };
  struct Read {
    Outcome outcome;
    std::string_view text;  // valid until the next call
  };

  Read next();

 private:
  // Reads more bytes onto the end of the buffer; false at the end or on failure.
  bool fill();
  // Reads on to the next line feed, dropping every byte up to it.
  Read pass_over_line();

  int fd_;
  std::size_t limit_;
  std::string buffer_;
  std::size_t start_ = 0;    // where the next line begins
  std::size_t scanned_ = 0;  // bytes from start_ searched for a line feed already
  bool failed_ = false;
};

}  // namespace murmela
