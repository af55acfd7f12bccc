// The Murmela stand-in: serves the app's CLI socket with a meeting library,
// kept in the data folder unless a run is throwaway, so that murmela-cli can
// be used and tested where the real app does not exist. Imported audio is
// real, and recognised where the speech model is installed.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "app.hpp"
#include "app_link/app_link.hpp"
#include "app_link/exchange.hpp"
#include "common/descriptor.hpp"
#include "common/environment.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"
#include "options.hpp"
#include "recognizer.hpp"
#include "server.hpp"

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

// How long each step of a job takes; tests make it short, or "manual": then
// a job moves on only when a `stand_in_step` request says so, however slow
// the machine.
std::chrono::milliseconds job_step() {
  auto value = murmela::env_value("MURMELA_STAND_IN_STEP_MS");
  if (value == "manual") return stand_in::kManualSteps;
  if (value) {
    char* end = nullptr;
    const long ms = std::strtol(value->c_str(), &end, 10);
    if (end != value->c_str() && *end == '\0' && ms >= 0) return std::chrono::milliseconds(ms);
  }
  return std::chrono::milliseconds(1500);
}

int listen_on(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    ::close(fd);
    return -ENAMETOOLONG;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // Whoever can connect can read the user's meetings: the socket is the
  // user's alone, whatever the umask.
  const mode_t mask = ::umask(0177);
  const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::umask(mask);
  if (bound != 0 || ::listen(fd, 64) != 0) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

// One instance per data folder: the lock is held, for the life of the
// process, on the folder itself, which no one can unlink from under it as
// they could a lock file. The folder must be writable too: the socket and
// the library go there.
std::expected<murmela::FileDescriptor, std::string> lock_instance(const std::string& folder) {
  murmela::FileDescriptor held(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!held.valid())
    return std::unexpected("cannot open " + folder + ": " + murmela::system_error_text(errno));
  if (::flock(held.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK)
      return std::unexpected("another instance is already running for " + folder);
    return std::unexpected("cannot lock " + folder + ": " + murmela::system_error_text(errno));
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return std::unexpected("cannot write in " + folder + ": " + murmela::system_error_text(errno));
  }
  return held;
}

// Whether an app is on the socket: any answer counts, a refusal too (one at
// its limit of connections says it is busy, and is very much alive).
bool someone_answers(const std::string& socket) {
  auto reply = murmela::send_request(socket, "ping", murmela::Json::object(), false);
  return reply || !reply.error().unreachable();
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

  const std::string folder = murmela::app_data_folder();
  const std::string socket = murmela::socket_path();
  // Missing folders on the way are made private too: one that others could
  // write to would let them move the data folder away and serve its socket.
  if (auto made = murmela::make_private_folders(folder); !made)
    return fail("cannot create " + folder + ": " + murmela::system_error_text(made.error()));

  auto lock = lock_instance(folder);
  if (!lock) return fail(lock.error());
  if (someone_answers(socket)) {
    return fail("Murmela is already running and answers on " + socket);
  }

  // The library is read before the socket is bound: a library refused
  // leaves no socket behind for clients to find.
  const std::string kept = folder + "/stand-in-library.json";
  // Under the instance lock, no other stand-in is saving: whatever
  // temporary files are there were left by one that was killed.
  stand_in::remove_leftovers(kept, folder + "/audio");
  std::optional<stand_in::Library> library;
  const bool keep = options.kept();
  // The kept library is started from only where it is a file of its own; a
  // missing one means the demo meetings, whose saves never remove audio they
  // did not write (what the folder holds of a lost library stays there).
  std::optional<std::string> source = options.library;
  if (!source && keep) {
    auto present = stand_in::kept_library_present(kept);
    if (!present) return fail(present.error());
    if (*present) source = kept;
  }
  if (source) {
    auto read = stand_in::read_library(*source, folder + "/audio", stand_in::demo_settings());
    if (!read) return fail(read.error());
    library = *std::move(read);
  }

  ::unlink(socket.c_str());  // nobody answers on it: a stale file
  const int listener = listen_on(socket);
  if (listener < 0)
    return fail("cannot listen on " + socket + ": " + murmela::system_error_text(-listener));
  if (options.verbose)
    std::fprintf(stderr, "murmela (stand-in): listening on %s\n", socket.c_str());

  stand_in::App app(folder, socket, job_step(), std::move(library), keep ? kept : std::string());
  stand_in::serve(app, listener, options.verbose);
  app.save();
  ::close(listener);
  ::unlink(socket.c_str());
  // Connection threads may still run; end without tearing down what they use.
  std::fflush(nullptr);
  std::_Exit(0);
}
