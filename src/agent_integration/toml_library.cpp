// toml++'s compiled part, built once here; every other file that includes
// it sees only its declarations (TOML_HEADER_ONLY=0, set on the library).
// Inline in the one file that checks Codex's config, it made that file's
// batch the slowest to compile, and the test programs compiled it again.
#define TOML_IMPLEMENTATION
#include <toml++/toml.h>
