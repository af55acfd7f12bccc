#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace stand_in {

// Threads that are joined, not detached: the app ends only once none of
// them can still use what it tears down. A thread that has ended is joined
// at the next start, so that a long-running app keeps only those running.
class ThreadSet {
 public:
  ThreadSet() = default;
  ThreadSet(const ThreadSet&) = delete;
  ThreadSet& operator=(const ThreadSet&) = delete;
  ~ThreadSet() { join_all(); }

  // Runs `work` on a thread of its own; `on_stop` (if any) asks it to end
  // early, and is called at once when the set is already stopping. Throws
  // std::system_error, as std::thread does, when no thread could be had.
  void start(std::function<void()> work, std::function<void()> on_stop = {});

  // Asks every thread running, and any started from now on, to end early.
  void stop();
  bool stopping() const;

  // Joins every thread, those started meanwhile too (a thread may start
  // another), until none is left.
  void join_all();

 private:
  struct Entry {
    std::thread thread;
    std::function<void()> on_stop;
  };

  void join_finished_locked(std::unique_lock<std::mutex>& lock);

  mutable std::mutex mutex_;
  bool stopping_ = false;
  std::uint64_t next_id_ = 0;
  std::map<std::uint64_t, Entry> running_;
  std::vector<std::uint64_t> finished_;
};

}  // namespace stand_in
