#pragma once

#include <chrono>
#include <expected>
#include <optional>
#include <string>

#include "common/descriptor.hpp"
#include "library.hpp"
#include "options.hpp"

namespace stand_in {

// What the app runs with once started: its folder held for this instance
// alone, the library it starts from, and the socket it listens on.
struct StartedApp {
  std::string folder;
  std::string socket;
  std::string kept;  // where the library is kept; empty when nothing is
  murmela::FileDescriptor instance_lock;
  std::optional<Library> library;
  murmela::FileDescriptor listener;
};

// Makes the data folder, takes the instance lock, makes sure no other app
// answers, reads the library and binds the socket, in that order; the
// error is the line the stand-in prints before it exits 1.
std::expected<StartedApp, std::string> start_up(const Options& options);

// How long each step of a job takes; tests make it short, or "manual": then
// a job moves on only when a `stand_in_step` request says so, however slow
// the machine.
std::chrono::milliseconds job_step();

}  // namespace stand_in
