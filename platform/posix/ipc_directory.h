// The private folder that holds the channel sockets of this user on POSIX:
// "$XDG_RUNTIME_DIR/regclean" when that variable names an absolute folder,
// else "/tmp/regclean-<uid>". It must be a real folder (not a link), owned by
// the effective user, with no access for group or others.
#pragma once

#include <string>

namespace platform::posix {

// The folder in use (not checked).
std::string IpcDirectory();
// Chooses another folder (tests); empty goes back to the default.
void SetIpcDirectory(std::string directory);

}  // namespace platform::posix
