#pragma once

#include <csignal>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace testing_support {

// A program run with standard error on a pseudo-terminal, as a person at a
// terminal would run it, and standard output on a pipe, as when piped on.
// The terminal is `columns` wide, or of no stated size where that is 0.
class TerminalRun {
 public:
  TerminalRun(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env, const std::string& cwd,
              unsigned short columns = 0);
  TerminalRun(const TerminalRun&) = delete;
  TerminalRun& operator=(const TerminalRun&) = delete;
  ~TerminalRun();

  // Reads until `text` has appeared on the terminal; false, with a test
  // failure that says what was seen instead, when the program ended first,
  // wrote the text to standard output, or showed nothing for 20 seconds.
  bool wait_for_terminal(std::string_view text);

  // Takes in what the program wrote so far, so that it never blocks on a
  // full terminal or pipe.
  void read_ready() { read_some(0); }

  bool running();
  void interrupt() const { send(SIGINT); }
  void send(int signal) const;

  struct Ended {
    int exit_code = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string out;
    std::string terminal;
  };
  // Waits for the end, collecting the rest of both streams.
  Ended finish();

 private:
  // Moves what is ready (waiting at most `timeout_ms`) into the two texts;
  // false once both streams are closed.
  bool read_some(int timeout_ms);

  pid_t pid_ = -1;
  int terminal_ = -1;  // the pseudo-terminal's controlling side
  int out_ = -1;
  Ended ended_;
  bool reaped_ = false;
};

}  // namespace testing_support
