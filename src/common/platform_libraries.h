#pragma once

namespace trident {

// The process-wide set-up of libcurl and hidapi that a program does once in main(), undone when
// it goes out of scope. hidapi is left alone when only virtual boards are used.
class PlatformLibraries {
 public:
  explicit PlatformLibraries(bool useHidapi);
  ~PlatformLibraries();
  PlatformLibraries(const PlatformLibraries&) = delete;
  PlatformLibraries& operator=(const PlatformLibraries&) = delete;

 private:
  bool hidapi_;
};

}  // namespace trident
