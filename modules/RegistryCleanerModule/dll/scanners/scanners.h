// The seven scanners, in the order a run calls them. Each takes the engine
// and returns, when counting (KeyCount), the entries a scan would visit, else
// the problems it counted.
#pragma once

#include <cstdint>

#include "modules/RegistryCleanerModule/dll/engine_state.h"

uint32_t ScanUninstallEntries(RegCleanerEngine* engine);
uint32_t ScanSharedDlls(RegCleanerEngine* engine);
uint32_t ScanFileTypes(RegCleanerEngine* engine);
uint32_t ScanExplorerFileExtensions(RegCleanerEngine* engine);
uint32_t ScanInstallerFolders(RegCleanerEngine* engine);
uint32_t ScanInstallerUserData(RegCleanerEngine* engine);
uint32_t ScanInprocServers(RegCleanerEngine* engine);

using Scanner = uint32_t (*)(RegCleanerEngine* engine);
inline constexpr Scanner kScanners[] = {
    ScanUninstallEntries,  ScanSharedDlls,         ScanFileTypes,     ScanExplorerFileExtensions,
    ScanInstallerFolders, ScanInstallerUserData, ScanInprocServers,
};
