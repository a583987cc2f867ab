// The console a command-line program runs in: whether its output goes to a
// terminal, how wide that is, and Ctrl-C.
#pragma once

namespace platform {

enum class StandardStream { kOutput, kError };

// True when the stream is a terminal (a console on Windows), not a file or
// a pipe.
bool IsTerminal(StandardStream stream);

// The width in columns of the terminal the program writes to; 0 when no
// stream is a terminal or its width is unknown.
int TerminalColumns();

// From the call on, the first Ctrl-C (on POSIX also the first SIGTERM) only
// sets the flag InterruptRequested reads, so that the program can stop its
// work in order; a second one ends the process as the signal does by
// default.
void CatchInterrupt();
bool InterruptRequested();

}  // namespace platform
