#include "common/platform.hpp"

#include <cerrno>
#include <optional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "temp_dir.hpp"

using namespace murmela;
using platform::Os;

namespace {

struct DataFolderCase {
  Os os;
  std::optional<std::string> home;
  std::optional<std::string> xdg_data_home;
  std::string folder;
};

TEST(Platform, AppDataFolder) {
  const std::vector<DataFolderCase> cases = {
      {Os::MacOs, "/Users/u", std::nullopt, "/Users/u/Library/Application Support/Murmela"},
      {Os::MacOs, "/Users/u/", std::nullopt, "/Users/u/Library/Application Support/Murmela"},
      // XDG_DATA_HOME means nothing on macOS.
      {Os::MacOs, "/Users/u", "/data", "/Users/u/Library/Application Support/Murmela"},
      {Os::MacOs, std::nullopt, std::nullopt, "Library/Application Support/Murmela"},
      {Os::MacOs, "", "/data", "Library/Application Support/Murmela"},
      {Os::Linux, "/home/u", std::nullopt, "/home/u/.local/share/Murmela"},
      {Os::Linux, "/home/u", "/data", "/data/Murmela"},
      {Os::Linux, "/home/u", "relative", "/home/u/.local/share/Murmela"},
      {Os::Linux, std::nullopt, std::nullopt, ".local/share/Murmela"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::app_data_folder(c.os, c.home, c.xdg_data_home), c.folder)
        << c.home.value_or("(unset)") << " " << c.xdg_data_home.value_or("(unset)");
  }
}

// Where opencode's folder (and Claude Desktop's, on Linux) goes.
TEST(Platform, ConfigFolderFollowsXdgConfigHomeOnLinuxOnly) {
  EXPECT_EQ(platform::config_folder(Os::MacOs, "/Users/u", std::nullopt), "/Users/u/.config");
  EXPECT_EQ(platform::config_folder(Os::MacOs, "/Users/u", "/elsewhere"), "/Users/u/.config");
  EXPECT_EQ(platform::config_folder(Os::Linux, "/home/u", std::nullopt), "/home/u/.config");
  EXPECT_EQ(platform::config_folder(Os::Linux, "/home/u", "/elsewhere"), "/elsewhere");
}

TEST(Platform, ClaudeDesktopFolder) {
  EXPECT_EQ(platform::claude_desktop_folder(Os::MacOs, "/Users/u", "/Users/u/.config"),
            "/Users/u/Library/Application Support/Claude");
  EXPECT_EQ(platform::claude_desktop_folder(Os::MacOs, "/Users/u/", "/elsewhere"),
            "/Users/u/Library/Application Support/Claude");
  EXPECT_EQ(platform::claude_desktop_folder(Os::Linux, "/home/u", "/elsewhere"),
            "/elsewhere/Claude");
}

// sun_path is 104 bytes on macOS and 108 on Linux, each with its NUL.
TEST(Platform, SocketPathLimit) {
  EXPECT_EQ(platform::max_socket_path_bytes(Os::MacOs), 103u);
  EXPECT_EQ(platform::max_socket_path_bytes(Os::Linux), 107u);
  EXPECT_EQ(platform::max_socket_path_bytes(), platform::max_socket_path_bytes(platform::kThisOs));
}

TEST(Platform, SyncToDiskReportsTheSystemsError) {
  testing_support::TempDir folder;
  const std::string path = folder.path() + "/file";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "x", 1), 1);
  EXPECT_EQ(platform::sync_to_disk(fd), 0);
  ::close(fd);
  EXPECT_EQ(platform::sync_to_disk(fd), EBADF);
}

}  // namespace
