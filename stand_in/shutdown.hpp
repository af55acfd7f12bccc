#pragma once

#include "thread_set.hpp"

namespace stand_in {

// The app's end, however it comes (the `quit_app` command, SIGINT or
// SIGTERM): requests waiting for a job stop waiting, and the work running
// in the background (speech recognition) is asked to end, so that every
// thread can be joined before the app's state and the recogniser's shared
// decoders are torn down.
void request_quit();
bool quit_is_requested();

// The threads working for the app rather than for one connection; joined
// after the connections' threads, since those may start them.
ThreadSet& background_threads();

}  // namespace stand_in
