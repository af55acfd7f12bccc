#include "common/output.hpp"

#include <cerrno>

#include <stdio.h>
#include <unistd.h>

#include "common/descriptor.hpp"
#include "common/json_writer.hpp"

namespace murmela {

FileOutput::FileOutput(std::FILE* file) : file_(file), terminal_(::isatty(::fileno(file)) == 1) {}

// Each piece goes out at once, in one write() where the stream holds nothing
// yet: through stdio, a large piece costs two or three system calls.
void FileOutput::write(std::string_view text) {
  if (error_ != 0) return;
  if (std::fflush(file_) != 0) {
    error_ = errno != 0 ? errno : EIO;
    return;
  }
  if (auto written = write_all(::fileno(file_), text); !written) {
    error_ = written.error() != 0 ? written.error() : EIO;
  }
}

std::expected<void, SystemError> FileOutput::finish() {
  if (error_ == 0 && std::fflush(file_) != 0) error_ = errno != 0 ? errno : EIO;
  if (error_ != 0) return system_failure(error_, "Cannot write the output");
  return {};
}

namespace {

JsonStyle pretty_for(const Output& out) {
  JsonStyle style = kPrettyJson;
  style.for_terminal = out.is_terminal();
  return style;
}

}  // namespace

void print_json(Output& out, const Json& value) {
  write_json(out, value, pretty_for(out));
  out.write("\n");
}

void print_json(Output& out, JsonView value) {
  write_json(out, value, pretty_for(out));
  out.write("\n");
}

void print_json(Output& out, const JsonDocument& document) {
  write_json(out, document, pretty_for(out));
  out.write("\n");
}

}  // namespace murmela
