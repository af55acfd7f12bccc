#include "cli/progress.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/descriptor.hpp"
#include "common/shown_text.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

// Back to the start of the line, and everything on it gone.
constexpr std::string_view kEraseLine = "\r\033[K";

// Said once, on a line of its own above the status line, while the CLI waits.
constexpr std::string_view kStopHint = "Ctrl-C stops waiting; the job goes on";

// The status line erased, then up to the hint and that line gone too.
constexpr std::string_view kEraseBothLines = "\r\033[K\033[A\033[K";

// The signals that end the CLI while the line is shown: each first takes the
// line away, so that the shell's prompt does not land on it.
constexpr std::array kEndingSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// What the interrupt handler prints: set before the handler is installed and
// only read by it, since a handler may call nothing but write().
std::array<char, 512> interrupted_text{};
std::size_t interrupted_size = 0;

void on_ending_signal(int signal) {
  // Only an interrupt is the user stopping the wait, which deserves the
  // words on how to follow the job; the others just leave a clean screen.
  const std::string_view text = signal == SIGINT
                                    ? std::string_view(interrupted_text.data(), interrupted_size)
                                    : kEraseBothLines;
  [[maybe_unused]] auto written = ::write(STDERR_FILENO, text.data(), text.size());
  // Ending by the same signal keeps what the shell sees.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// The terminal's width; 80 where it does not say.
std::size_t terminal_columns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// The text cut to at most `columns` characters, an ellipsis marking a cut.
std::string fitted(std::string_view text, std::size_t columns) {
  if (code_point_count(text) <= columns) return std::string(text);
  if (columns == 0) return {};
  return std::string(first_code_points(text, columns - 1)) + "\u2026";
}

// The line is a courtesy: a terminal that refuses it changes nothing else.
void draw(std::string_view text) { static_cast<void>(write_all(STDERR_FILENO, text)); }

class TerminalProgress final : public Progress {
 public:
  ~TerminalProgress() override { end(); }

  void begin(std::string_view status, std::string_view meeting_id,
             std::string_view title) override {
    end();
    columns_ = terminal_columns();
    // Drawn before any handler can erase it; it stays above the interrupt's
    // words, which it explains.
    draw(fmt::format("{}{}\n", kEraseLine, fitted(kStopHint, columns_ - 1)));
    const std::string text = fmt::format("{}{}", kEraseLine, interrupted_line(meeting_id));
    interrupted_size = std::min(text.size(), interrupted_text.size());
    std::memcpy(interrupted_text.data(), text.data(), interrupted_size);
    struct sigaction action {};
    action.sa_handler = on_ending_signal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
      ::sigaction(kEndingSignals[i], &action, &previous_actions_[i]);
    }

    status_ = status;
    title_ = title;
    start_ = Clock::now();
    stopping_ = false;
    // The drawing thread never takes these signals: the handler runs on the
    // thread that waits for the app.
    sigset_t ending, previous_mask;
    sigemptyset(&ending);
    for (const int signal : kEndingSignals) sigaddset(&ending, signal);
    ::pthread_sigmask(SIG_BLOCK, &ending, &previous_mask);
    drawer_ = std::thread([this] { draw_until_stopped(); });
    ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
  }

  void update(std::string_view status) override {
    {
      std::lock_guard lock(mutex_);
      status_ = status;
    }
    wake_.notify_one();
  }

  void end() override {
    if (!drawer_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    drawer_.join();
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
      ::sigaction(kEndingSignals[i], &previous_actions_[i], nullptr);
    }
    draw(kEraseBothLines);
  }

 private:
  using Clock = std::chrono::steady_clock;

  // Redraws on every change of status and once a second for the clock.
  void draw_until_stopped() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_);
      const std::string text = fmt::format(
          "{}{}", kEraseLine, named_progress_line(status_, elapsed.count(), title_, columns_));
      const std::string shown = status_;
      lock.unlock();
      draw(text);
      lock.lock();
      const auto next_second = start_ + elapsed + std::chrono::seconds(1);
      wake_.wait_until(lock, next_second, [&] { return stopping_ || status_ != shown; });
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread drawer_;
  std::string status_;
  std::string title_;
  std::size_t columns_ = 80;
  Clock::time_point start_;
  bool stopping_ = false;
  std::array<struct sigaction, kEndingSignals.size()> previous_actions_{};
};

}  // namespace

std::unique_ptr<Progress> terminal_progress() {
  if (::isatty(STDERR_FILENO) != 1) return nullptr;
  // A terminal that cannot erase a line would pile the redraws up.
  const char* term = std::getenv("TERM");
  if (term == nullptr || std::string_view(term).empty() || std::string_view(term) == "dumb") {
    return nullptr;
  }
  return std::make_unique<TerminalProgress>();
}

std::string progress_line(std::string_view status, long long elapsed_seconds) {
  const long long hours = elapsed_seconds / 3600;
  const long long minutes = elapsed_seconds / 60 % 60;
  const long long seconds = elapsed_seconds % 60;
  const std::string shown = with_controls_escaped(status);
  if (hours > 0) return fmt::format("{} {}:{:02}:{:02}", shown, hours, minutes, seconds);
  return fmt::format("{} {}:{:02}", shown, minutes, seconds);
}

std::string named_progress_line(std::string_view status, long long elapsed_seconds,
                                std::string_view title, std::size_t columns) {
  // The last column stays free: a line that fills it wraps on some terminals.
  const std::size_t room = columns > 1 ? columns - 1 : 0;
  const std::string line = progress_line(with_controls_dropped(status), elapsed_seconds);
  const std::string name = with_controls_dropped(title);
  const std::size_t used = code_point_count(line) + 3;  // and " · "
  if (name.empty() || used + 1 >= room) return fitted(line, room);
  return fmt::format("{} \u00B7 {}", line, fitted(name, room - used));
}

std::string interrupted_line(std::string_view meeting_id) {
  if (meeting_id.empty()) {
    return "Follow the job: murmela-cli meetings list, then murmela-cli meetings wait <id>\n"
           "Stop the job:   murmela-cli meetings cancel <id>\n";
  }
  return fmt::format(
      "Follow the job: murmela-cli meetings wait {0}\n"
      "Stop the job:   murmela-cli meetings cancel {0}\n",
      with_controls_escaped(meeting_id));
}

}  // namespace murmela
