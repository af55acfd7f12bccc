#include "terminal_run.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "run_program.hpp"

namespace testing_support {

TerminalRun::TerminalRun(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& cwd,
                         unsigned short columns) {
  int terminal_side = -1, program_side = -1, out[2];
  winsize size{};
  size.ws_row = 24;
  size.ws_col = columns;
  if (::openpty(&terminal_side, &program_side, nullptr, nullptr, columns > 0 ? &size : nullptr) !=
          0 ||
      ::pipe2(out, O_CLOEXEC) != 0) {
    throw std::runtime_error("openpty or pipe failed");
  }
  ::fcntl(terminal_side, F_SETFD, FD_CLOEXEC);
  ::fcntl(program_side, F_SETFD, FD_CLOEXEC);

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, program_side, 2);
  ::posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

  SpawnVectors vectors(program, args, env);
  const int spawned =
      ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, vectors.argv(), vectors.envp());
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(program_side);
  ::close(out[1]);
  if (spawned != 0) throw std::runtime_error("spawn failed: " + program);
  terminal_ = terminal_side;
  out_ = out[0];
}

TerminalRun::~TerminalRun() {
  if (!reaped_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (terminal_ >= 0) ::close(terminal_);
  if (out_ >= 0) ::close(out_);
}

bool TerminalRun::read_some(int timeout_ms) {
  pollfd fds[2] = {{terminal_, POLLIN, 0}, {out_, POLLIN, 0}};
  if (fds[0].fd < 0 && fds[1].fd < 0) return false;
  if (::poll(fds, 2, timeout_ms) <= 0) return true;
  char buffer[4096];
  auto drain = [&](pollfd& polled, int& fd, std::string& into) {
    if (polled.fd < 0 || polled.revents == 0) return;
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      into.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      // A terminal whose last user is gone reads as EIO.
      ::close(fd);
      fd = -1;
    }
  };
  drain(fds[0], terminal_, ended_.terminal);
  drain(fds[1], out_, ended_.out);
  return true;
}

bool TerminalRun::wait_for_terminal(std::string_view text) {
  // The text is the program's first output, drawn once it has asked the app
  // one question: a busy machine takes a second or two, not half a minute.
  // The program's own end, or the text showing up on standard output
  // instead, stops the wait at once.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ended_.terminal.find(text) != std::string::npos) return true;
    if (ended_.out.find(text) != std::string::npos) {
      ADD_FAILURE() << "Expected on the terminal but written to standard output: " << text;
      return false;
    }
    if (!read_some(100)) break;
  }
  ADD_FAILURE() << "Never shown on the terminal: " << text
                << "\nterminal so far: " << ended_.terminal
                << "\nstandard output so far: " << ended_.out;
  return false;
}

bool TerminalRun::running() {
  if (reaped_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
  reaped_ = true;
  ended_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  ended_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return false;
}

void TerminalRun::send(int signal) const { ::kill(pid_, signal); }

TerminalRun::Ended TerminalRun::finish() {
  while (read_some(-1)) {
  }
  if (!reaped_) {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    ended_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ended_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return ended_;
}

}  // namespace testing_support
