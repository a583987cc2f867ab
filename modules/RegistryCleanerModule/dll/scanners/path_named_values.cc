// The two scanners of values named by paths. Shared DLL reference counters:
// every value below "SharedDlls" is named by the path of a shared file.
// Installer folders: every value below "Installer\Folders" is named by a
// folder that an installation created. A value whose file or folder no longer
// exists (in either file-system view) is a problem; its data plays no part.
#include <array>
#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/exclusion.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/problem_handling.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"

namespace {

const ScanRoot kSharedDllRoots[] = {
    {platform::kHkeyLocalMachine, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls", 1},
    {platform::kHkeyLocalMachine,
     u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDlls", 0},
    {platform::kNullKey, nullptr, 0},
};

const ScanRoot kInstallerFolderRoots[] = {
    {platform::kHkeyLocalMachine,
     u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders", 1},
    {platform::kHkeyLocalMachine,
     u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders", 0},
    {platform::kNullKey, nullptr, 0},
};

constexpr uint32_t kNameChars = 4096;
constexpr uint32_t kDataChars = 2048;
// Names of this many characters or fewer cannot be a path worth testing.
constexpr uint32_t kShortestName = 4;

// keyLine: how the first problem under a root names the root's key.
void ScanRootValues(RegCleanerEngine* engine, ScannerFrame* frame, uint32_t rootIndex,
                    const ScanRoot& scanRoot, const char* keyLine) {
  platform::RegKeyInfo info;
  const platform::HKey key =
      frame->OpenRoot(scanRoot, frame->writeMask(), ScannerFrame::Counts::kValues, &info);
  if (key == platform::kNullKey) return;
  platform::Registry* registry = EngineRegistry();

  std::array<char16_t, kDataChars> fixedData;
  std::vector<char16_t> largeData;
  char16_t* data = fixedData.data();
  uint32_t dataChars = kDataChars;
  if (info.maxValueLen / 2 + 1 > kDataChars) {
    dataChars = info.maxValueLen / 2 + 1;
    largeData.resize(dataChars);
    data = largeData.data();
  }
  std::array<char16_t, kNameChars> name;
  const bool want64 = scanRoot.view == 1;

  for (uint32_t index = info.values; index-- > 0;) {
    if (ScannerFrame::Stopped()) break;
    frame->Visit();
    uint32_t nameChars = kNameChars;
    uint32_t dataBytes = dataChars * 2;
    uint32_t type = 0;
    const uint32_t result = registry->RegEnumValueW(key, index, name.data(), &nameChars, &type,
                                                    reinterpret_cast<uint8_t*>(data), &dataBytes);
    if (result == platform::kRegNoMoreItems) break;
    if (result != 0 || nameChars <= kShortestName) continue;
    const std::u16string_view valueName(name.data(), nameChars);
    if (ClassifyPath(valueName) == 0) continue;
    // Only whether it is there counts: its long name is not asked for.
    std::u16string probe(valueName);
    if (FileExistsResolved(&probe, 0, want64) != 0) continue;
    if (ScannerFrame::Stopped()) break;
    if (IsExcluded(engine, scanRoot.root, scanRoot.path, valueName) != 0) continue;

    frame->LogKeyLine(rootIndex, scanRoot.root, scanRoot.path, u"", ScannerFrame::ShortLine::kNone,
                      keyLine);
    ScannerFrame::LogMissing(valueName);
    frame->ValueProblem(scanRoot.root, scanRoot.path, key, valueName,
                        reinterpret_cast<const uint8_t*>(data), dataBytes, type);
  }
  registry->RegCloseKey(key);
}

uint32_t ScanPathNamedValues(RegCleanerEngine* engine, const char16_t* category,
                             const ScanRoot* roots, const char* keyLine) {
  ScannerFrame frame(engine, category, true);
  return frame.Run(roots, [&](uint32_t i, const ScanRoot& root) {
    ScanRootValues(engine, &frame, i, root, keyLine);
  });
}

}  // namespace

uint32_t ScanSharedDlls(RegCleanerEngine* engine) {
  return ScanPathNamedValues(engine, kSharedDllCategory, kSharedDllRoots, "Key: ");
}

uint32_t ScanInstallerFolders(RegCleanerEngine* engine) {
  return ScanPathNamedValues(engine, kInstallerFolderCategory, kInstallerFolderRoots, "in Key: ");
}
