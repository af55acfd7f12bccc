#include "docs/completions.hpp"

#include <algorithm>
#include <map>
#include <ranges>
#include <string_view>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "cli/command_lines.hpp"
#include "cli/invocation.hpp"
#include "common/version.hpp"
#include "docs/command_descriptions.hpp"
#include "docs/man_page.hpp"

namespace murmela {

namespace {

// What the completion functions look up, each a table from a key to one
// line of words: the key is the command words typed so far, space-joined
// ("" before the first). Values are spelled for the drivers: "@id", "@file",
// "@key", "@pair", "@model", "@text", or "=a,b,c" for a choice.
struct Tables {
  std::vector<std::pair<std::string, std::string>> next_words;  // in help order
  std::map<std::string, std::string> arguments;
  std::map<std::string, std::string> options;
  std::map<std::string, std::string> option_values;  // key "meetings export --format"
  // What zsh and fish show beside a word: key "meetings show" for a command
  // word, "--title" for an option.
  std::map<std::string, std::string> descriptions;
};

// What the help's placeholders stand for.
std::string placeholder_text(const OptionSpec& option) {
  static const std::map<std::string, std::string, std::less<>> kPlaceholders = {
      {"T", "text"}, {"M", "model"}, {"S", "seconds"}, {"N", "number"}, {"F", "file"}};
  if (auto found = kPlaceholders.find(option.placeholder); found != kPlaceholders.end()) {
    return found->second;
  }
  if (option.value && option.value->kind == ValueKind::Choice) {
    return fmt::format("one of {}", fmt::join(option.value->choices, ", "));
  }
  return option.placeholder;
}

// A flag's words from the manual page up to the first stop, which is all a
// menu line holds.
std::string flag_summary(std::string_view flag) {
  return std::string(menu_summary(flag_text(flag)));
}

// A word that only leads to more words (`meetings`, `record`) is shown by
// those words.
void describe_families(Tables& tables) {
  constexpr std::size_t kWidth = 60;
  for (const auto& [key, words] : tables.next_words) {
    if (key.empty() || tables.descriptions.contains(key)) continue;
    std::string text;
    for (const auto& word : std::views::split(std::string_view(words), ' ')) {
      std::string_view next(word.begin(), word.end());
      if (text.size() + next.size() + 2 > kWidth) {
        text += ", ...";
        break;
      }
      text += text.empty() ? std::string(next) : fmt::format(", {}", next);
    }
    tables.descriptions[key] = text;
  }
}

std::string spelled(const ValueSpec& value) {
  switch (value.kind) {
    case ValueKind::Choice:
      return fmt::format("={}", fmt::join(value.choices, ","));
    case ValueKind::MeetingId:
      return "@id";
    case ValueKind::Path:
      return "@file";
    case ValueKind::SettingKey:
      return "@key";
    case ValueKind::SettingPair:
      return "@pair";
    case ValueKind::Model:
      return "@model";
    case ValueKind::Text:
      break;
  }
  return "@text";
}

void add_next_word(Tables& tables, const std::string& key, const std::string& word) {
  auto found = std::find_if(tables.next_words.begin(), tables.next_words.end(),
                            [&](const auto& entry) { return entry.first == key; });
  if (found == tables.next_words.end()) {
    tables.next_words.emplace_back(key, word);
    return;
  }
  const std::string padded = " " + found->second + " ";
  if (padded.find(" " + word + " ") == std::string::npos) found->second += " " + word;
}

Tables tables_of(const std::vector<CommandLine>& commands) {
  Tables tables;
  for (const CommandLine& command : commands) {
    std::string key;
    for (const std::string& word : command.words) {
      add_next_word(tables, key, word);
      key += key.empty() ? word : " " + word;
    }
    std::vector<std::string> arguments;
    for (const ValueSpec& argument : command.arguments) arguments.push_back(spelled(argument));
    if (command.last_argument_repeats) arguments.push_back("...");
    if (!arguments.empty()) tables.arguments[key] = fmt::format("{}", fmt::join(arguments, " "));

    std::vector<std::string> names;
    for (const OptionSpec& option : command.options) {
      names.push_back("--" + option.name);
      if (option.value) tables.option_values[key + " --" + option.name] = spelled(*option.value);
      tables.descriptions["--" + option.name] =
          option.value ? placeholder_text(option) : flag_summary("--" + option.name);
    }
    if (!names.empty()) tables.options[key] = fmt::format("{}", fmt::join(names, " "));
    // The manual page's words on the command, cut to a menu line.
    const std::string_view text = menu_summary(command_description(key));
    if (!text.empty()) tables.descriptions[key] = text;
  }
  for (const std::string_view flag : {"--no-launch", "--help"}) {
    tables.descriptions[std::string(flag)] = flag_summary(flag);
  }
  describe_families(tables);
  return tables;
}

// Text in single quotes for sh (a quote inside ends, escapes and reopens).
std::string sh_quoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Text in single quotes for fish, where \\ and \' are the escapes.
std::string fish_quoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\\' || c == '\'') quoted += '\\';
    quoted += c;
  }
  return quoted + "'";
}

template <typename Entries>
std::string case_function(std::string_view name, const Entries& entries) {
  std::string text = fmt::format("{}() {{\n  case $1 in\n", name);
  for (const auto& [key, words] : entries)
    text += fmt::format("    {}) echo {} ;;\n", sh_quoted(key), sh_quoted(words));
  return text + "  esac\n}\n";
}

template <typename Entries>
std::string fish_function(std::string_view name, const Entries& entries) {
  std::string text = fmt::format("function {}\n    switch \"$argv[1]\"\n", name);
  for (const auto& [key, words] : entries) {
    text +=
        fmt::format("        case {}\n            echo {}\n", fish_quoted(key), fish_quoted(words));
  }
  return text + "    end\nend\n";
}

std::string flag_pattern(std::string_view separator) {
  return fmt::format("{}", fmt::join(flag_arguments(), separator));
}

const Tables& tables() {
  static const Tables tables = tables_of(documented_commands());
  return tables;
}

std::string posix_tables(std::string_view prefix) {
  const Tables& t = tables();
  return case_function(fmt::format("{}_next_words", prefix), t.next_words) +
         case_function(fmt::format("{}_arguments", prefix), t.arguments) +
         case_function(fmt::format("{}_options", prefix), t.options) +
         case_function(fmt::format("{}_option_value", prefix), t.option_values) +
         case_function(fmt::format("{}_description", prefix), t.descriptions);
}

// {0}: the shell; {1}: the version.
constexpr std::string_view kHeader =
    "# {0} completions for murmela-cli {1}, made from its help text when it was built.\n";

// Meeting IDs, setting keys and models come from the running app, one per
// line, from the CLI's own `__complete`, which never starts the app and gives
// up after about a second. They are the app's data: printed and compared,
// never expanded. Shared by bash and zsh.
constexpr std::string_view kPosixValues = R"SH(
# Prints the candidates of one value spelling, one per line.
_murmela_cli_values() {
  local program=$1
  case $program in "~/"*) program=$HOME/${program#"~/"} ;; esac
  case $2 in
    @id)
      echo latest
      "$program" __complete ids 2>/dev/null ;;
    @model)
      _murmela_cli_described "$program" @model | cut -f1 ;;
    @key)
      "$program" __complete keys 2>/dev/null ;;
    @pair)
      _murmela_cli_values "$program" @key | sed 's/$/=/' ;;
    '='*)  # quoted: zsh would read =* as a command's path
      echo "${2#=}" | tr ',' '\n' ;;
  esac
}

# Prints the candidates of @id or @model as "word<TAB>what it is" lines:
# each meeting's title and start, each model's name, from one request.
_murmela_cli_described() {
  local program=$1
  case $program in "~/"*) program=$HOME/${program#"~/"} ;; esac
  case $2 in
    @id)
      printf 'latest\tthe most recently started meeting\n'
      "$program" __complete meetings 2>/dev/null ;;
    @model)
      "$program" __complete models 2>/dev/null ;;
  esac
}

# Reads the words before the cursor: sets _murmela_cli_key (the command
# words), _murmela_cli_rest (how many arguments follow them) and
# _murmela_cli_option (an option still waiting for its value).
_murmela_cli_read() {
  _murmela_cli_key= _murmela_cli_rest=0 _murmela_cli_option=
  local word
  for word in "$@"; do
    if [ -n "$_murmela_cli_option" ]; then _murmela_cli_option=; continue; fi
    case $word in
      @FLAGS@) continue ;;
      --*=*) continue ;;
      --?*) _murmela_cli_option=$word; continue ;;
    esac
    [ -z "$_murmela_cli_key" ] && [ "$word" = meeting ] && word=meetings
    if [ "$_murmela_cli_rest" -eq 0 ] &&
       case " $(_murmela_cli_next_words "$_murmela_cli_key") " in *" "$word" "*) true ;; *) false ;; esac
    then
      _murmela_cli_key=${_murmela_cli_key:+$_murmela_cli_key }$word
    else
      _murmela_cli_rest=$((_murmela_cli_rest + 1))
    fi
  done
}

# The value spelling for what the cursor is on, after _murmela_cli_read;
# $1 is the word under the cursor.
_murmela_cli_wanted() {
  if [ -n "$_murmela_cli_option" ]; then
    _murmela_cli_option_value "$_murmela_cli_key $_murmela_cli_option"
    return
  fi
  case $1 in
    --?*=*)  # --name=value: the value, offered after "--name="
      _murmela_cli_option_value "$_murmela_cli_key ${1%%=*}"
      return ;;
    -*) echo "=$(_murmela_cli_options "$_murmela_cli_key" | tr ' ' ',')${_murmela_cli_key:+,}--no-launch,--help"
        return ;;
  esac
  local next
  next=$(_murmela_cli_next_words "$_murmela_cli_key")
  if [ "$_murmela_cli_rest" -eq 0 ] && [ -n "$next" ]; then
    echo "=$(echo "$next" | tr ' ' ',')"
    return
  fi
  set -- $(_murmela_cli_arguments "$_murmela_cli_key")
  local index=$((_murmela_cli_rest + 1))
  # "..." after the last argument: it repeats.
  if [ $# -ge 2 ] && eval "[ \"\${$#}\" = ... ]" && [ "$index" -ge $# ]; then
    index=$(($# - 1))
  fi
  if [ "$index" -le $# ]; then eval "echo \"\${$index}\""; fi
}
)SH";

constexpr std::string_view kBashDriver = R"SH(
_murmela_cli() {
  local cur words cword
  if declare -F _get_comp_words_by_ref >/dev/null; then
    # Keeps --name=value and key=value in one word.
    _get_comp_words_by_ref -n =: -w words -i cword cur
  else
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]}
  fi
  _murmela_cli_read "${words[@]:1:cword-1}"
  local wanted
  wanted=$(_murmela_cli_wanted "$cur")
  COMPREPLY=()
  case $wanted in
    @text | "") ;;
    @file)
      if declare -F _filedir >/dev/null; then
        _filedir
      else
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      fi ;;
    *)
      [ "$wanted" = @pair ] && compopt -o nospace 2>/dev/null
      # --name=value: each value is offered after "--name=".
      local prefix=
      case $cur in --?*=*) prefix=${cur%%=*}= ;; esac
      # Readline splits a word at "=" (COMP_WORDBREAKS) and replaces only what
      # follows the last one: that part of each candidate is what it takes.
      local taken=
      [[ $COMP_WORDBREAKS == *=* && $cur == *=* ]] && taken=${cur%"${cur##*=}"}
      # Each candidate is matched as text and offered quoted, so what lands
      # on the command line is the word itself: compgen -W would expand it.
      local value quoted
      while IFS= read -r value; do
        printf -v quoted %q "$prefix$value"
        [[ $prefix$value == "$cur"* || $quoted == "$cur"* ]] || continue
        quoted=${quoted#"$taken"}
        [ -n "$quoted" ] && COMPREPLY+=("$quoted")
      done < <(_murmela_cli_values "${words[0]}" "$wanted") ;;
  esac
}
complete -F _murmela_cli murmela-cli
)SH";

constexpr std::string_view kZshDriver = R"SH(
_murmela_cli_main() {
  _murmela_cli_read "${(@)words[2,CURRENT-1]}"
  local wanted prefix=
  wanted=$(_murmela_cli_wanted "${words[CURRENT]}")
  # --name=value: the values follow "--name=", which stays as typed.
  [[ ${words[CURRENT]} == --?*=* ]] && prefix=${words[CURRENT]%%=*}=
  case $wanted in
    @text | "") return 1 ;;
    @file) _files ;;
    @pair)
      local -a keys
      keys=("${(@f)$(_murmela_cli_values "${words[1]}" @key)}")
      compadd -S = -- "${(@)keys:#}" ;;
    @id | @model)  # the app's words, each shown with what the app says of it
      local -a candidates described
      local line
      for line in "${(@f)$(_murmela_cli_described "${words[1]}" "$wanted")}"; do
        [[ -n $line ]] || continue
        candidates+=("${line%%$'\t'*}")
        if [[ $line == *$'\t'* ]]; then
          described+=("${line%%$'\t'*}  -- ${line#*$'\t'}")
        else
          described+=("$line")
        fi
      done
      compadd -p "$prefix" -l -d described -- "${candidates[@]}" ;;
    '='*)  # our own words: each with its summary from the help text
      local -a candidates described
      local candidate text
      candidates=("${(@f)$(_murmela_cli_values "${words[1]}" "$wanted")}")
      candidates=("${(@)candidates:#}")
      for candidate in "${candidates[@]}"; do
        case $candidate in
          -*) text=$(_murmela_cli_description "$candidate") ;;
          *) text=$(_murmela_cli_description "${_murmela_cli_key:+$_murmela_cli_key }$candidate") ;;
        esac
        described+=("$candidate${text:+  -- $text}")
      done
      compadd -p "$prefix" -l -d described -- "${candidates[@]}" ;;
    *)
      local -a candidates
      candidates=("${(@f)$(_murmela_cli_values "${words[1]}" "$wanted")}")
      compadd -p "$prefix" -- "${(@)candidates:#}" ;;
  esac
}

_murmela_cli_main "$@"
)SH";

constexpr std::string_view kFishDriver = R"FISH(
function __murmela_cli_values
    set -l program $argv[1]
    switch $argv[2]
        case @id
            echo latest
            $program __complete ids 2>/dev/null
        case @key
            $program __complete keys 2>/dev/null
        case @pair
            __murmela_cli_values $program @key | string replace -r '$' '='
        case '=*'
            string split , -- (string sub -s 2 -- $argv[2])
    end
end

# Meetings and models as "word<TAB>what it is" lines: each meeting's title
# and start, each model's name, from one request.
function __murmela_cli_described
    switch $argv[2]
        case @id
            printf 'latest\tthe most recently started meeting\n'
            $argv[1] __complete meetings 2>/dev/null
        case @model
            $argv[1] __complete models 2>/dev/null
    end
end

function __murmela_cli_complete
    set -l tokens (commandline -opc)
    set -l current (commandline -ct)
    set -l key ''
    set -l rest 0
    set -l option ''
    for word in $tokens[2..-1]
        if test -n "$option"
            set option ''
            continue
        end
        switch $word
            case @FLAGS@
                continue
            case '--*=*'
                continue
            case '--?*'
                set option $word
                continue
        end
        if test -z "$key" -a "$word" = meeting
            set word meetings
        end
        if test $rest -eq 0; and contains -- $word (string split ' ' -- (__murmela_cli_next_words "$key"))
            set key (string trim -- "$key $word")
        else
            set rest (math $rest + 1)
        end
    end

    set -l wanted
    set -l prefix ''
    if test -n "$option"
        set wanted (__murmela_cli_option_value "$key $option")
    else if string match -q -- '--?*=*' $current
        # --name=value: the values follow "--name=".
        set prefix (string replace -r '=.*' '=' -- $current)
        set wanted (__murmela_cli_option_value "$key "(string replace -r '=.*' '' -- $current))
    else if string match -q -- '-*' $current
        set -l options (string split ' ' -- (__murmela_cli_options "$key")) --no-launch --help
        set wanted "="(string join , -- $options)
    else
        set -l next (__murmela_cli_next_words "$key")
        if test $rest -eq 0 -a -n "$next"
            set wanted "="(string replace -a ' ' , -- $next)
        else
            set -l arguments (string split ' ' -- (__murmela_cli_arguments "$key"))
            set -l index (math $rest + 1)
            # "..." after the last argument: it repeats.
            if test (count $arguments) -ge 2; and test "$arguments[-1]" = ...; and test $index -ge (count $arguments)
                set index (math (count $arguments) - 1)
            end
            if test $index -le (count $arguments)
                set wanted $arguments[$index]
            end
        end
    end

    switch "$wanted"
        case '' @text
        case @file
            __fish_complete_path $current
        case '=*'
            # Our own words, each with its summary from the help text.
            for candidate in (__murmela_cli_values $tokens[1] $wanted)
                set -l text
                if string match -q -- '-*' $candidate
                    set text (__murmela_cli_description $candidate)
                else
                    set text (__murmela_cli_description (string trim -- "$key $candidate"))
                end
                if test -n "$text"
                    printf '%s%s\t%s\n' $prefix $candidate $text
                else
                    printf '%s%s\n' $prefix $candidate
                end
            end
        case @pair
            # A key with its "=" typed wants a value, which the app does not list.
            if not string match -q -- '*=*' $current
                __murmela_cli_values $tokens[1] @pair
            end
        case @id @model
            for line in (__murmela_cli_described $tokens[1] $wanted)
                printf '%s%s\n' $prefix $line
            end
        case '*'
            for candidate in (__murmela_cli_values $tokens[1] $wanted)
                printf '%s%s\n' $prefix $candidate
            end
    end
end

complete -c murmela-cli -f -a '(__murmela_cli_complete)'
)FISH";

std::string with_flags(std::string_view driver, std::string_view separator) {
  std::string text(driver);
  text.replace(text.find("@FLAGS@"), 7, flag_pattern(separator));
  return text;
}

}  // namespace

std::string bash_completion() {
  return fmt::format(fmt::runtime(kHeader), "bash", kCliVersion) + posix_tables("_murmela_cli") +
         with_flags(kPosixValues, "|") + std::string(kBashDriver);
}

std::string zsh_completion() {
  return "#compdef murmela-cli\n" + fmt::format(fmt::runtime(kHeader), "zsh", kCliVersion) +
         posix_tables("_murmela_cli") + with_flags(kPosixValues, "|") + std::string(kZshDriver);
}

std::string fish_completion() {
  const Tables& t = tables();
  return fmt::format(fmt::runtime(kHeader), "fish", kCliVersion) +
         fish_function("__murmela_cli_next_words", t.next_words) +
         fish_function("__murmela_cli_arguments", t.arguments) +
         fish_function("__murmela_cli_options", t.options) +
         fish_function("__murmela_cli_option_value", t.option_values) +
         fish_function("__murmela_cli_description", t.descriptions) + with_flags(kFishDriver, " ");
}

}  // namespace murmela
