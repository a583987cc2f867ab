// The Wine prefix that is the "Windows machine" of the POSIX backend: where
// it is, its drives, and how a Windows path becomes a Unix path in it.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// $WINEPREFIX when set (absolute), else $HOME/.wine. Read once per process
// unless SetPrefixDirectory overrides it.
std::string PrefixDirectory();
// Chooses another prefix (the host's --prefix, a test's temporary prefix).
void SetPrefixDirectory(std::string directory);

// The Unix folder of drive letter (a-z, either case) from the prefix's
// dosdevices links; C: defaults to drive_c and Z: to "/" when no link exists.
// Empty when the drive does not exist.
std::string DriveRoot(char16_t letter);

// Result of mapping a Windows path.
struct UnixPath {
  std::string path;       // the Unix path; components not found are appended as given
  bool found = false;     // every component exists
  bool parentFound = false;  // every component but the last exists
};

// Maps "C:\dir\file" (also with "\\?\" or "\??\", "/" separators, "." and
// ".." components) to a Unix path: the drive through dosdevices, then each
// component by its exact name first and else by a case-insensitive match in
// its folder. A path without a drive is taken relative to the current folder.
UnixPath ToUnixPath(std::u16string_view windowsPath);

// A Unix path seen through Z: ("/tmp/a" -> "Z:\tmp\a").
std::u16string ToWindowsPath(std::string_view unixPath);

}  // namespace platform::posix
