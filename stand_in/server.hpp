#pragma once

#include <string>

#include "app.hpp"

namespace stand_in {

// Serves the app's socket: one request line and one reply line per
// connection, each connection on a thread of its own. When the app is asked
// to quit or the process gets SIGINT or SIGTERM, stops accepting, drops the
// requests still being read, and returns once every request answered has
// ended (those waiting for a job stop waiting). `verbose` prints
// each request and reply on standard error, one line each.
int serve(App& app, int listener, bool verbose);

// One reply line for one request line.
std::string reply_line(App& app, const std::string& request_line);

}  // namespace stand_in
