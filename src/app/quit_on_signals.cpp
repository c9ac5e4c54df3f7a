#include "quit_on_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#endif

namespace trident {

#ifdef Q_OS_UNIX

namespace {

int signalPipe[2] = {-1, -1};

void noteSignal(int signal) {
  // Only an async-signal-safe write here; the event loop does the rest.
  const auto byte = static_cast<char>(signal);
  [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

}  // namespace

void quitOnTerminationSignals() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier =
      new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    char signal = 0;
    [[maybe_unused]] const auto read = ::read(signalPipe[1], &signal, 1);
    // exit, not quit: quit asks the windows to close, and a window in the middle of programming
    // would ask the user instead, who sent the signal to end it.
    QCoreApplication::exit(128 + signal);
  });
  struct sigaction action = {};
  action.sa_handler = noteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // The terminal it was started from closing ends it as well, unless it was started to outlive
  // that terminal (nohup leaves HUP ignored).
  struct sigaction before = {};
  if (::sigaction(SIGHUP, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
    ::sigaction(SIGHUP, &action, nullptr);
}

#else

void quitOnTerminationSignals() {}

#endif

}  // namespace trident
