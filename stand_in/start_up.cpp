#include "start_up.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "app.hpp"
#include "app_link/app_link.hpp"
#include "app_link/exchange.hpp"
#include "common/environment.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"
#include "common/try.hpp"

namespace stand_in {

namespace {

std::expected<murmela::FileDescriptor, int> listen_on(const std::string& path) {
  murmela::FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return std::unexpected(errno);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return std::unexpected(ENAMETOOLONG);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // Whoever can connect can read the user's meetings: the socket is the
  // user's alone, whatever the umask.
  const mode_t mask = ::umask(0177);
  const int bound = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::umask(mask);
  if (bound != 0 || ::listen(fd.get(), 64) != 0) return std::unexpected(errno);
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

// Missing folders on the way are made private too: one that others could
// write to would let them move the data folder away and serve its socket.
std::expected<void, std::string> make_folder(const std::string& folder) {
  if (auto made = murmela::make_private_folders(folder); !made)
    return std::unexpected("cannot create " + folder + ": " +
                           murmela::system_error_text(made.error()));
  return {};
}

std::expected<void, std::string> refuse_if_answered(const std::string& socket) {
  if (someone_answers(socket))
    return std::unexpected("Murmela is already running and answers on " + socket);
  return {};
}

// The library to start from: the fixture named, else the kept library where
// it is a file of its own; none means the demo meetings, whose saves never
// remove audio they did not write (what the folder holds of a lost library
// stays there).
std::expected<std::optional<Library>, std::string> read_start_library(const Options& options,
                                                                       const std::string& folder,
                                                                       const std::string& kept) {
  std::optional<std::string> source = options.library;
  if (!source && options.kept()) {
    TRY_ASSIGN(const bool present, kept_library_present(kept));
    if (present) source = kept;
  }
  if (!source) return std::optional<Library>();
  TRY_ASSIGN(auto library, read_library(*source, folder + "/audio", demo_settings()));
  return std::optional<Library>(std::move(library));
}

std::expected<murmela::FileDescriptor, std::string> listen_for_clients(const std::string& socket) {
  ::unlink(socket.c_str());  // nobody answers on it: a stale file
  auto listener = listen_on(socket);
  if (!listener)
    return std::unexpected("cannot listen on " + socket + ": " +
                           murmela::system_error_text(listener.error()));
  return *std::move(listener);
}

}  // namespace

std::expected<StartedApp, std::string> start_up(const Options& options) {
  StartedApp started;
  started.folder = murmela::app_data_folder();
  started.socket = murmela::socket_path();
  TRY(make_folder(started.folder));
  TRY_ASSIGN(started.instance_lock, lock_instance(started.folder));
  TRY(refuse_if_answered(started.socket));

  // The library is read before the socket is bound: a library refused
  // leaves no socket behind for clients to find.
  const std::string kept = started.folder + "/stand-in-library.json";
  // Under the instance lock, no other stand-in is saving: whatever
  // temporary files are there were left by one that was killed.
  remove_leftovers(kept, started.folder + "/audio");
  TRY_ASSIGN(started.library, read_start_library(options, started.folder, kept));
  if (options.kept()) started.kept = kept;

  TRY_ASSIGN(started.listener, listen_for_clients(started.socket));
  return started;
}

std::chrono::milliseconds job_step() {
  auto value = murmela::env_value("MURMELA_STAND_IN_STEP_MS");
  if (value == "manual") return kManualSteps;
  if (value) {
    char* end = nullptr;
    const long ms = std::strtol(value->c_str(), &end, 10);
    if (end != value->c_str() && *end == '\0' && ms >= 0) return std::chrono::milliseconds(ms);
  }
  return std::chrono::milliseconds(1500);
}

}  // namespace stand_in
