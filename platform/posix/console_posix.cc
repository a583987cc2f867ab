#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <initializer_list>

#include "platform/console.h"

namespace platform {
namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int signal) {
  if (g_interrupted) {
    // The second Ctrl-C: the default action, ending the process.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    return;
  }
  g_interrupted = 1;
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  return ::isatty(stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

int TerminalColumns() {
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct winsize size;
    if (::isatty(fd) == 1 && ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
      return size.ws_col;
    }
  }
  return 0;
}

void CatchInterrupt() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A SIGTERM (a shutdown, a service manager, kill) asks for the same
  // orderly stop as Ctrl-C: the entry in hand is finished and saved.
  for (int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

bool InterruptRequested() { return g_interrupted != 0; }

}  // namespace platform
