#include "common/output.hpp"

#include "common/json_writer.hpp"

namespace murmela {

void FileOutput::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

void print_json(Output& out, const Json& value) {
  write_json(out, value, kPrettyJson);
  out.write("\n");
}

void print_json(Output& out, JsonView value) {
  write_json(out, value, kPrettyJson);
  out.write("\n");
}

}  // namespace murmela
