#include "options.hpp"

#include "common/environment.hpp"

namespace stand_in {

const char* const kHelp =
    R"(Usage: murmela [--startup] [--ephemeral] [--library FILE] [--verbose]

A stand-in for the Murmela app: it serves murmela-cli's socket with a meeting
library, kept in the data folder (stand-in-library.json and audio/) as the
app keeps its own: every change, and every job's result as it lands, is
written before a client hears of it, so a restart (or a kill) keeps imports
and edits. The first start has a few demo meetings. `meetings import` reads
real audio (WAV, FLAC, Ogg/Vorbis, ...); its English speech is recognised
with pocketsphinx where Debian's pocketsphinx-en-us model is installed (else
transcripts are made up; `murmela-cli diagnostics` says which, and where the
library is kept). A stereo file is two speakers: left "You", right "Other
speakers". Audio longer than 4 hours, past 8 channels or 192 kHz, or of
more than 512 MiB once decoded, is refused.

  --ephemeral       a throwaway run: the library lives in memory only and the
                    kept one is neither read nor written; also
                    MURMELA_EPHEMERAL=1
  --persist         keep the library (the default); with --library, keep the
                    fixture's meetings in the data folder from then on
  --library FILE    start with the meetings (and settings) of a JSON file
                    ({"meetings": [{"title": ..., "transcript": ...}, ...]},
                    "settings" optional), in memory only unless --persist;
                    also MURMELA_STAND_IN_LIBRARY. Every member is checked
                    first: IDs unique, of letters, digits, '-' and '_';
                    statuses ready, failed or cancelled
  --verbose         print the socket path, and one line per request and reply,
                    on standard error
  --startup         accepted for the real app's sake; does nothing

`meetings transcribe <id> --model large-v3` fails on purpose, as with a model
that is not downloaded: the way to try a job that ends `failed`.

MURMELA_STAND_IN_STEP_MS sets how long each step of a job takes (default 1500;
read at start); `manual` moves jobs on only with
`murmela-cli invoke stand_in_step` (recognition still runs as fast as it can).
)";

bool Options::kept() const {
  if (keep) return *keep;
  return !library && murmela::env_value("MURMELA_EPHEMERAL") != "1";
}

std::variant<Options, ShowHelp, UsageError> parse_arguments(
    std::span<const std::string_view> arguments,
    std::optional<std::string> library_from_environment) {
  Options options;
  options.library = std::move(library_from_environment);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string argument(arguments[i]);
    if (argument == "--help" || argument == "-h") return ShowHelp{};
    if (argument == "--persist") {
      options.keep = true;
    } else if (argument == "--ephemeral") {
      options.keep = false;
    } else if (argument == "--verbose") {
      options.verbose = true;
    } else if (argument == "--library" || argument.starts_with("--library=")) {
      // The value is the next argument unless that is another option: a
      // file named like one is given as --library=FILE or ./FILE.
      const bool joined = argument != "--library";
      const bool next_is_value = i + 1 < arguments.size() && !arguments[i + 1].starts_with("--");
      std::string value = joined          ? argument.substr(10)
                          : next_is_value ? std::string(arguments[++i])
                                          : std::string();
      if (value.empty()) return UsageError{"--library needs a value (a JSON file)."};
      options.library = std::move(value);
    } else if (argument == "--startup") {
      // the real app's launch option: nothing to do here
    } else if (argument.starts_with("-")) {
      return UsageError{"Unknown option: " + argument};
    } else {
      return UsageError{"Unexpected argument: " + argument + " (the stand-in takes options only)"};
    }
  }
  return options;
}

}  // namespace stand_in
