#pragma once

namespace trident {

// Makes SIGINT, SIGTERM and SIGHUP (unless ignored) end the event loop (exit status 128 + the
// signal), so that the run's folder and the HID link are cleaned up on the way out (a terminal's
// Ctrl-C, a session's logout). Call once, after the QApplication exists. Does nothing where there
// are no such signals.
void quitOnTerminationSignals();

}  // namespace trident
