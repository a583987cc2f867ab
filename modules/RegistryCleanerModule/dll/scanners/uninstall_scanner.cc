// Uninstall entries: each key below "Uninstall" carries the command that
// removes its program. When the program file that command starts is gone,
// the entry can never be used, and the whole entry key is a problem.
#include <array>
#include <string>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"

namespace {

const ScanRoot kUninstallRoots[] = {
    {platform::kHkeyLocalMachine, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 1},
    {platform::kHkeyLocalMachine,
     u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0},
    {platform::kNullKey, nullptr, 0},
};

constexpr uint32_t kNameChars = 4096;
constexpr uint32_t kCommandBytes = 1024;
constexpr size_t kFirstPathChars = 512;

void ScanEntries(ScannerFrame* frame, uint32_t rootIndex, const ScanRoot& scanRoot) {
  platform::RegKeyInfo info;
  const platform::HKey key =
      frame->OpenRoot(scanRoot, frame->readMask(), ScannerFrame::Counts::kSubkeys, &info);
  if (key == platform::kNullKey) return;
  platform::Registry* registry = EngineRegistry();
  std::array<char16_t, kNameChars> name;
  std::array<char16_t, kCommandBytes / 2> command;
  for (uint32_t index = info.subKeys; index-- > 0;) {
    if (ScannerFrame::Stopped()) break;
    // A step per entry: a stop asked while a resolve removes entries is seen
    // at the next one.
    frame->Visit();
    const uint32_t result = registry->RegEnumKeyW(key, index, name.data(), kNameChars);
    if (result == platform::kRegNoMoreItems) break;
    if (result != 0) continue;
    std::u16string entryPath(scanRoot.path);
    entryPath += u'\\';
    entryPath += name.data();
    // Read through the write mask: without the rights to remove an entry,
    // nothing is reported.
    if (ReadStringValue(scanRoot.root, entryPath, u"UninstallString", frame->writeMask(),
                        command.data(), kCommandBytes) == 0)
      continue;
    const std::u16string_view text(command.data());
    std::u16string path = FirstUninstallPath(text);
    if (path.empty()) continue;
    if (ResolveCommandToFile(&path, 0, scanRoot.view == 1, true) != 0) continue;
    if (ScannerFrame::Stopped()) break;
    if (frame->HandleKey(scanRoot.root, entryPath) == 0) continue;
    frame->LogKeyLine(rootIndex, scanRoot.root, entryPath, u"UninstallString",
                      ScannerFrame::ShortLine::kDot);
    ScannerFrame::LogMissing(text);
  }
  registry->RegCloseKey(key);
}

}  // namespace

std::u16string FirstUninstallPath(std::u16string_view command) {
  const size_t colon = command.find(u":\\");
  if (colon == std::u16string_view::npos) return {};
  // From the drive letter, or from the ":\" itself at the very start.
  std::u16string path(command.substr(colon == 0 ? 0 : colon - 1, kFirstPathChars - 1));
  // A second drive path (a file argument) ends the first one; but a
  // rundll32 command is judged by the library it names, on whatever drive.
  const size_t second = path.find(u":\\", 3);
  if (second != std::u16string::npos && !IsRundll32Command(path)) path.resize(second - 1);
  // A resource index or an argument list behind the program.
  for (std::u16string_view end : {u".exe,", u".dll,"}) {
    const size_t at = path.find(end);
    if (at != std::u16string::npos) path.resize(at + 4);
  }
  const size_t blankComma = path.find(u" ,");
  if (blankComma != std::u16string::npos) path.resize(blankComma);
  return path;
}

uint32_t ScanUninstallEntries(RegCleanerEngine* engine) {
  ScannerFrame frame(engine, kUninstallCategory, true);
  return frame.Run(kUninstallRoots,
                   [&](uint32_t i, const ScanRoot& root) { ScanEntries(&frame, i, root); });
}
