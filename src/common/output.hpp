#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "common/json.hpp"

namespace murmela {

// Where a command writes its results. The program writes to stdout; tests
// collect the text.
class Output {
 public:
  virtual ~Output() = default;
  virtual void write(std::string_view text) = 0;
};

class FileOutput final : public Output {
 public:
  explicit FileOutput(std::FILE* file) : file_(file) {}
  void write(std::string_view text) override;

 private:
  std::FILE* file_;
};

class StringOutput final : public Output {
 public:
  void write(std::string_view text) override { text_.append(text); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// The output style of every JSON result: two-space indent, keys in byte
// order, one line feed after it.
void print_json(Output& out, const Json& value);
void print_json(Output& out, JsonView value);

}  // namespace murmela
