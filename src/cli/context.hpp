#pragma once

#include <string_view>

#include "app_link/app_link.hpp"
#include "cli/invocation.hpp"
#include "cli/progress.hpp"
#include "common/output.hpp"

namespace murmela {

// What every command runs with: the command line, the way to the app, and
// where results go.
struct Context {
  const Invocation& invocation;
  AppLink& app;
  Output& out;
  Progress* progress = nullptr;  // only where standard error is a terminal
};

// The progress line of one wait, from begin() until it ends or goes out of
// scope; nothing where the context has no progress line.
class ShownProgress {
 public:
  explicit ShownProgress(const Context& ctx) : progress_(ctx.progress) {}
  ShownProgress(const ShownProgress&) = delete;
  ShownProgress& operator=(const ShownProgress&) = delete;
  ~ShownProgress() { end(); }

  // The first call begins the line; later ones change its status.
  void show(std::string_view status, std::string_view meeting_id, std::string_view title = {}) {
    if (progress_ == nullptr) return;
    if (shown_) {
      progress_->update(status);
    } else {
      progress_->begin(status, meeting_id, title);
      shown_ = true;
    }
  }

  void end() {
    if (shown_) progress_->end();
    shown_ = false;
  }

 private:
  Progress* progress_;
  bool shown_ = false;
};

// One app command; the app is started when needed unless --no-launch.
[[nodiscard]] inline Result<Json> call_app(const Context& ctx, std::string_view command,
                                           const Json& args, bool detach) {
  TRY_ASSIGN(auto result, ctx.app.call(command, args, detach, ctx.invocation.no_launch));
  return to_json(result.root());
}

// One app command with the detach marker from --detach; the result printed
// unchanged, straight from the reply's text.
[[nodiscard]] inline Done call_and_print(const Context& ctx, std::string_view command,
                                         const Json& args) {
  TRY_ASSIGN(auto result,
             ctx.app.call(command, args, ctx.invocation.detach, ctx.invocation.no_launch));
  print_json(ctx.out, result);
  return {};
}

}  // namespace murmela
