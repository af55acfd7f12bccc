#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>

#include "cli/context.hpp"

namespace murmela {

// How long completing waits for the app: long enough for a busy app on a
// loaded machine, short enough that a key press never feels stuck.
inline constexpr std::chrono::milliseconds kCompletionBudget{1000};

// `__complete ids` and `__complete keys`: the meeting IDs and setting keys of
// the running app, one per line, for the shell completions (`meetings` and
// `models`, with descriptions, are in described_words.hpp). Not documented:
// only the completion scripts call it. The app is never started and is given
// about a second; a word that a line or a shell word cannot carry, or that
// would act on the terminal (a control character, a bidirectional override,
// text that is not UTF-8) is left out. At most the first 5,000 words are
// offered.
[[nodiscard]] Done run_completion_words(const Context& ctx, std::span<const std::string> words);

// Whether a word from the app can be offered as it is: non-empty, UTF-8,
// and free of control characters (line feeds, tabs, C1 controls and
// bidirectional overrides among them).
bool is_offerable_word(std::string_view word);

// A string's decoded text, or nothing when it is no string or holds a lone
// surrogate escape, which no UTF-8 text can carry (the strict reader refuses
// it).
std::optional<std::string> exact_text(JsonView value);

}  // namespace murmela
