#include <stdlib.h>

#include <cerrno>
#include <cstring>

#include "common/work_folder.h"

namespace trident {

WorkFolder::WorkFolder(std::string_view prefix) {
  const char* tmpdir = std::getenv("TMPDIR");
  for (const std::string& dir :
       {std::string(tmpdir != nullptr ? tmpdir : ""), std::string("/tmp")}) {
    if (dir.empty()) continue;
    // mkdtemp makes it with mode 0700 under a name nobody else can have taken.
    std::string pattern = dir + "/" + std::string(prefix) + ".XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
      return;
    }
    where_ = dir;
    reason_ = std::strerror(errno);
  }
}

}  // namespace trident
