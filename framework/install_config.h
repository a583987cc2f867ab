// The installation settings file "install.cfg" of the suite, looked for
// beside the host program first and then beside and above this library.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/system.h"

// The value of key in section of the installation settings file, or
// defaultValue. The file is "install.cfg" in the host program's folder when
// it exists; otherwise in this library's folder, one folder higher, or two
// folders higher (taken whether it exists or not). reread drops the reader's
// cached copy of the file first.
std::u16string ReadInstallConfig(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue, bool reread,
                                 platform::System* system = platform::System::Default(),
                                 platform::FileSystem* fs = platform::FileSystem::Default());

// The file ReadInstallConfig reads.
std::u16string InstallConfigFile(platform::System* system = platform::System::Default(),
                                 platform::FileSystem* fs = platform::FileSystem::Default());

// The content folder a setting such as "UserContentPath" names, as modules
// take it: one trailing backslash dropped, made absolute against the current
// folder, one trailing backslash added ("NULL" gives a folder named NULL
// below the current folder).
std::u16string ContentFolderPath(std::u16string_view configured,
                                 platform::FileSystem* fs = platform::FileSystem::Default());

// The folder "UserContentPath" of section "install" of the engine's settings
// file names, as the engine takes it: read by the system's private-profile
// reader (no escapes: "C:\temp\new" stays as written), "NULL" when unset, at
// most 1024 characters, made absolute by ContentFolderPath. The settings
// file is InstallConfigPath's for this library, or with moduleFile that of
// the library at moduleFile (a host finds the module's folder so).
std::u16string UserContentFolder(std::u16string_view moduleFile = {},
                                 platform::System* system = platform::System::Default(),
                                 platform::FileSystem* fs = platform::FileSystem::Default());

// The engine's settings file for the library at moduleFile, not remembered;
// the rule of InstallConfigPath.
std::u16string InstallConfigPathFor(std::u16string_view moduleFile,
                                    platform::System* system = platform::System::Default(),
                                    platform::FileSystem* fs = platform::FileSystem::Default());

// The engine's settings file, chosen once per process: "Install.cfg" in the
// host's folder when it has a non-empty "Language" in section "Install";
// else the same test in this library's folder and one folder higher; else
// the name two folders higher, whether it exists or not. Long form.
std::u16string InstallConfigPath(platform::System* system = platform::System::Default(),
                                 platform::FileSystem* fs = platform::FileSystem::Default());
// Forgets the chosen path (for tests that move the files).
void ResetInstallConfigPath();
// Chooses the file for the rest of the process (until a reset): for a
// program that keeps the suite's settings elsewhere, and for tests.
void SetInstallConfigPath(std::u16string path);
