#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "app_link/app_link.hpp"
#include "cli/dispatch.hpp"
#include "cli/progress.hpp"
#include "common/shown_text.hpp"

using namespace murmela;

namespace {

// The message often carries the app's words or the user's: shown escaped,
// on a terminal or not, it stays the one line that scripts and agents read
// and cannot act on the terminal or forge a line of its own.
int report(const CliError& error) {
  std::string text = "error: " + with_controls_escaped(error.message) + "\n";
  if (error.exit_class == ExitClass::Usage) text += "Run `murmela-cli help` for usage.\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  return static_cast<int>(error.exit_class);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto invocation = scan(arguments);
  if (!invocation) return report(invocation.error());

  SocketAppLink app;
  FileOutput out(stdout);
  const auto progress = terminal_progress();
  auto done = dispatch(Context{*invocation, app, out, progress.get()});
  if (!done) return report(done.error());
  // Output that never arrived is a failure, not a success. A reader that
  // went away (a closed pipe) is no failure of ours and stays quiet.
  if (auto finished = out.finish(); !finished && finished.error() != EPIPE) {
    return report(finished.error());
  }
  return 0;
}
