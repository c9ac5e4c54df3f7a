#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace trident {

// A folder of one run's own, which only its user may enter, removed with all it holds when its
// owner goes. It is made in the temporary folder: TMPDIR when a folder can be made there, else
// /tmp, as the C library's own temporary files fall back. Making it never throws: a TMPDIR that
// names nothing, or a plain file, must not end the program.
class WorkFolder {
 public:
  explicit WorkFolder(std::string_view prefix);
  ~WorkFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  // Empty when no folder could be made; then where() names the last place tried and reason()
  // says why it failed there.
  const std::filesystem::path& path() const { return path_; }
  const std::string& where() const { return where_; }
  const std::string& reason() const { return reason_; }

 private:
  std::filesystem::path path_;
  std::string where_;
  std::string reason_;
};

}  // namespace trident
