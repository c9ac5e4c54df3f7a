#pragma once

namespace trident {

// The process-wide set-up of libcurl that a program does once in main(), ended when it goes out of
// scope. (The HID library is started and ended by its backend, which the HID thread owns.)
class PlatformLibraries {
 public:
  PlatformLibraries();
  ~PlatformLibraries();
  PlatformLibraries(const PlatformLibraries&) = delete;
  PlatformLibraries& operator=(const PlatformLibraries&) = delete;
};

}  // namespace trident
