#include "cli/completion_words.hpp"

#include <chrono>

#include "app_link/app_commands.hpp"
#include "cli/described_words.hpp"
#include "common/shown_text.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

constexpr std::string_view kUsage = "Use `__complete ids|keys|meetings|models`.";

// The app lists meetings most recently started first, so these are the
// newest: more than anyone picks from a list, and few enough that the
// shells take them at once (bash's compgen and zsh's compadd slow down with
// hundreds of thousands). Older meetings are still reached by typing an ID's
// beginning, which the commands take.
constexpr std::size_t kMostWords = 5000;

// Words go out in blocks of this size rather than one write each.
constexpr std::size_t kBlockBytes = 64 * 1024;

// Gathers the words offered, up to kMostWords, writing them a block at a time.
class Offer {
 public:
  explicit Offer(Output& out) : out_(out) {}
  Offer(const Offer&) = delete;
  Offer& operator=(const Offer&) = delete;
  ~Offer() { flush(); }

  bool full() const { return count_ >= kMostWords; }

  void add(const std::optional<std::string>& word) {
    if (full() || !word || !is_offerable_word(*word)) return;
    block_ += *word;
    block_ += '\n';
    ++count_;
    if (block_.size() >= kBlockBytes) flush();
  }

 private:
  void flush() {
    if (!block_.empty()) out_.write(block_);
    block_.clear();
  }

  Output& out_;
  std::string block_;
  std::size_t count_ = 0;
};

}  // namespace

std::optional<std::string> exact_text(JsonView value) {
  if (!value.is_string()) return std::nullopt;
  auto exact = read_json(std::string(value.source()), LoneSurrogates::Refused);
  if (!exact) return std::nullopt;
  return exact->root().string();
}

bool is_offerable_word(std::string_view word) {
  if (word.empty() || !is_valid_utf8(word)) return false;
  return !holds_control_character(word);
}

Done run_completion_words(const Context& ctx, std::span<const std::string> words) {
  const bool ids = words.size() == 1 && words[0] == "ids";
  const bool keys = words.size() == 1 && words[0] == "keys";
  if (words.size() == 1 && (words[0] == "meetings" || words[0] == "models")) {
    return run_described_words(ctx, words[0]);
  }
  if (!ids && !keys) return fail(CliError::usage(std::string(kUsage)));

  const std::string_view asked =
      ids ? app_command("list_meetings").name : app_command("get_state").name;
  TRY_ASSIGN(auto reply, ctx.app.call_within(asked, Json::object(), kCompletionBudget));
  const JsonView root = reply.root();
  Offer offer(ctx.out);
  if (ids && root.is_array()) {
    // Walked in place: a list of millions costs no list of views.
    for (std::uint32_t i = root.index() + 1; i < root.after_index() && !offer.full();
         i = root.at(i).after_index()) {
      const JsonView meeting = root.at(i);
      if (!meeting.is_object()) continue;
      if (auto id = meeting.find("id")) offer.add(exact_text(*id));
    }
  }
  if (keys && root.is_object()) {
    if (auto settings = root.find("settings"); settings && settings->is_object()) {
      const auto members = settings->children();
      for (std::size_t i = 0; i < members.size() && !offer.full(); i += 2) {
        offer.add(exact_text(members[i]));
      }
    }
  }
  return {};
}

}  // namespace murmela
