// The stand-in against the app commands the CLI sends
// (app_link/app_commands.hpp): each has a handler here, which lists the keys
// the CLI sends it. A row added there for a new command fails this until the
// stand-in answers it.

#include "app_link/app_commands.hpp"

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "app.hpp"
#include "temp_dir.hpp"

namespace stand_in {
namespace {

TEST(AppCommands, EveryCommandTheCliSendsIsAnswered) {
  testing_support::TempDir folder;
  App app(folder.path(), folder / "cli.sock", kManualSteps, std::nullopt, "");
  const Json listed = App::command_list_json();

  for (const murmela::AppCommand& command : murmela::kAppCommands) {
    const std::string name(command.name);
    // Empty arguments: a handler refuses them in its own words, and detached,
    // a job command answers without waiting for its job.
    const Answer answer = app.handle(name, Json::object(), true);
    EXPECT_TRUE(answer || !answer.error().starts_with("Unknown command"))
        << "the stand-in has no handler for `" << name << "`";

    const auto entry =
        std::ranges::find(listed, Json(name), [](const Json& e) { return e["name"]; });
    if (entry == listed.end()) continue;
    for (const std::string_view key : command.arguments()) {
      EXPECT_NE(std::ranges::find((*entry)["args"], Json(std::string(key))), (*entry)["args"].end())
          << "`commands` does not list `" << key << "` for `" << name << "`";
    }
  }
}

}  // namespace
}  // namespace stand_in
