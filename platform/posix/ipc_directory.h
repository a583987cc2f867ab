// The private folder that holds the channel sockets of this user on POSIX:
// "$XDG_RUNTIME_DIR/regclean" when that variable names an absolute folder,
// else "/tmp/regclean-<uid>". It must be a real folder (not a link), owned by
// the effective user, with no access for group or others.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// The folder in use (not checked).
std::string IpcDirectory();
// Chooses another folder (tests); empty goes back to the default.
void SetIpcDirectory(std::string directory);
// Creates the folder when missing and checks that it is private. False, with
// the reason in *error, when it cannot be used.
bool EnsureIpcDirectory(std::string* error);
// Removes the file at path when nobody holds an flock on it, taking the lock
// itself while it removes it (so that a holder arriving meanwhile keeps a
// file of its own). True when it removed the file.
bool RemoveUnheldFile(const std::string& path);
// Removes what ended processes left in the folder: channel locks and sockets
// no listener holds, mutex files no holder holds.
void SweepIpcDirectory();
// "<folder>/<16 hex digits>": a path in the folder for name, scoped to the
// current Wine prefix (no ending; callers add their own).
std::string PrefixScopedPath(std::u16string_view name);

}  // namespace platform::posix
