#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/context.hpp"

namespace murmela {

inline constexpr std::uint64_t kDefaultWaitTimeoutSeconds = 14400;
inline constexpr auto kWaitPollInterval = std::chrono::seconds(2);

// The job commands (transcribe, wait, cancel) are in commands.hpp; this is
// the wait loop they share.

// While a meeting has one of these statuses, a job is still running on it.
bool is_busy_status(std::string_view status);

// The --timeout option in whole seconds, 14400 when it is absent.
[[nodiscard]] Result<std::uint64_t> wait_timeout(const Invocation& invocation);

// Polls the meeting until its job is over, then prints its summary; a meeting
// that ended `failed` fails with its error after the summary is printed. A
// terminal shows each polled status on the progress line meanwhile.
[[nodiscard]] Done wait_for_meeting(const Context& ctx, const std::string& id);

}  // namespace murmela
