#pragma once

#include <cstdint>
#include <string_view>

namespace trident {

// Where the update stands. Single-bit values, assigned, never combined.
enum UpdateStatus : uint32_t {
  STATUS_PEND_UPDATE = 4,
  STATUS_WAIT_CHECKSUM = 8,
  STATUS_PRE_UPDATE = 16,
  STATUS_WAIT_GET_DUNNO_DEVICE_FWVER = 64,
  STATUS_ERROR = 128,
  STATUS_DONE = 256,
  STATUS_DEVICE_REMOVED = 512,
  STATUS_WAIT_DOWNLOAD_HEX = 1024,
  STATUS_DOWNLOAD_HEX_SUCCESS = 2048,
};

// The update has ended; only "Close" leads on.
constexpr bool isFinalStatus(uint32_t status) {
  return status == STATUS_ERROR || status == STATUS_DONE || status == STATUS_DEVICE_REMOVED;
}

constexpr std::string_view statusName(uint32_t status) {
  switch (status) {
    case STATUS_PEND_UPDATE:
      return "STATUS_PEND_UPDATE";
    case STATUS_WAIT_CHECKSUM:
      return "STATUS_WAIT_CHECKSUM";
    case STATUS_PRE_UPDATE:
      return "STATUS_PRE_UPDATE";
    case STATUS_WAIT_GET_DUNNO_DEVICE_FWVER:
      return "STATUS_WAIT_GET_DUNNO_DEVICE_FWVER";
    case STATUS_ERROR:
      return "STATUS_ERROR";
    case STATUS_DONE:
      return "STATUS_DONE";
    case STATUS_DEVICE_REMOVED:
      return "STATUS_DEVICE_REMOVED";
    case STATUS_WAIT_DOWNLOAD_HEX:
      return "STATUS_WAIT_DOWNLOAD_HEX";
    case STATUS_DOWNLOAD_HEX_SUCCESS:
      return "STATUS_DOWNLOAD_HEX_SUCCESS";
    default:
      return "STATUS_UNKNOWN";
  }
}

}  // namespace trident
