#include "common/process.hpp"

#include <cerrno>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/platform.hpp"

extern char** environ;

namespace murmela {

namespace {

class SpawnActions {
 public:
  SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ::posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

void close_pair(int fds[2]) {
  for (int i = 0; i < 2; ++i) {
    if (fds[i] >= 0) ::close(fds[i]);
    fds[i] = -1;
  }
}

}  // namespace

std::expected<SpawnedProcess, SystemError> spawn_process(const std::string& program,
                                                         const std::vector<std::string>& arguments,
                                                         SpawnOptions options) {
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  if (options.capture_output) {
    if (const int error = platform::make_pipe(out_pipe); error != 0) return system_failure(error);
    if (const int error = platform::make_pipe(err_pipe); error != 0) {
      close_pair(out_pipe);
      return system_failure(error);
    }
  }

  // Each step reports an errno value; the first that fails ends the start.
  int error = 0;
  auto step = [&error](int result) {
    if (error == 0) error = result;
  };
  SpawnActions actions;
  step(::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0));
  if (options.capture_output) {
    step(::posix_spawn_file_actions_adddup2(actions.get(), out_pipe[1], 1));
    step(::posix_spawn_file_actions_adddup2(actions.get(), err_pipe[1], 2));
  } else {
    step(::posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0));
    step(::posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0));
  }
  if (!options.working_directory.empty()) {
    step(::posix_spawn_file_actions_addchdir_np(actions.get(), options.working_directory.c_str()));
  }

  SpawnAttributes attributes;
  if (options.new_process_group) {
    step(::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP));
    step(::posix_spawnattr_setpgroup(attributes.get(), 0));
  }

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  if (error == 0)
    error =
        ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
  if (options.capture_output) {
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
  }
  if (error != 0) {
    if (options.capture_output) {
      ::close(out_pipe[0]);
      ::close(err_pipe[0]);
    }
    return system_failure(error);
  }
  return SpawnedProcess{pid, out_pipe[0], err_pipe[0]};
}

std::optional<int> poll_exit(pid_t pid, bool& check_failed) {
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(pid, &status, WNOHANG);
  } while (done < 0 && errno == EINTR);
  check_failed = done < 0;
  if (done == pid) return status;
  return std::nullopt;
}

}  // namespace murmela
