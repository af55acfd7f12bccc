#pragma once

#include <cstdio>
#include <expected>
#include <string>
#include <string_view>

#include "common/json.hpp"
#include "common/system_error.hpp"

namespace murmela {

// Where a command writes its results. The program writes to stdout; tests
// collect the text.
class Output {
 public:
  virtual ~Output() = default;
  virtual void write(std::string_view text) = 0;
  // Whether a person reads it on a terminal, where text from outside must not
  // act on the terminal.
  virtual bool is_terminal() const { return false; }
};

// Writes to a stdio stream. A failed write is remembered (the first error
// number), so that the program can report lost output instead of success.
class FileOutput final : public Output {
 public:
  explicit FileOutput(std::FILE* file);
  void write(std::string_view text) override;
  bool is_terminal() const override { return terminal_; }

  // Flushes what is buffered; fails with the first error of any write.
  [[nodiscard]] std::expected<void, SystemError> finish();

 private:
  std::FILE* file_;
  bool terminal_;
  int error_ = 0;
};

class StringOutput final : public Output {
 public:
  explicit StringOutput(bool terminal = false) : terminal_(terminal) {}
  void write(std::string_view text) override { text_.append(text); }
  bool is_terminal() const override { return terminal_; }
  const std::string& text() const { return text_; }

 private:
  bool terminal_;
  std::string text_;
};

// The output style of every JSON result: two-space indent, keys in byte
// order, one line feed after it; on a terminal, with the characters of
// strings that would act on it escaped (JsonStyle::for_terminal).
void print_json(Output& out, const Json& value);
void print_json(Output& out, JsonView value);
void print_json(Output& out, const JsonDocument& document);

}  // namespace murmela
