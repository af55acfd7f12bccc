// Writes the manual page and the shell completions into a folder laid out
// as they install (share/man/man1, share/bash-completion/completions, ...).
// Run by the build, so that they always describe the CLI as built.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "docs/completions.hpp"
#include "docs/man_page.hpp"

namespace {

bool write(const std::filesystem::path& path, const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (file) return true;
  std::fprintf(stderr, "murmela-docs: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: murmela-docs <folder>\n");
    return 2;
  }
  const std::filesystem::path share = std::filesystem::path(argv[1]) / "share";
  auto page = murmela::man_page();
  if (!page) {
    std::fprintf(stderr, "murmela-docs: %s\n", page.error().c_str());
    return 1;
  }
  const bool written =
      write(share / "man/man1/murmela-cli.1", *page) &&
      write(share / "bash-completion/completions/murmela-cli", murmela::bash_completion()) &&
      write(share / "zsh/site-functions/_murmela-cli", murmela::zsh_completion()) &&
      write(share / "fish/vendor_completions.d/murmela-cli.fish", murmela::fish_completion());
  return written ? 0 : 1;
}
