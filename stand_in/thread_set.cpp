#include "thread_set.hpp"

#include <utility>

namespace stand_in {

void ThreadSet::start(std::function<void()> work, std::function<void()> on_stop) {
  std::unique_lock lock(mutex_);
  join_finished_locked(lock);
  const std::uint64_t id = next_id_++;
  std::thread thread([this, id, work = std::move(work)] {
    work();
    std::lock_guard done(mutex_);
    finished_.push_back(id);
  });
  if (stopping_ && on_stop) on_stop();
  running_.emplace(id, Entry{std::move(thread), std::move(on_stop)});
}

void ThreadSet::stop() {
  std::lock_guard lock(mutex_);
  stopping_ = true;
  for (auto& [id, entry] : running_)
    if (entry.on_stop) entry.on_stop();
}

bool ThreadSet::stopping() const {
  std::lock_guard lock(mutex_);
  return stopping_;
}

void ThreadSet::join_all() {
  std::unique_lock lock(mutex_);
  while (!running_.empty()) {
    auto taken = std::exchange(running_, {});
    finished_.clear();
    lock.unlock();
    for (auto& [id, entry] : taken) entry.thread.join();
    lock.lock();
  }
  finished_.clear();
}

// The finished threads have returned from their work, or are about to:
// their joins wait at most for the last lines of the thread.
void ThreadSet::join_finished_locked(std::unique_lock<std::mutex>& lock) {
  if (finished_.empty()) return;
  std::vector<std::thread> ended;
  for (std::uint64_t id : std::exchange(finished_, {})) {
    auto found = running_.find(id);
    if (found == running_.end()) continue;
    ended.push_back(std::move(found->second.thread));
    running_.erase(found);
  }
  lock.unlock();
  for (auto& thread : ended) thread.join();
  lock.lock();
}

}  // namespace stand_in
