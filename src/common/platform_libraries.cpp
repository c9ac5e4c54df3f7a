#include "common/platform_libraries.h"

#include <curl/curl.h>

namespace trident {

PlatformLibraries::PlatformLibraries() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
}

PlatformLibraries::~PlatformLibraries() {
  curl_global_cleanup();
}

}  // namespace trident
