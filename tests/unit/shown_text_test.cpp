#include "common/shown_text.hpp"

#include <gtest/gtest.h>

#include "cli/completion_words.hpp"
#include "cli/progress.hpp"
#include "common/utf8.hpp"

using namespace murmela;

namespace {

// Text from the app that would act on a terminal, or turn the text around it,
// shows as escapes instead; everything printable stays as it is.
TEST(ShownText, EscapesWhatWouldActOnATerminal) {
  const std::pair<const char*, const char*> cases[] = {
      {"Meeting 42 not found.", "Meeting 42 not found."},
      {"Grüße ✓ 会议 \xC2\xA0 \xE2\x80\xAF", "Grüße ✓ 会议 \xC2\xA0 \xE2\x80\xAF"},
      {"id\x1b]0;owned\x07\x1b[2J", "id\\x1b]0;owned\\x07\\x1b[2J"},
      {"bad\nerror: forged", "bad\\x0aerror: forged"},
      {"a\tb\rc\x7f", "a\\x09b\\x0dc\\x7f"},
      {"\xC2\x80 \xC2\x9B"
       "2J \xC2\x9F",
       "\\u0080 \\u009b2J \\u009f"},
      {"txt.\xE2\x80\xAE"
       "fdp",
       "txt.\\u202efdp"},
      {"\xE2\x80\xAA \xE2\x81\xA6 \xE2\x81\xA9", "\\u202a \\u2066 \\u2069"},
      // The bidirectional marks turn the text around them too, and the line
      // and paragraph separators break a line where a terminal or viewer
      // takes them as line breaks.
      {"\xD8\x9C \xE2\x80\x8E \xE2\x80\x8F", "\\u061c \\u200e \\u200f"},
      {"one\xE2\x80\xA8two\xE2\x80\xA9", "one\\u2028two\\u2029"},
      {"not utf-8 \xFF\xC3", "not utf-8 \\xff\\xc3"},
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(with_controls_escaped(text), shown) << text;
    if (is_valid_utf8(text)) {
      EXPECT_EQ(holds_control_character(text), std::string_view(text) != shown) << text;
    }
  }
}

TEST(ShownText, TheInterruptLineShowsTheAppsIdEscaped) {
  const std::string line = interrupted_line("abc\x1b]0;owned\x07\x1b[2J\xE2\x80\xAE");
  EXPECT_EQ(line,
            "Follow the job: murmela-cli meetings wait abc\\x1b]0;owned\\x07\\x1b[2J\\u202e\n"
            "Stop the job:   murmela-cli meetings cancel abc\\x1b]0;owned\\x07\\x1b[2J\\u202e\n");
}

TEST(ShownText, CompletionOffersNoWordThatWouldActOnATerminal) {
  for (const char* word : {"abc-123", "Grüße", "a b"}) EXPECT_TRUE(is_offerable_word(word)) << word;
  for (const char* word : {"", "a\nb", "a\tb", "\x1b[2J", "x\x7f",
                           "\xC2\x9B"
                           "2J",
                           "txt.\xE2\x80\xAE"
                           "fdp",
                           "\xE2\x81\xA6x", "\xFF"}) {
    EXPECT_FALSE(is_offerable_word(word)) << word;
  }
}

// A status line keeps no control character: tabs and line breaks become
// spaces, the others are left out.
TEST(ShownText, DroppedFromAStatusLine) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"Plain — Köln", "Plain — Köln"},
      {"a\x1b[2Jb", "a[2Jb"},
      {"title\x1b]0;x\x07", "title]0;x"},
      {"tab\tand\r\nbreaks", "tab and  breaks"},
      {"c1\xC2\x9B"
       "31m",
       "c131m"},
      {"del\x7F", "del"},
      {"bad\xFFutf8", "bad\uFFFDutf8"},
      {"txt.\u202Efdp \u2066x\u2069\u200F", "txt.fdp x"},
      {"one\u2028two\u2029", "one two "},
  };
  for (const auto& c : cases) EXPECT_EQ(with_controls_dropped(c.text), c.shown) << c.text;
}

}  // namespace
