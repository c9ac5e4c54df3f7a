#include "common/platform_libraries.h"

#include <curl/curl.h>
#include <hidapi.h>

namespace trident {

PlatformLibraries::PlatformLibraries(bool useHidapi) : hidapi_(useHidapi) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  // hidapi itself is started by its backend, which can say in the log why it would not start.
}

PlatformLibraries::~PlatformLibraries() {
  if (hidapi_) hid_exit();
  curl_global_cleanup();
}

}  // namespace trident
