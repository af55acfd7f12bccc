#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace murmela {

// Whether a character may act on a terminal, or change how the text around
// it is shown, instead of showing as itself: the C0 controls, DEL, the C1
// controls U+0080-U+009F (U+009B starts an escape sequence on terminals that
// take 8-bit controls), the bidirectional marks, embeddings, overrides and
// isolates (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069), which
// reorder what is shown, and the line and paragraph separators U+2028 and
// U+2029, which some terminals and viewers break a line at. Every way below
// of showing outside text to a person asks this one question.
bool is_control_character(std::uint32_t code_point);

// Whether valid UTF-8 text holds any of those characters.
bool holds_control_character(std::string_view text);

// Text from outside (the app's words, a command line) as it may be shown:
// every control character above written as an escape that shows instead of
// acting ("\x1b" for C0 and DEL, "\u009b" and "\u202e" above ASCII), and each
// byte that is not UTF-8 as "\xff". The result is one line of printable text,
// but for the ASCII controls in `kept` ("\n\t" for text of many lines), which
// stay as they are. For error lines and text a person may need to read whole.
std::string with_controls_escaped(std::string_view text, std::string_view kept = {});

// The same text with each control character as one space, and each sequence
// that is not UTF-8 as U+FFFD: for a menu line, where the words' places
// matter more than what stood between them.
std::string with_controls_as_spaces(std::string_view text);

// The same text with tabs and line breaks (CR, LF and the two separators) as
// one space each and every other control character left out, and each
// sequence that is not UTF-8 as U+FFFD: for a status line that redraws in
// place and must keep to the width it was measured for.
std::string with_controls_dropped(std::string_view text);

// JSON text (as the printer writes it) for a terminal: every control
// character above ASCII, and DEL, in its strings as a \u escape, which a
// JSON reader reads back as the same character. The C0 controls stay: the
// printer escapes them in strings already, so those left are its own line
// feeds. Text without such characters comes back byte for byte.
std::string with_json_controls_escaped(std::string_view json);

}  // namespace murmela
