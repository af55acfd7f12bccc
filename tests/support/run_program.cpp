#include "run_program.hpp"

#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

SpawnVectors::SpawnVectors(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env)
    : words_{program} {
  words_.insert(words_.end(), args.begin(), args.end());
  for (const auto& [name, value] : env) env_words_.push_back(name + "=" + value);
  for (auto& word : words_) argv_.push_back(word.data());
  argv_.push_back(nullptr);
  for (auto& word : env_words_) envp_.push_back(word.data());
  envp_.push_back(nullptr);
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const RunOptions& options) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  if (!options.cwd.empty()) ::posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());

  SpawnVectors vectors(program, args, options.env);
  pid_t pid;
  const int spawned =
      ::posix_spawn(&pid, program.c_str(), &actions, nullptr, vectors.argv(), vectors.envp());
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (spawned != 0) throw std::runtime_error("spawn failed: " + program);

  RunResult result;
  std::size_t fed = 0;
  int in_fd = in[1];
  if (options.input.empty()) {
    ::close(in_fd);
    in_fd = -1;
  } else {
    ::fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  // A child that stops reading its input must not kill the test with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  bool out_open = true, err_open = true;
  while (out_open || err_open) {
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
    if (!out_open) fds[0].fd = -1;
    if (!err_open) fds[1].fd = -1;
    if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
    char buffer[65536];
    auto drain = [&](int index, int fd, std::string& into, bool& open) {
      if (fds[index].revents == 0) return;
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got > 0)
        into.append(buffer, static_cast<std::size_t>(got));
      else if (got == 0 || errno != EINTR)
        open = false;
    };
    drain(0, out[0], result.out, out_open);
    drain(1, err[0], result.err, err_open);
    if (in_fd >= 0 && fds[2].revents != 0) {
      const ssize_t wrote = ::write(in_fd, options.input.data() + fed, options.input.size() - fed);
      if (wrote > 0) fed += static_cast<std::size_t>(wrote);
      if (wrote < 0 || fed == options.input.size()) {
        ::close(in_fd);
        in_fd = -1;
      }
    }
  }
  if (in_fd >= 0) ::close(in_fd);
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace testing_support
