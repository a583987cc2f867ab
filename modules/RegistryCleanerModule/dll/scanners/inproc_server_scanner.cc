// COM in-process servers: a class key whose "InprocServer32" names, in its
// default value, a library that no longer exists is a problem, and the whole
// class key goes with its other subkeys (ProgID, type library references).
#include <array>
#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/exclusion.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"

namespace {

const ScanRoot kClassRoots[] = {
    {platform::kHkeyLocalMachine, u"SOFTWARE\\Classes\\CLSID", 1},
    {platform::kHkeyLocalMachine, u"SOFTWARE\\Wow6432Node\\Classes\\CLSID", 0},
    {platform::kHkeyCurrentUser, u"SOFTWARE\\Classes\\CLSID", 1},
    {platform::kHkeyCurrentUser, u"SOFTWARE\\Wow6432Node\\Classes\\CLSID", 0},
    {platform::kNullKey, nullptr, 0},
};

constexpr uint32_t kClassNameChars = 128;  // a longer name fails to enumerate
constexpr uint32_t kDataChars = 2048;
constexpr uint32_t kShortestData = 5;  // bytes

void ScanClasses(RegCleanerEngine* engine, ScannerFrame* frame, uint32_t rootIndex,
                 const ScanRoot& scanRoot) {
  platform::RegKeyInfo info;
  const platform::HKey key =
      frame->OpenRoot(scanRoot, frame->readMask(), ScannerFrame::Counts::kSubkeys, &info);
  if (key == platform::kNullKey) return;
  platform::Registry* registry = EngineRegistry();
  std::array<char16_t, kClassNameChars> name;
  std::vector<char16_t> data;
  for (uint32_t index = info.subKeys; index-- > 0;) {
    if (ScannerFrame::Stopped()) break;
    frame->Step();
    const uint32_t result = registry->RegEnumKeyW(key, index, name.data(), kClassNameChars);
    if (result == platform::kRegNoMoreItems) break;
    if (result != 0) continue;
    std::u16string classPath(scanRoot.path);
    classPath += u'\\';
    classPath += name.data();
    const std::u16string serverPath = classPath + u"\\InprocServer32";

    platform::HKey server = platform::kNullKey;
    if (registry->RegOpenKeyExW(scanRoot.root, serverPath, 0, frame->readMask(), &server) != 0)
      continue;  // no in-process server: not a class this scanner judges
    platform::RegKeyInfo serverInfo;
    if (registry->RegQueryInfoKeyW(server, &serverInfo) != 0) {
      registry->RegCloseKey(server);
      continue;
    }
    const uint32_t dataChars = std::max(kDataChars, serverInfo.maxValueLen / 2 + 1);
    if (data.size() < dataChars + 1)
      data.resize(dataChars + 1);  // room for a NUL the data may lack
    uint32_t type = platform::kRegSz;
    uint32_t dataBytes = dataChars * 2;
    const uint32_t read = registry->RegQueryValueExW(
        server, u"", &type, reinterpret_cast<uint8_t*>(data.data()), &dataBytes);
    registry->RegCloseKey(server);
    if (read != 0) continue;
    EndTextAfterData(data.data(), dataChars + 1, dataBytes);
    // Expandable text always, other text when it begins with "%"; of a
    // multi-string the first string is the path.
    type = ExpandEnvInPlace(data.data(), dataChars, type);
    // A server value that is empty is neither tested nor counted.
    if (dataBytes < kShortestData || data[0] == 0) continue;
    frame->Count();
    if (type != platform::kRegSz && type != platform::kRegMultiSz) continue;
    std::u16string path(data.data());
    if (ClassifyPath(path) == 0) continue;
    if (FileExistsResolved(&path, 0, scanRoot.view == 1) != 0) continue;
    if (ScannerFrame::Stopped()) break;
    if (IsExcluded(engine, scanRoot.root, classPath, u"") != 0) continue;

    frame->LogKeyLine(rootIndex, scanRoot.root, serverPath, u"(default)",
                      ScannerFrame::ShortLine::kEllipsis);
    ScannerFrame::LogMissing(path);
    frame->KeyProblem(scanRoot.root, classPath);
  }
  registry->RegCloseKey(key);
}

}  // namespace

uint32_t ScanInprocServers(RegCleanerEngine* engine) {
  ScannerFrame frame(engine, kInprocServerCategory, false);
  return frame.Run(kClassRoots,
                   [&](uint32_t i, const ScanRoot& root) { ScanClasses(engine, &frame, i, root); });
}
