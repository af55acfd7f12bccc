#pragma once

#include <expected>
#include <functional>
#include <string>

#include "agent_integration/entry_decision.hpp"

namespace murmela {

// How one kind of configuration file holds our entry, for one CLI path: what
// a missing file reads as, and three functions of the file's text. The
// editor keeps the user's bytes; the check reads the result with a real
// parser, so that nothing is written that is not exactly the change meant.
struct ConfigFormat {
  std::string missing_text;
  // Whether this CLI's path can be written in this format at all.
  bool can_name_cli = false;
  // What the text holds under our name; the error says why the file is
  // left alone ("not plain JSON, left alone").
  std::function<std::expected<FoundEntry, std::string>(const std::string& text)> find;
  // The text with the change made: Add, Update or Remove.
  std::function<std::string(const std::string& text, EntryDecision change)> edit;
  // Whether `edited` is `text` with exactly that change and nothing else.
  std::function<bool(const std::string& text, const std::string& edited, EntryDecision change)>
      check;
};

}  // namespace murmela
