#pragma once

#include <string>

namespace murmela {

// Shell completions for murmela-cli, made from the commands the help text
// documents: command words, arguments, options and their values; zsh and
// fish show each word's summary from the help text beside it. Meeting IDs
// and setting keys come from the running app through `__complete`, which
// never starts it and waits about a second at most; when it is not running
// nothing of it is offered.
std::string bash_completion();
std::string zsh_completion();
std::string fish_completion();

}  // namespace murmela
