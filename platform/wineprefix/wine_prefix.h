// The Wine prefix that is the "Windows machine" of the POSIX backend: where
// it is, its drives, and how a Windows path becomes a Unix path in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::posix {

// $WINEPREFIX when set (absolute), else $HOME/.wine. Read once per process
// unless SetPrefixDirectory overrides it.
std::string PrefixDirectory();
// Chooses another prefix (the host's --prefix, a test's temporary prefix).
void SetPrefixDirectory(std::string directory);

// The Unix folder of drive letter (a-z, either case): the target of the
// prefix's dosdevices/<letter>: link (relative targets are taken from
// dosdevices). Without such an entry C: is drive_c and Z: is "/". Entries
// such as "d::" are raw devices, not drives. Empty when the drive does not
// exist or its folder is gone.
std::string DriveRoot(char16_t letter);
// The same, appended to out (nothing when the drive is not there).
void AppendDriveRoot(char16_t letter, std::string* out);

// The drives that exist, bit 0 for A: up to bit 25 for Z:, as
// GetLogicalDrives reports them.
uint32_t DriveMask();

// Result of mapping a Windows path.
struct UnixPath {
  std::string path;          // the Unix path; components not found are appended as given
  bool found = false;        // every component exists
  bool parentFound = false;  // every component but the last exists
  uint32_t mode = 0;         // st_mode of what was found when the lookup saw it; 0 unknown
  // Not found, and the lookup cannot tell whether it exists: the errno that
  // stopped it (EACCES, EIO, ELOOP, ENAMETOOLONG ...), or ENODEV when the
  // drive or share is not there (a missing or dangling drive link, an empty
  // mount point, an unreachable UNC share). 0 when the answer is certain.
  int error = 0;
};

// Maps "C:\dir\file" (also with "\\?\" or "\??\", "/" separators, "." and
// ".." components, or relative to the current folder) to a Unix path: the
// drive through dosdevices, then each component by its exact name first,
// else by the first entry of its folder that equals it ignoring case, else by
// the entry whose hashed short name it is. "C:\windows\sysnative" is
// system32. A UNC path "\\server\share\rest" is looked up below the
// prefix's dosdevices/unc/<server>/<share>, as Wine does. A path with a
// character no Windows name can hold (" * < > ? |), or a name longer than
// 255 characters, is not found.
UnixPath ToUnixPath(std::u16string_view windowsPath);

// A lookup round: the lookups that answer one question (every reading of
// one path) on this thread. Within it, a folder whose kept listing was seen
// unchanged answers the round's later lookups below it without another
// stat: a file that exists throughout the round is in that listing. Rounds
// nest; the outermost one's end ends it.
void BeginLookupRound();
void EndLookupRound();

// How long a folder must have stayed unchanged before a listing of it is
// kept for case-insensitive lookups (0: never kept, as on network file
// systems), and how many listings are kept now. For tests.
int64_t ListingSettleNanoseconds(const std::string& folder);
size_t KeptListingCount();
// How many times a kept listing answered without a stat, its folder's way
// being watched (tests).
size_t ChainedAnswerCount();
// Forgets every kept listing and its watches, without touching the watches
// themselves (a forked child shares them with its parent). For tests.
void ForgetKeptListings();
// How many folder listings have been read so far. For tests.
size_t FolderReadCount();

// A Unix path seen through Z: ("/tmp/a" -> "Z:\tmp\a"); a relative one is
// made absolute against the current folder first.
std::u16string ToWindowsPath(std::string_view unixPath);

// The process's current folder, seen through Z:.
std::u16string CurrentDirectory();

}  // namespace platform::posix
