#pragma once

#include <expected>
#include <string>

#include "common/descriptor.hpp"

namespace stand_in {

// Why a path could not be opened: it is not there, it is something other
// than a regular file, or the system said no (`error` holds the errno).
struct OpenFailure {
  enum class Kind { Missing, NotRegular, System } kind;
  int error = 0;
};

// Opens a file a client named, to read it. The open never blocks (a FIFO
// with no writer) and what was opened is checked, not the name beforehand:
// only a regular file is taken.
std::expected<murmela::FileDescriptor, OpenFailure> open_to_read(const std::string& path);

}  // namespace stand_in
