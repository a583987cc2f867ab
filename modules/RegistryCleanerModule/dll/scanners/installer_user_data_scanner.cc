// Windows Installer components of every user: below a user's "Components"
// each component key holds one value per product, whose data is the path of
// the component's key file. When that file is gone, the whole component key
// is a problem.
#include <array>
#include <string>

#include "modules/RegistryCleanerModule/dll/exclusion.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"

namespace {

const ScanRoot kUserDataRoots[] = {
    {platform::kHkeyLocalMachine,
     u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData", 1},
    {platform::kHkeyLocalMachine,
     u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData", 0},
    {platform::kNullKey, nullptr, 0},
};

constexpr uint32_t kNameChars = 4096;
constexpr uint32_t kDataBytes = 8192;
constexpr uint32_t kShortestData = 4;  // bytes; the data must be longer

// An open key that closes itself.
class OpenKey {
 public:
  OpenKey(platform::HKey root, std::u16string_view path, uint32_t sam) {
    if (EngineRegistry()->RegOpenKeyExW(root, path, 0, sam, &key_) != 0) key_ = platform::kNullKey;
  }
  ~OpenKey() {
    if (key_ != platform::kNullKey) EngineRegistry()->RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  // The key's information; false when it did not open or cannot be queried.
  bool Query(platform::RegKeyInfo* info) const {
    return key_ != platform::kNullKey && EngineRegistry()->RegQueryInfoKeyW(key_, info) == 0;
  }
  platform::HKey get() const { return key_; }

 private:
  platform::HKey key_ = platform::kNullKey;
};

// The values of one component key; each names a product's key file.
void ScanComponent(RegCleanerEngine* engine, ScannerFrame* frame, uint32_t rootIndex,
                   const ScanRoot& scanRoot, const std::u16string& componentPath) {
  OpenKey component(scanRoot.root, componentPath, frame->readMask());
  platform::RegKeyInfo info;
  if (!component.Query(&info)) return;
  platform::Registry* registry = EngineRegistry();
  std::array<char16_t, kNameChars> name;
  std::array<char16_t, kDataBytes / 2 + 1> data;
  // The component is handed over for deletion (BackupAndClean deletes it
  // with its batch, later): its other values are counted but not tested, as
  // after a deletion at once.
  bool handedOver = false;
  for (uint32_t index = info.values; index-- > 0;) {
    if (ScannerFrame::Stopped()) break;
    frame->Count();
    if (handedOver) continue;
    uint32_t nameChars = kNameChars;
    uint32_t type = 0;
    // After the key was deleted (Clean), this fails for every value left.
    if (registry->RegEnumValueW(component.get(), index, name.data(), &nameChars, &type, nullptr,
                                nullptr) != 0)
      continue;
    if (ExpandEnvInPlace(name.data(), kNameChars, type) != platform::kRegSz || name[0] == 0)
      continue;
    uint32_t dataBytes = kDataBytes;
    if (registry->RegQueryValueExW(component.get(), name.data(), &type,
                                   reinterpret_cast<uint8_t*>(data.data()), &dataBytes) != 0)
      continue;
    EndTextAfterData(data.data(), static_cast<uint32_t>(data.size()), dataBytes);
    if (dataBytes <= kShortestData || data[0] == 0) continue;
    if (type != platform::kRegSz && type != platform::kRegExpandSz) continue;
    // "NN:\..." names a registry key, not a file: ClassifyPath skips it.
    std::u16string path(data.data());
    if (ClassifyPath(path) == 0) continue;
    if (FileExistsResolved(&path, 0, scanRoot.view == 1) != 0) continue;
    if (ScannerFrame::Stopped()) break;
    if (IsExcluded(engine, scanRoot.root, componentPath, u"") != 0) continue;

    frame->LogKeyLine(rootIndex, scanRoot.root, componentPath, name.data(),
                      ScannerFrame::ShortLine::kDot);
    ScannerFrame::LogMissing(path);
    // Scan and Backup leave the key, so a component with several missing
    // files counts once for each.
    frame->KeyProblem(scanRoot.root, componentPath);
    handedOver = frame->mode() == BackupAndClean;
  }
}

void ScanUsers(RegCleanerEngine* engine, ScannerFrame* frame, uint32_t rootIndex,
               const ScanRoot& scanRoot) {
  OpenKey users(scanRoot.root, scanRoot.path, frame->readMask());
  platform::RegKeyInfo info;
  if (!users.Query(&info)) return;
  platform::Registry* registry = EngineRegistry();
  std::array<char16_t, kNameChars> name;
  for (uint32_t user = info.subKeys; user-- > 0;) {
    if (ScannerFrame::Stopped()) break;
    const uint32_t result = registry->RegEnumKeyW(users.get(), user, name.data(), kNameChars);
    if (result == platform::kRegNoMoreItems) break;
    if (result != 0) continue;
    const std::u16string componentsPath =
        std::u16string(scanRoot.path) + u'\\' + name.data() + u"\\Components";
    OpenKey components(scanRoot.root, componentsPath, frame->readMask());
    platform::RegKeyInfo componentsInfo;
    if (!components.Query(&componentsInfo)) continue;
    if (frame->counting()) {
      frame->Count(componentsInfo.subKeys);
      continue;
    }
    for (uint32_t index = componentsInfo.subKeys; index-- > 0;) {
      if (ScannerFrame::Stopped()) break;
      frame->Step();
      const uint32_t found =
          registry->RegEnumKeyW(components.get(), index, name.data(), kNameChars);
      if (found == platform::kRegNoMoreItems) break;
      if (found != 0) continue;
      ScanComponent(engine, frame, rootIndex, scanRoot, componentsPath + u'\\' + name.data());
    }
  }
}

}  // namespace

uint32_t ScanInstallerUserData(RegCleanerEngine* engine) {
  ScannerFrame frame(engine, kInstallerUserDataCategory, false);
  return frame.Run(kUserDataRoots,
                   [&](uint32_t i, const ScanRoot& root) { ScanUsers(engine, &frame, i, root); });
}
