#pragma once

#include <cstddef>

namespace stand_in {

// How many connections of each kind the app holds at once.
struct ConnectionLimits {
  // Still sending their request line: they cost a descriptor and a buffer,
  // no thread; past this many the one that has waited longest is turned
  // away, so that silent connections never lock everyone else out.
  int reading;
  // Requests being answered, each on a thread of its own; past this many a
  // client is turned away at once rather than left hanging.
  int answering;
  // Requests that wait for a job to end (a transcription or notes without
  // detach): they may wait for hours, and must not keep a ping or a cancel
  // of that very job out.
  int waiting;
  // Replies being sent: a client that asks for a big reply and does not
  // read it holds its connection until the reply deadline, and must not
  // keep a ping or a cancel out meanwhile.
  int sending;
};

// The limits within a budget of connections open at once (what the
// process's descriptors allow). Waiting requests get at most half of it and
// replies being sent a quarter, so that a quarter at least is always left
// for requests to be read and answered, however many clients wait or do
// not read.
ConnectionLimits connection_limits(std::size_t budget);

}  // namespace stand_in
