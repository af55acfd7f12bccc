#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under /tmp, removed with everything in it at the end. Paths
// stay short so that socket paths inside fit `sun_path`.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  // Writes `text` to `relative`, creating parent folders.
  std::string write(const std::string& relative, const std::string& text) const;
  std::string read(const std::string& relative) const;
  std::string mkdir(const std::string& relative) const;

 private:
  std::string path_;
};

std::string read_file_text(const std::string& path);

// The names in a folder, sorted.
std::vector<std::string> names_in(const std::string& folder);

}  // namespace testing_support
