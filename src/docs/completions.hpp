#pragma once

#include <string>

namespace murmela {

// Shell completions for murmela-cli, made from the commands the help text
// documents: command words, arguments, options and their values. Meeting
// IDs and setting keys come from the running app, asked with --no-launch so
// that completing never starts it; when it is not running nothing is offered.
std::string bash_completion();
std::string zsh_completion();
std::string fish_completion();

}  // namespace murmela
