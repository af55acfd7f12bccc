#pragma once

#include <expected>
#include <utility>

// Passing a failure up, the one way: the error of an `std::expected` goes
// to the caller as it is, or through the caller's error type's constructor
// from it (a `SystemError` becomes a `CliError` that way, say).
//
//   TRY(make_private_folders(folder));        // a failure returns it
//   TRY_ASSIGN(auto reply, call_app(...));    // declares `reply` as the value
//   TRY_ASSIGN(existing, read_file(path));    // or assigns an existing variable
//
// They are statements, for functions returning an `std::expected`.

#define MURMELA_TRY_JOIN_(a, b) a##b
#define MURMELA_TRY_NAME_(a, b) MURMELA_TRY_JOIN_(a, b)

#define MURMELA_TRY_(tried, expression) \
  auto&& tried = (expression);          \
  if (!tried) return std::unexpected(std::move(tried).error())

#define TRY(expression)                       \
  do {                                        \
    MURMELA_TRY_(murmela_tried_, expression); \
  } while (false)

#define MURMELA_TRY_ASSIGN_(tried, target, expression) \
  MURMELA_TRY_(tried, expression);                     \
  target = std::move(*tried)

#define TRY_ASSIGN(target, expression) \
  MURMELA_TRY_ASSIGN_(MURMELA_TRY_NAME_(murmela_tried_, __COUNTER__), target, expression)
