#include "common/line_reader.hpp"

#include <cerrno>

#include <unistd.h>

namespace murmela {

namespace {

constexpr std::size_t kReadBytes = 64 * 1024;

}  // namespace

LineReader::Read LineReader::next() {
  for (;;) {
    const std::string_view held = std::string_view(buffer_).substr(start_);
    const std::size_t feed = held.find('\n', scanned_);
    if (feed != std::string_view::npos) {
      start_ += feed + 1;
      scanned_ = 0;
      if (feed > limit_) return {Outcome::TooLong, {}};
      return {Outcome::Line, held.substr(0, feed + 1)};
    }
    scanned_ = held.size();
    if (held.size() > limit_) return pass_over_line();
    if (!fill()) {
      if (failed_) return {Outcome::Failed, {}};
      const std::string_view last = std::string_view(buffer_).substr(start_);
      if (last.empty()) return {Outcome::End, {}};
      // The last line, without a line feed.
      start_ = buffer_.size();
      scanned_ = 0;
      return {Outcome::Line, last};
    }
  }
}

bool LineReader::fill() {
  // What was handed out is no longer needed.
  buffer_.erase(0, start_);
  start_ = 0;
  const std::size_t old_size = buffer_.size();
  buffer_.resize(old_size + kReadBytes);
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data() + old_size, kReadBytes);
    if (got < 0 && errno == EINTR) continue;
    buffer_.resize(old_size + static_cast<std::size_t>(got > 0 ? got : 0));
    failed_ = got < 0;
    return got > 0;
  }
}

LineReader::Read LineReader::pass_over_line() {
  buffer_.clear();
  start_ = 0;
  scanned_ = 0;
  for (;;) {
    if (!fill()) return {failed_ ? Outcome::Failed : Outcome::TooLong, {}};
    const std::size_t feed = buffer_.find('\n');
    if (feed != std::string::npos) {
      start_ = feed + 1;
      return {Outcome::TooLong, {}};
    }
    buffer_.clear();
  }
}

}  // namespace murmela
