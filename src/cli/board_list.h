#pragma once

#include <cstdio>

#include "cli/flash_options.h"
#include "hid/hid_backend.h"

namespace trident {

// trident-flash --list: the bootloaders plugged in now that the options choose, each with its
// path, serial number and whether it can be opened, as a table or (--json) JSON Lines on `out`.
// Each is opened only to learn that and closed at once: nothing is written to a board, so one
// that waits for another program, or for the next run, is left as it was. Returns the exit
// status: 0, bootloaders or none; 2 when the HID library cannot start.
int listBootloaders(HidBackend& backend, const FlashOptions& options, std::FILE* out);

}  // namespace trident
