#include "common/output.hpp"

#include <cerrno>

#include "common/json_writer.hpp"

namespace murmela {

void FileOutput::write(std::string_view text) {
  if (error_ != 0) return;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
    error_ = errno != 0 ? errno : EIO;
  }
}

int FileOutput::finish() {
  if (error_ == 0 && std::fflush(file_) != 0) error_ = errno != 0 ? errno : EIO;
  return error_;
}

void print_json(Output& out, const Json& value) {
  write_json(out, value, kPrettyJson);
  out.write("\n");
}

void print_json(Output& out, JsonView value) {
  write_json(out, value, kPrettyJson);
  out.write("\n");
}

void print_json(Output& out, const JsonDocument& document) {
  write_json(out, document, kPrettyJson);
  out.write("\n");
}

}  // namespace murmela
