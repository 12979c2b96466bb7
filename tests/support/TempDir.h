#pragma once
// A fresh folder under the temporary directory, removed with everything in
// it when the object goes.

#include <stdlib.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>

namespace tav::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrilox-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    path_ = made != nullptr ? made : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::size_t EntryCount() const {
    using std::filesystem::directory_iterator;
    return static_cast<std::size_t>(std::distance(directory_iterator(path_), directory_iterator()));
  }

 private:
  std::string path_;
};

}  // namespace tav::test
