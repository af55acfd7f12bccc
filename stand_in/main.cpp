// The Murmela stand-in: serves the app's CLI socket with a meeting library,
// kept in the data folder unless a run is throwaway, so that murmela-cli can
// be used and tested where the real app does not exist. Imported audio is
// real, and recognised where the speech model is installed.

#include <cstdio>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <unistd.h>

#include "app.hpp"
#include "common/environment.hpp"
#include "options.hpp"
#include "recognizer.hpp"
#include "server.hpp"
#include "shutdown.hpp"
#include "start_up.hpp"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "murmela (stand-in): %s\n", message.c_str());
  return 1;
}

// A command line the stand-in cannot take: what is wrong, where to look, and
// the usage error's exit code, as murmela-cli gives them.
int usage_error(const std::string& message) {
  std::fprintf(stderr, "murmela (stand-in): %s\nRun `murmela --help` for usage.\n",
               message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const auto parsed =
      stand_in::parse_arguments(arguments, murmela::env_value("MURMELA_STAND_IN_LIBRARY"));
  if (std::holds_alternative<stand_in::ShowHelp>(parsed)) {
    std::fputs(stand_in::kHelp, stdout);
    return 0;
  }
  if (const auto* wrong = std::get_if<stand_in::UsageError>(&parsed))
    return usage_error(wrong->message);
  const auto& options = std::get<stand_in::Options>(parsed);

  // Before any thread: the recogniser's log is the whole process's.
  stand_in::quiet_recognizer_log();

  auto started = stand_in::start_up(options);
  if (!started) return fail(started.error());
  if (options.verbose)
    std::fprintf(stderr, "murmela (stand-in): listening on %s\n", started->socket.c_str());

  stand_in::App app(started->folder, started->socket, stand_in::job_step(),
                    std::move(started->library), started->kept);
  // Returns once every connection's thread has been joined.
  stand_in::serve(app, started->listener.get(), options.verbose);
  // The recognitions still running use the app and the recogniser's shared
  // decoders: they end before either is torn down.
  stand_in::background_threads().join_all();
  app.save();
  started->listener.close();
  ::unlink(started->socket.c_str());
  return 0;
}
