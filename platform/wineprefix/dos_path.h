// Rules of Windows ("DOS") paths that need no system call: the full path of
// a path against a current folder, legal 8.3 names, and the hashed short
// names that Wine gives to files whose names are not 8.3. Pure code: the
// POSIX backend builds on it, and tests compare it with the real calls.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// "\" or "/".
inline bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The path as GetFullPathNameW makes it in Wine, with currentDirectory (a
// full path, "C:\dir" or "\\server\share\dir") as the current folder: "/"
// becomes "\", empty and "." components vanish, ".." removes the one before
// it but never the root, a folder name loses one trailing dot, the path loses
// trailing dots and blanks, and a trailing separator stays. A drive-relative
// "D:x" is taken against currentDirectory when that is on D:, else against
// "D:\". After a "\\?\" or "\\.\" prefix everything is a component (the
// drive too). Empty for an empty path.
std::u16string FullPathName(std::u16string_view path, std::u16string_view currentDirectory);

// What FullPathName does with a path: kCollapse, it rewrites it (or needs
// the current folder); otherwise a drive path ("C:\dir\file") comes back as
// it is, kClean, or kBadCharacter when after "C:\" it holds a character
// that no name may hold (" * < > ? |).
enum class PathForm { kCollapse, kClean, kBadCharacter };
PathForm DrivePathForm(std::u16string_view path);

// The drive ("C:") or UNC root ("\\server\share") that begins a full path;
// empty when there is none.
std::u16string PathRoot(std::u16string_view fullPath);

// name is a valid 8.3 name: at most 8 characters, optionally a dot and 1 to 3
// more, ASCII only, none of * ? < > | " + = , ; [ ] : / \ or blank; "." and
// ".." count as valid.
bool IsLegal8Dot3Name(std::u16string_view name);

// The short name Wine (8.0) gives a file whose long name is not 8.3: up to
// four characters of the name (those a short name cannot hold, dots too,
// become "_"), "~" padding to five, three characters of a hash of the whole
// name folded to small letters, and up to three characters of the extension,
// in capitals: "Program Files" gives "PROG~FBU", ".bashrc" "_BAS~0WR". Empty
// for an empty name. Meant for names that IsLegal8Dot3Name rejects.
std::u16string HashShortFileName(std::u16string_view longName);

}  // namespace platform
