#include "common/output.hpp"

namespace murmela {

void FileOutput::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

void print_json(Output& out, const Json& value) {
  std::string text = to_pretty(value);
  text.push_back('\n');
  out.write(text);
}

}  // namespace murmela
