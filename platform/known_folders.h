// The system's known folders (system folders, program folders), as the shell
// reports them to this process. On Windows the shell's own calls; on POSIX
// the folders Wine gives a 32-bit program in the prefix: a 64-bit prefix has
// "C:\windows\syswow64" and "C:\Program Files (x86)", and such a program sees
// the (x86) folders as its Program Files.
#pragma once

#include <string>

namespace platform {

// The folders asked for, by their CSIDL numbers.
constexpr int kCsidlSystem = 37;                 // C:\windows\system32
constexpr int kCsidlProgramFiles = 38;           // the process's Program Files
constexpr int kCsidlSystemX86 = 41;              // C:\windows\syswow64 on a 64-bit system
constexpr int kCsidlProgramFilesX86 = 42;        // C:\Program Files (x86) on a 64-bit system
constexpr int kCsidlProgramFilesCommon = 43;     // the process's Common Files
constexpr int kCsidlProgramFilesCommonX86 = 44;  // ...\Program Files (x86)\Common Files

// SHGetKnownFolderPath with KF_FLAG_DEFAULT_PATH for the known folder that
// corresponds to csidl (the six above). False (and an empty path) when the
// shell has no such call, csidl is not one of the six, or the call fails.
bool GetKnownFolderPath(int csidl, std::u16string* path);

// SHGetSpecialFolderPathW without a window and without creating the folder.
// False (and an empty path) when the call fails.
bool GetSpecialFolderPath(int csidl, std::u16string* path);

}  // namespace platform
