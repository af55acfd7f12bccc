#pragma once

#include <string_view>

#include "cli/context.hpp"

namespace murmela {

// `__complete meetings` and `__complete models`: for the zsh and fish
// completions, the app's meeting IDs and speech models as lines of the word,
// a tab and what the word stands for (a meeting's title and when it started,
// a model's name), from one request within the completions' deadline. The
// app's text is outside input: a word a shell word cannot carry is left out,
// a description is cut short and its control characters become spaces, and
// the lines are bounded in number.
[[nodiscard]] Done run_described_words(const Context& ctx, std::string_view what);

}  // namespace murmela
