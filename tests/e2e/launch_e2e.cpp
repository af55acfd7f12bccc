#include <filesystem>
#include <thread>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli_fixture.hpp"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// The CLI copied into a folder of its own, with whatever app the test puts
// beside it.
class Launch : public CliTest {
 protected:
  std::string folder = home / "Applications/Murmela";

  void SetUp() override {
    cli = copy_cli_to(folder);
    env["MURMELA_STAND_IN_STEP_MS"] = "50";
  }

  void TearDown() override {
    // Whatever was started is asked to quit, and the test asks until nothing
    // answers any more.
    run({"quit", "--no-launch"});
    bool gone = false;
    for (int i = 0; i < 3000 && !gone; ++i) {
      gone = run({"ping", "--no-launch"}).exit_code == 3;
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << "the started app is still running";
  }

  void put_stand_in(const std::string& name) { fs::copy_file(kStandInPath, folder + "/" + name); }

  void put_script(const std::string& name, const std::string& body) {
    home.write("Applications/Murmela/" + name, "#!/bin/sh\n" + body + "\n");
    ::chmod((folder + "/" + name).c_str(), 0755);
  }
};

TEST_F(Launch, StartsTheAppBesideTheCliAndResendsTheRequest) {
  put_stand_in("murmela");
  auto run = this->run({"status"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  auto status = nlohmann::json::parse(run.out);
  EXPECT_EQ(status["cli"], cli);
  EXPECT_EQ(status["state"], "idle");

  // It keeps running after the CLI has ended, for the next command.
  EXPECT_EQ(this->run({"ping", "--no-launch"}).exit_code, 0);
}

TEST_F(Launch, StartsItHiddenInAProcessGroupOfItsOwn) {
  // The app records how it was started, then becomes the stand-in.
  put_script(
      "murmela",
      "read -r pid comm state ppid pgrp rest < /proc/$$/stat\n"
      "fds=\"$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\"\n"
      "printf 'args=%s pid=%s pgrp=%s\\n%s\\n' \"$*\" $pid $pgrp \"$fds\" > \"$HOME/started.log\"\n"
      "exec " +
          kStandInPath + " \"$@\"");
  ASSERT_EQ(run({"ping"}).exit_code, 0);
  std::string log = home.read("started.log");
  const auto pid =
      log.substr(log.find("pid=") + 4, log.find(' ', log.find("pid=")) - log.find("pid=") - 4);
  EXPECT_TRUE(log.starts_with("args=--startup pid=")) << log;
  EXPECT_NE(log.find("pgrp=" + pid + "\n"), std::string::npos) << log;
  EXPECT_TRUE(log.ends_with("\n/dev/null\n/dev/null\n/dev/null\n")) << log;
}

TEST_F(Launch, PrefersCapitalisedName) {
  put_stand_in("Murmela");
  put_script("murmela", "exit 0");
  auto run = this->run({"ping"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
}

TEST_F(Launch, SkipsAFolderNamedLikeTheApp) {
  fs::create_directories(folder + "/Murmela");
  put_stand_in("murmela");
  auto run = this->run({"ping"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
}

TEST_F(Launch, NothingBesideTheCli) {
  auto run = this->run({"ping"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "error: Murmela is not running, and the app was not found beside " + folder + ".\n");
}

TEST_F(Launch, NoLaunchNeverStartsIt) {
  put_stand_in("murmela");
  auto run = this->run({"ping", "--no-launch"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_FALSE(fs::exists(socket_path()));
}

TEST_F(Launch, AnAppThatEndsAtOnceDoesNotServeTheCli) {
  put_script("murmela", "exit 0");
  auto run = this->run({"ping"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(
      run.err,
      "error: Murmela is running but does not accept CLI commands. Update Murmela, or quit and "
      "reopen it, then try again.\n");
}

// An app that fails before it answers is said to have ended, how, and
// where to see its reason: started by the CLI it has no terminal to say it on.
TEST_F(Launch, AnAppThatFailsBeforeAnsweringIsSaidToHaveEnded) {
  struct Case {
    std::string script;
    std::string how;
  };
  const std::vector<Case> cases = {
      {"echo 'murmela: cannot start' >&2; exit 1", "exit status 1"},
      {"exit 70", "exit status 70"},
      {"kill -9 $$", "killed by signal 9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    put_script("murmela", c.script);
    auto run = this->run({"ping"});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.err, "error: Murmela ended before it answered (" + c.how + "). Run " + folder +
                           "/murmela in a terminal to see why.\n");
  }
}

// The stand-in refuses to start on a library it cannot read: the CLI says it
// ended, and run by hand it says why.
TEST_F(Launch, AStandInThatRefusesItsLibraryIsSaidToHaveEnded) {
  put_stand_in("murmela");
  home.write(".local/share/Murmela/stand-in-library.json", "{\"meetings\": [");
  auto run = this->run({"ping"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.err, "error: Murmela ended before it answered (exit status 1). Run " + folder +
                         "/murmela in a terminal to see why.\n");
  auto by_hand = run_program(folder + "/murmela", {}, {env, "", home.path()});
  EXPECT_EQ(by_hand.exit_code, 1);
  EXPECT_NE(by_hand.err.find("stand-in-library.json"), std::string::npos) << by_hand.err;
}

TEST_F(Launch, AnAppThatCannotBeStarted) {
  home.write("Applications/Murmela/Murmela", "not a program");
  ::chmod((folder + "/Murmela").c_str(), 0644);
  auto run = this->run({"ping"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "error: Cannot start " + folder + "/Murmela: Permission denied (os error 13)\n");
}

TEST_F(Launch, AppErrorAfterStartIsAFailure) {
  put_stand_in("murmela");
  auto run = this->run({"invoke", "no_such_command"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "error: Unknown command `no_such_command`. Run `murmela-cli commands` to list them.\n");
}

TEST_F(Launch, StartedThroughALinkTheAppIsFoundBesideWhatTheLinkLeadsTo) {
  put_stand_in("murmela");
  fs::create_directories(home / ".local/bin");
  fs::create_symlink(cli, home / ".local/bin/murmela-cli");
  auto run = run_program(home / ".local/bin/murmela-cli", {"ping"}, {env, "", home.path()});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "{\n  \"pong\": true\n}\n");
}

// Relative links are taken against their own folders, hop by hop, to the
// CLI itself: the app is beside that, not beside a link on the way.
TEST_F(Launch, ThroughAChainOfRelativeLinksTheAppIsFoundBesideTheLastTarget) {
  put_stand_in("murmela");
  fs::create_directories(home / ".local/bin");
  fs::create_directories(home / "opt/murmela");
  fs::create_symlink("../../Applications/Murmela/murmela-cli", home / "opt/murmela/murmela-cli");
  fs::create_symlink("../../opt/murmela/murmela-cli", home / ".local/bin/murmela-cli");
  auto run = run_program(home / ".local/bin/murmela-cli", {"ping"}, {env, "", home.path()});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "{\n  \"pong\": true\n}\n");
}

TEST_F(Launch, ThroughALinkWithNoAppAnywhereTheLinksFolderIsNamed) {
  fs::create_directories(home / ".local/bin");
  fs::create_symlink(cli, home / ".local/bin/murmela-cli");
  auto run = run_program(home / ".local/bin/murmela-cli", {"ping"}, {env, "", home.path()});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.err, "error: Murmela is not running, and the app was not found beside " +
                         home / ".local/bin" + ".\n");
}

}  // namespace
