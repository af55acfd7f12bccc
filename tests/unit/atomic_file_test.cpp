#include "common/atomic_file.hpp"
#include "common/paths.hpp"

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "temp_dir.hpp"

using namespace murmela;
using testing_support::names_in;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

mode_t mode_of(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

TEST(WriteAtomically, ReplacesTheFileKeepingItsModeAndLeavesNothingBehind) {
  TempDir dir;
  dir.write("conf/mcp.json", "old");
  ::chmod((dir / "conf/mcp.json").c_str(), 0600);
  ASSERT_TRUE(write_atomically(dir / "conf/mcp.json", "new"));
  EXPECT_EQ(dir.read("conf/mcp.json"), "new");
  EXPECT_EQ(mode_of(dir / "conf/mcp.json"), 0600u);
  EXPECT_EQ(names_in(dir / "conf"), std::vector<std::string>{"mcp.json"});

  const mode_t old_mask = ::umask(022);
  ASSERT_TRUE(write_atomically(dir / "conf/fresh", "x"));
  ASSERT_TRUE(write_atomically(dir / "conf/private", "x", 0600));
  ::umask(old_mask);
  EXPECT_EQ(mode_of(dir / "conf/fresh"), 0644u);
  EXPECT_EQ(mode_of(dir / "conf/private"), 0600u);
}

TEST(WriteAtomically, ALinkedFileIsWrittenAtItsTargetAndStaysALink) {
  TempDir dir;
  dir.write("dotfiles/claude.json", "old");
  fs::create_symlink("dotfiles/claude.json", dir / "middle");
  fs::create_symlink(dir / "middle", dir / "claude.json");
  ASSERT_TRUE(write_atomically(dir / "claude.json", "new"));
  EXPECT_TRUE(fs::is_symlink(dir / "claude.json"));
  EXPECT_TRUE(fs::is_symlink(dir / "middle"));
  EXPECT_EQ(dir.read("dotfiles/claude.json"), "new");
  EXPECT_EQ(final_link_target(dir / "claude.json"), dir / "dotfiles/claude.json");
}

TEST(WriteAtomically, PlantedLinksAreNeverFollowed) {
  TempDir dir, elsewhere;
  dir.write("mcp.json", "{}");
  // Links under every name an older version or a guess could use.
  for (const char* name :
       {"mcp.murmela-tmp", ".mcp.json.murmela-tmp-", ".mcp.json.murmela-tmp-XXXXXX"}) {
    fs::create_symlink(elsewhere / name, dir / name);
  }
  ASSERT_TRUE(write_atomically(dir / "mcp.json", "{\"token\":\"secret\"}"));
  EXPECT_TRUE(names_in(elsewhere.path()).empty());
}

TEST(WriteAtomically, AFailedWriteSaysWhy) {
  TempDir dir;
  auto written = write_atomically(dir / "missing/file", "new");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(),
            "Cannot write " + dir / "missing/file" + ": No such file or directory (os error 2)");
}

TEST(RemoveStaleTemporaries, OnlyTheFilesOwnLeftovers) {
  TempDir dir;
  dir.write("config.toml", "a = 1");
  dir.write(".config.toml.murmela-tmp-a1B2c3", "half");
  dir.write(".config.toml.murmela-tmp-notsix7", "keep");
  dir.write(".other.murmela-tmp-a1B2c3", "keep");
  remove_stale_temporaries(dir / "config.toml");
  EXPECT_EQ(names_in(dir.path()),
            (std::vector<std::string>{".config.toml.murmela-tmp-notsix7",
                                      ".other.murmela-tmp-a1B2c3", "config.toml"}));
}

}  // namespace
