#include <random>

#include "common/work_folder.h"

namespace trident {

// The folder the system names (TMP, TEMP, else the user's own); its files are the user's alone.
WorkFolder::WorkFolder(std::string_view prefix) {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  where_ = dir.string();
  if (ec) {
    reason_ = ec.message();
    return;
  }
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate = dir / (std::string(prefix) + "." + std::to_string(random()));
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
    if (ec) {
      reason_ = ec.message();
      return;
    }
  }
  reason_ = "every name tried was taken";
}

}  // namespace trident
