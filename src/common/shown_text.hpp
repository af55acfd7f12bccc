#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace murmela {

// Whether a character acts on a terminal, or reorders the text shown around
// it, instead of showing as itself: the C0 controls, DEL, the C1 controls
// U+0080-U+009F and the bidirectional embeddings, overrides and isolates
// U+202A-U+202E and U+2066-U+2069.
bool is_control_character(std::uint32_t code_point);

// Whether valid UTF-8 text holds any of those characters.
bool holds_control_character(std::string_view text);

// Text from outside (the app's words, a command line) as it may be shown:
// every control character above written as an escape that shows instead of
// acting ("\x1b" for C0 and DEL, "\u009b" and "\u202e" above ASCII), and each
// byte that is not UTF-8 as "\xff". The result is one line of printable text,
// but for the ASCII controls in `kept` ("\n\t" for text of many lines), which
// stay as they are.
std::string with_controls_escaped(std::string_view text, std::string_view kept = {});

}  // namespace murmela
