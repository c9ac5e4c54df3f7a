#pragma once

namespace trident {

// The process-wide set-up of libcurl that a program does once in main(), and the end of libcurl and
// hidapi when it goes out of scope (hidapi's backend starts it). hidapi is left alone when only
// virtual boards are used.
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
