#include "server.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app_link/protocol.hpp"
#include "common/descriptor.hpp"
#include "common/environment.hpp"
#include "connection_limits.hpp"
#include "shutdown.hpp"
#include "thread_set.hpp"

namespace stand_in {

namespace {

using SteadyClock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_signalled = 0;
std::atomic<bool> g_quit{false};

void on_signal(int) { g_signalled = 1; }

constexpr std::size_t kMaxRequestBytes = 64 * 1024 * 1024;

// A client has this long to send its request line. The wait for the answer
// has no limit: a blocking transcription may take hours.
constexpr std::chrono::seconds kRequestDeadline{10};
// A client has this long to take its whole reply once it is ready; after
// that the connection is dropped. A client that reads, reads 32 MiB in a
// fraction of a second.
constexpr std::chrono::seconds kReplyDeadline{10};

// A deadline in force: the environment variable (whole seconds, from 1 up to
// the default) shortens it, so that a test of a late client does not wait
// out the full ten seconds; anything else keeps the default.
std::chrono::seconds deadline_setting(const char* variable, std::chrono::seconds fallback) {
  const auto value = murmela::env_value(variable);
  if (!value) return fallback;
  char* end = nullptr;
  const long seconds = std::strtol(value->c_str(), &end, 10);
  if (end == value->c_str() || *end != '\0' || seconds < 1 || seconds > fallback.count())
    return fallback;
  return std::chrono::seconds(seconds);
}

// Both read once.
std::chrono::seconds request_deadline() {
  static const auto deadline =
      deadline_setting("MURMELA_STAND_IN_REQUEST_DEADLINE_S", kRequestDeadline);
  return deadline;
}

std::chrono::seconds reply_deadline() {
  static const auto deadline =
      deadline_setting("MURMELA_STAND_IN_REPLY_DEADLINE_S", kReplyDeadline);
  return deadline;
}

std::string error_line(const std::string& message) {
  return murmela::to_compact(Json{{"ok", false}, {"error", message}}) + "\n";
}

std::string busy_line(int limit) {
  return error_line(
      fmt::format("Murmela is busy: {} connections are open, the most it serves at once. Try again "
                  "shortly.",
                  limit));
}

std::string waiting_busy_line(int limit) {
  return error_line(fmt::format(
      "Murmela is busy: {} requests are waiting for jobs to end, the most it keeps at once. Use "
      "--detach, or try again shortly.",
      limit));
}

// The counts a request is in from its complete line to its closed
// connection: answering; waiting, while it waits for a job; sending, while
// its reply goes out.
enum class Pool { Answering, Waiting, Sending };

class Pools {
 public:
  // Set once, before any request is answered.
  void set_limits(const ConnectionLimits& limits) {
    std::lock_guard lock(mutex_);
    limits_ = limits;
  }
  int limit(Pool pool) {
    std::lock_guard lock(mutex_);
    return limit_locked(pool);
  }

  bool take(Pool pool) {
    std::lock_guard lock(mutex_);
    if (count(pool) >= limit_locked(pool)) return false;
    ++count(pool);
    return true;
  }
  void release(Pool pool) {
    std::lock_guard lock(mutex_);
    --count(pool);
  }
  // False, and nothing moved, when `to` is full.
  bool move(Pool from, Pool to) {
    std::lock_guard lock(mutex_);
    if (count(to) >= limit_locked(to)) return false;
    --count(from);
    ++count(to);
    return true;
  }
  std::size_t open() {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(counts_[0] + counts_[1] + counts_[2]);
  }

 private:
  int& count(Pool pool) { return counts_[static_cast<int>(pool)]; }
  int limit_locked(Pool pool) const {
    switch (pool) {
      case Pool::Answering:
        return limits_.answering;
      case Pool::Waiting:
        return limits_.waiting;
      case Pool::Sending:
        return limits_.sending;
    }
    return 0;
  }

  std::mutex mutex_;
  ConnectionLimits limits_ = connection_limits(1 << 16);
  int counts_[3] = {};
};

Pools g_pools;

// One short line fits an empty socket buffer: sent without waiting, then the
// connection is closed. What the client sent is read first (what has arrived,
// up to a bound, so that a client sending on and on cannot hold this up):
// closed over unread bytes, a connection makes the client's read fail with a
// reset before it could read the line.
void tell_and_close(murmela::FileDescriptor connection, const std::string& line) {
  char buffer[8192];
  for (int i = 0; i < 128 && ::recv(connection.get(), buffer, sizeof buffer, MSG_DONTWAIT) > 0;
       ++i) {
  }
  (void)::send(connection.get(), line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Sends the whole reply by the deadline, waiting for the client to make
// room as it reads; false when the client went away or took too long.
bool send_by(int connection, std::string_view bytes, SteadyClock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t sent =
        ::send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) return false;
    pollfd watched{connection, POLLOUT, 0};
    (void)::poll(&watched, 1, static_cast<int>(left));
  }
  return true;
}

// A line for the log: long ones cut, so a big reply is one line of a terminal
// or two, not megabytes.
std::string log_text(std::string_view line) {
  while (line.ends_with('\n')) line.remove_suffix(1);
  constexpr std::size_t kShown = 240;
  if (line.size() <= kShown) return std::string(line);
  return fmt::format("{}... ({} bytes)", line.substr(0, kShown), line.size());
}

struct Request {
  std::string command;
  Json args;
  bool detach = false;
};

std::expected<Request, std::string> parse_request(const std::string& line) {
  auto request = murmela::parse_json(line);
  if (!request || !request->is_object())
    return std::unexpected("The request is not a JSON object.");
  const Json version = murmela::member_or_null(*request, "version");
  if (version != murmela::PROTOCOL_VERSION) {
    return std::unexpected(fmt::format("Unsupported protocol version {}; this app speaks {}.",
                                       version.dump(), murmela::PROTOCOL_VERSION));
  }
  const std::string* command = murmela::string_member(*request, "command");
  if (!command) return std::unexpected("The request has no command.");
  Json args = request->contains("args") ? std::move(request->at("args")) : Json::object();
  const bool detach = murmela::member_or_null(*request, "detach") == true;
  return Request{*command, std::move(args), detach};
}

std::string reply_to(App& app, const Request& request) {
  auto answer = app.handle(request.command, request.args, request.detach);
  if (!answer) return error_line(answer.error());
  return murmela::to_compact(Json{{"ok", true}, {"result", *answer}}) + "\n";
}

// Answers one request on a thread of its own, counted as answering, then
// as waiting while it waits for a job, then as sending while its reply goes
// out (where there is room in each).
void answer(App& app, murmela::FileDescriptor connection, const std::string& line, bool verbose) {
  Pool pool = Pool::Answering;
  const auto move_to = [&pool](Pool to) {
    if (g_pools.move(pool, to)) pool = to;
    return pool == to;
  };
  std::string reply;
  try {
    auto request = parse_request(line);
    if (!request) {
      reply = error_line(request.error());
    } else if (App::waits_for_job(request->command, request->detach) && !move_to(Pool::Waiting)) {
      reply = waiting_busy_line(g_pools.limit(Pool::Waiting));
    } else {
      reply = reply_to(app, *request);
    }
  } catch (const std::exception& error) {
    reply = error_line(fmt::format("The stand-in app could not answer: {}", error.what()));
  }
  if (verbose) {
    std::fprintf(stderr, "-> %s\n<- %s\n", log_text(line).c_str(), log_text(reply).c_str());
  }
  // A client that has gone away, or does not read, gets nothing more; the
  // app goes on.
  move_to(Pool::Sending);
  (void)send_by(connection.get(), reply, SteadyClock::now() + reply_deadline());
  connection.close();
  g_pools.release(pool);
  if (app.quit_requested()) g_quit = true;
}

// A request handed to a thread of its own, or turned away when as many are
// being answered as the app serves at once.
void dispatch(App& app, ThreadSet& threads, murmela::FileDescriptor connection, std::string line,
              bool verbose) {
  if (!g_pools.take(Pool::Answering))
    return tell_and_close(std::move(connection), busy_line(g_pools.limit(Pool::Answering)));
  auto handed = std::make_shared<std::pair<murmela::FileDescriptor, std::string>>(
      std::move(connection), std::move(line));
  try {
    threads.start([&app, verbose, handed] {
      answer(app, std::move(handed->first), handed->second, verbose);
    });
  } catch (const std::system_error&) {
    // No thread to be had: this client is turned away (the descriptor went
    // with the failed thread's work), the rest go on.
    g_pools.release(Pool::Answering);
  }
}

// Descriptors the app keeps for its own files whatever its clients do: the
// standard streams, the listener and the folder lock, a save's files, and
// the speech model's files while a recogniser loads. The recogniser's
// library ends the whole process when it cannot open one of them, so
// connections never take these.
constexpr rlim_t kOwnDescriptors = 32;
// A connection, and a file its request reads or writes with a temporary
// file beside it.
constexpr rlim_t kDescriptorsPerConnection = 3;

// How many connections may be open at once, within the process's limit on
// descriptors (raised to its ceiling first). Under a limit too low for the
// app's own files, one at a time.
std::size_t connection_budget() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1 << 16);
    if (raised.rlim_cur > limit.rlim_cur && ::setrlimit(RLIMIT_NOFILE, &raised) == 0)
      limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) limit.rlim_cur = 1 << 16;
  if (limit.rlim_cur <= kOwnDescriptors + kDescriptorsPerConnection) return 1;
  return static_cast<std::size_t>((limit.rlim_cur - kOwnDescriptors) / kDescriptorsPerConnection);
}

// A connection whose request line is still coming.
struct Incoming {
  murmela::FileDescriptor connection;
  std::string received;
  SteadyClock::time_point deadline;
};

enum class Read { More, Line, Ended };

// Reads what has arrived. Only the new bytes are searched for the line's
// end, so a long line costs its length, not its length squared.
Read read_more(Incoming& incoming) {
  constexpr std::size_t kChunk = 64 * 1024;
  for (;;) {
    const std::size_t before = incoming.received.size();
    const std::size_t room = std::min(kChunk, kMaxRequestBytes - before);
    if (room == 0) return Read::Line;  // answered as it stands: too long to be a request
    incoming.received.resize(before + room);
    const ssize_t got =
        ::recv(incoming.connection.get(), incoming.received.data() + before, room, MSG_DONTWAIT);
    incoming.received.resize(before + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Read::More;
    if (got <= 0) return Read::Ended;
    const void* end =
        std::memchr(incoming.received.data() + before, '\n', static_cast<std::size_t>(got));
    if (end != nullptr) {
      incoming.received.resize(
          static_cast<std::size_t>(static_cast<const char*>(end) - incoming.received.data()));
      return Read::Line;
    }
  }
}

// Accepts connections and reads their request lines, all on this one
// thread and without waiting on any one client; each complete request is
// answered on a thread of its own.
class Acceptor {
 public:
  Acceptor(App& app, ThreadSet& threads, int listener, bool verbose)
      : app_(app),
        threads_(threads),
        listener_(listener),
        verbose_(verbose),
        budget_(connection_budget()),
        limits_(connection_limits(budget_)) {
    g_pools.set_limits(limits_);
  }

  void run() {
    while (!g_signalled && !g_quit) {
      // At the budget, new clients wait in the listener's queue until a
      // connection ends.
      std::vector<pollfd> watched{{listener_, static_cast<short>(room() > 0 ? POLLIN : 0), 0}};
      for (const Incoming& incoming : incoming_)
        watched.push_back({incoming.connection.get(), POLLIN, 0});
      if (::poll(watched.data(), watched.size(), timeout_ms()) < 0 && errno != EINTR) continue;
      read_ready(watched);
      turn_away_late();
      if (watched.front().revents & POLLIN) accept_waiting();
    }
    // Requests not yet complete are never answered.
    incoming_.clear();
  }

 private:
  int timeout_ms() const {
    auto timeout = std::chrono::milliseconds(100);  // signals and quit are looked at this often
    for (const Incoming& incoming : incoming_) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(incoming.deadline - SteadyClock::now());
      timeout = std::clamp(left, std::chrono::milliseconds(0), timeout);
    }
    return static_cast<int>(timeout.count());
  }

  // `watched` is the listener, then `incoming_` in order.
  void read_ready(const std::vector<pollfd>& watched) {
    std::deque<Incoming> still;
    for (std::size_t i = 0; i < incoming_.size(); ++i) {
      Incoming& incoming = incoming_[i];
      if (watched[i + 1].revents == 0) {
        still.push_back(std::move(incoming));
        continue;
      }
      switch (read_more(incoming)) {
        case Read::More:
          still.push_back(std::move(incoming));
          break;
        case Read::Line:
          dispatch(app_, threads_, std::move(incoming.connection), std::move(incoming.received), verbose_);
          break;
        case Read::Ended:
          // What came before the end is the request, when anything came.
          if (!incoming.received.empty()) {
            dispatch(app_, threads_, std::move(incoming.connection), std::move(incoming.received), verbose_);
          }
          break;
      }
    }
    incoming_ = std::move(still);
  }

  void turn_away_late() {
    const auto now = SteadyClock::now();
    while (!incoming_.empty() && incoming_.front().deadline <= now) {
      tell_and_close(std::move(incoming_.front().connection),
                     error_line(fmt::format("The request line did not arrive within {} s.",
                                            request_deadline().count())));
      incoming_.pop_front();
    }
  }

  void accept_waiting() {
    // A bounded batch, so that reading goes on under a flood of connections.
    for (std::size_t i = 0, batch = std::min<std::size_t>(64, room()); i < batch; ++i) {
      murmela::FileDescriptor connection(
          ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (!connection.valid()) {
        // Out of descriptors: wait for some to be given back instead of spinning.
        if (errno == EMFILE || errno == ENFILE) ::poll(nullptr, 0, 50);
        return;
      }
      if (incoming_.size() >= static_cast<std::size_t>(limits_.reading)) let_oldest_go();
      incoming_.push_back({std::move(connection), {}, SteadyClock::now() + request_deadline()});
    }
  }

  // Makes room among the connections being read: the one that has waited
  // longest is answered when its request line has come meanwhile, else told
  // the app is busy.
  void let_oldest_go() {
    Incoming oldest = std::move(incoming_.front());
    incoming_.pop_front();
    const Read read = read_more(oldest);
    if (read == Read::Line || (read == Read::Ended && !oldest.received.empty())) {
      dispatch(app_, threads_, std::move(oldest.connection), std::move(oldest.received), verbose_);
    } else if (read == Read::More) {
      tell_and_close(std::move(oldest.connection), busy_line(limits_.reading));
    }
  }

  // Connections that may still be accepted within the descriptor budget.
  // With every connection still sending its request line turned away in
  // turn for a newer one, a full set of them takes no more room.
  std::size_t room() {
    const std::size_t open = incoming_.size() + g_pools.open();
    if (incoming_.size() >= static_cast<std::size_t>(limits_.reading)) return 1;
    return open < budget_ ? budget_ - open : 0;
  }

  App& app_;
  ThreadSet& threads_;
  int listener_;
  bool verbose_;
  std::size_t budget_;
  ConnectionLimits limits_;
  std::deque<Incoming> incoming_;  // oldest first; deadlines in the same order
};

}  // namespace

std::string reply_line(App& app, const std::string& request_line) {
  auto request = parse_request(request_line);
  if (!request) return error_line(request.error());
  return reply_to(app, *request);
}

int serve(App& app, int listener, bool verbose) {
  std::signal(SIGPIPE, SIG_IGN);
  // A write past the file-size limit is a failed save, not the app's end.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  // Accepted until none is waiting, never waited for.
  ::fcntl(listener, F_SETFL, ::fcntl(listener, F_GETFL) | O_NONBLOCK);
  ThreadSet connections;
  Acceptor(app, connections, listener, verbose).run();
  // Requests waiting for a job stop waiting; the answers being sent go out
  // within their deadline.
  request_quit();
  connections.join_all();
  return 0;
}

}  // namespace stand_in
