// The system folders that path resolution rewrites paths between: the folder
// set of a 64-bit system (System32, SysWOW64 and Sysnative; Program Files and
// Program Files (x86); their Common Files), the Windows folder, the .NET
// Framework folder and the full path of rundll32.
#pragma once

#include <string>

#include "platform/file_system.h"

// The platform facts path resolution depends on. The module works them out
// once at start-up (is the system 64-bit, does this 32-bit module run under
// WOW64, which system level it is) and hands them over.
struct ResolverFacts {
  bool is64BitOs = false;
  bool isWow64 = false;
  int osLevel = 0;
};

struct WindowsFolders {
  // The folder set, filled on a 64-bit system only; each folder ends with a
  // backslash, and one that cannot be found stays empty (it then matches no
  // path). Under WOW64 the native system folder is reached as Sysnative, and
  // the native Program Files folders lose the " (x86)" that the system adds
  // for a 32-bit process.
  std::u16string nativeSystemDir;
  std::u16string systemDir;
  std::u16string systemX86Dir;
  std::u16string programFilesDir;
  std::u16string programFilesX86Dir;
  std::u16string commonFilesDir;
  std::u16string commonFilesX86Dir;

  std::u16string systemRootDir;         // %SystemRoot% and a backslash ("C:\windows\")
  std::u16string frameworkDir;          // systemRootDir + "Microsoft.NET\Framework"
  std::u16string expandedRundll32Path;  // "%SystemRoot%\System32\rundll32.exe" expanded
  std::u16string systemDirectory;       // the system folder (GetSystemDirectoryW)
};

// A known folder by its CSIDL (platform/known_folders.h): from 6.0 on (osLevel
// above 2) the shell's known-folder call with the default path, else, or when
// that gives nothing, the older special-folder call. Empty when both fail.
std::u16string KnownFolderPath(int csidl, int osLevel);

// Looks every folder up once, for a machine with the given facts.
WindowsFolders LoadWindowsFolders(const ResolverFacts& facts, platform::FileSystem* fs);

// The folder that holds the native system's libraries, without a trailing
// backslash: the system folder on a 32-bit system, Sysnative under WOW64,
// else System32.
std::u16string NativeSystemFolder(const WindowsFolders& folders, const ResolverFacts& facts);
