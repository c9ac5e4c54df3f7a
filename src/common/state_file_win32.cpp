#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/state_file.h"

namespace trident {

std::filesystem::path userStateFolder() {
  const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
  return local != nullptr ? std::filesystem::path(local) : std::filesystem::path();
}

std::optional<std::string> appendLine(const std::filesystem::path& file, std::string_view bytes) {
  // (A line left torn before is not looked for here.)
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  if (error) return "cannot make " + file.parent_path().string() + ": " + error.message();
  // FILE_APPEND_DATA alone: every write goes to the end of the file, as O_APPEND does.
  const HANDLE opened =
      ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    return "cannot open it (error " + std::to_string(::GetLastError()) + ")";
  }
  const std::unique_ptr<void, decltype(&::CloseHandle)> handle(opened, &::CloseHandle);
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(opened, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const DWORD failure = ::GetLastError();
  if (!ok) return "cannot write it (error " + std::to_string(failure) + ")";
  if (written != bytes.size()) return "only part of it written";
  return std::nullopt;
}

std::optional<std::string> writeWhole(const std::filesystem::path& file, std::string_view bytes,
                                      std::chrono::milliseconds) {
  // Plain blocking writes: named pipes have no readiness to wait on here.
  std::FILE* out = ::_wfopen(file.c_str(), L"wb");
  if (out == nullptr) return std::string("cannot open it");
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closing(out, &std::fclose);
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fflush(out) != 0) {
    return std::string("cannot write it");
  }
  return std::nullopt;
}

}  // namespace trident
