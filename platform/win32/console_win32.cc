#include <initializer_list>

#include "platform/console.h"
#include "platform/win32/win32.h"

namespace platform {
namespace {

volatile LONG g_interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  // The second Ctrl-C goes on to the default handler, which ends the process.
  return InterlockedExchange(&g_interrupted, 1) == 0 ? TRUE : FALSE;
}

HANDLE StreamHandle(StandardStream stream) {
  return ::GetStdHandle(stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(StreamHandle(stream), &mode) != 0;
}

int TerminalColumns() {
  for (StandardStream stream : {StandardStream::kOutput, StandardStream::kError}) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(StreamHandle(stream), &info)) {
      return info.srWindow.Right - info.srWindow.Left + 1;
    }
  }
  return 0;
}

void CatchInterrupt() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool InterruptRequested() { return g_interrupted != 0; }

}  // namespace platform
