// The seven scanners, in the order a run calls them. Each takes the engine
// and returns, when counting (KeyCount), the entries a scan would visit, else
// the problems it counted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "platform/registry.h"

uint32_t ScanUninstallEntries(RegCleanerEngine* engine);
uint32_t ScanSharedDlls(RegCleanerEngine* engine);
uint32_t ScanFileTypes(RegCleanerEngine* engine);
uint32_t ScanExplorerFileExtensions(RegCleanerEngine* engine);
uint32_t ScanInstallerFolders(RegCleanerEngine* engine);
uint32_t ScanInstallerUserData(RegCleanerEngine* engine);
uint32_t ScanInprocServers(RegCleanerEngine* engine);

using Scanner = uint32_t (*)(RegCleanerEngine* engine);
inline constexpr Scanner kScanners[] = {
    ScanUninstallEntries, ScanSharedDlls,        ScanFileTypes,     ScanExplorerFileExtensions,
    ScanInstallerFolders, ScanInstallerUserData, ScanInprocServers,
};

// The program path an uninstall command starts with: from the drive letter
// of its first ":\\" up to a second drive path (not for a rundll32 command,
// whose library may be that second path), cut behind ".exe," or ".dll,"
// and before " ,". Empty when the command names no drive path.
std::u16string FirstUninstallPath(std::u16string_view command);

// The Explorer extension checks: kExtEntryValid when some listed program or
// class is usable, kExtEntryInvalid when some was tested and is not; 0 when
// nothing was tested. CheckFileExtEntry tries "OpenWithList",
// "OpenWithProgids" and "UserChoice" in that order and stops at the first
// usable item; the others take the open list key.
constexpr uint32_t kExtEntryValid = 0x1;
constexpr uint32_t kExtEntryInvalid = 0x2;
uint32_t CheckFileExtEntry(platform::HKey root, uint32_t sam, std::u16string_view extensionPath);
uint32_t CheckMruList(platform::HKey key, uint32_t sam);
uint32_t CheckOpenWithProgids(platform::HKey key, uint32_t sam);
uint32_t CheckUserChoice(platform::HKey key, uint32_t sam);
