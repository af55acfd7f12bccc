#include "shutdown.hpp"

#include <atomic>

namespace stand_in {

namespace {
std::atomic<bool> g_quit_requested{false};
}  // namespace

void request_quit() {
  g_quit_requested = true;
  background_threads().stop();
}

bool quit_is_requested() { return g_quit_requested; }

ThreadSet& background_threads() {
  static ThreadSet threads;
  return threads;
}

}  // namespace stand_in
