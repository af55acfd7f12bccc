#include <cstdio>
#include <string>
#include <vector>

#include "app_link/app_link.hpp"
#include "cli/dispatch.hpp"

using namespace murmela;

namespace {

int report(const CliError& error) {
  std::string text = "error: " + error.message + "\n";
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
  auto done = dispatch(Context{*invocation, app, out});
  return done ? 0 : report(done.error());
}
