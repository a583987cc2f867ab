// The user's Explorer settings per file extension: its Open With lists and
// its chosen program. An extension key none of whose lists leads to an
// existing program or a usable class is a problem, and so is one with none
// of the three lists.
#include <array>
#include <string>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/class_checks.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"
#include "platform/case_fold.h"

namespace {

const ScanRoot kFileExtRoots[] = {
    {platform::kHkeyCurrentUser,
     u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts", 1},
    {platform::kHkeyCurrentUser,
     u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts", 0},
    {platform::kNullKey, nullptr, 0},
};

bool Aborted() { return ScannerFrame::Stopped(); }

// Reads a value into a buffer of bytes / 2 + 1 characters: the read gets
// all bytes, the last character stays a NUL.
uint32_t ReadValue(platform::HKey key, std::u16string_view name, char16_t* buffer, uint32_t bytes) {
  std::fill(buffer, buffer + bytes / 2 + 1, u'\0');
  uint32_t size = bytes;
  return EngineRegistry()->RegQueryValueExW(key, name, nullptr, reinterpret_cast<uint8_t*>(buffer),
                                            &size);
}

bool AtLeast(platform::HKey key, uint32_t values) {
  uint32_t subKeys = 0, count = 0;
  return EngineRegistry()->RegQueryKeyCounts(key, &subKeys, &count) == 0 && count >= values;
}

}  // namespace

uint32_t CheckMruList(platform::HKey key, uint32_t sam) {
  if (!AtLeast(key, 2)) return 0;
  std::array<char16_t, 129> order;
  if (ReadValue(key, u"MRUList", order.data(), 256) != 0) return 0;
  uint32_t flags = 0;
  std::array<char16_t, 1025> program;
  for (const char16_t* letter = order.data(); *letter != 0 && !Aborted(); ++letter) {
    if (ReadValue(key, std::u16string_view(letter, 1), program.data(), 2048) != 0) continue;
    flags |= ResolveAppName(sam, program.data()) != 0 ? kExtEntryValid : kExtEntryInvalid;
  }
  return flags;
}

uint32_t CheckOpenWithProgids(platform::HKey key, uint32_t sam) {
  if (!AtLeast(key, 1)) return 0;
  uint32_t flags = 0;
  std::array<char16_t, 1024> name;
  for (uint32_t index = 0; !Aborted(); ++index) {
    uint32_t chars = static_cast<uint32_t>(name.size());
    const uint32_t result =
        EngineRegistry()->RegEnumValueW(key, index, name.data(), &chars, nullptr, nullptr, nullptr);
    if (result == platform::kRegNoMoreItems) break;
    if (result != 0 || chars == 0) continue;
    flags |= (CheckClass(sam, std::u16string_view(name.data(), chars)) & kClassUsable) != 0
                 ? kExtEntryValid
                 : kExtEntryInvalid;
  }
  return flags;
}

uint32_t CheckUserChoice(platform::HKey key, uint32_t sam) {
  std::array<char16_t, 1025> progId;
  if (!AtLeast(key, 1) || ReadValue(key, u"Progid", progId.data(), 2048) != 0) return 0;
  const std::u16string_view text(progId.data());
  constexpr std::u16string_view kApplications = u"Applications\\";
  for (size_t at = 0; at + kApplications.size() <= text.size(); ++at) {
    if (platform::EqualsIgnoreCase(text.substr(at, kApplications.size()), kApplications))
      return ResolveAppName(sam, text.substr(at + kApplications.size())) != 0 ? kExtEntryValid
                                                                              : kExtEntryInvalid;
  }
  return (CheckClass(sam, text) & kClassUsable) != 0 ? kExtEntryValid : kExtEntryInvalid;
}

uint32_t CheckFileExtEntry(platform::HKey root, uint32_t sam, std::u16string_view extensionPath) {
  platform::Registry* registry = EngineRegistry();
  platform::HKey extension = platform::kNullKey;
  if (registry->RegOpenKeyExW(root, extensionPath, 0, sam, &extension) != 0) return 0;
  using Check = uint32_t (*)(platform::HKey, uint32_t);
  const struct {
    const char16_t* name;
    Check check;
  } lists[] = {{u"OpenWithList", CheckMruList},
               {u"OpenWithProgids", CheckOpenWithProgids},
               {u"UserChoice", CheckUserChoice}};
  uint32_t flags = 0;
  for (const auto& list : lists) {
    if (Aborted()) break;
    platform::HKey key = platform::kNullKey;
    if (registry->RegOpenKeyExW(extension, list.name, 0, sam, &key) != 0) continue;
    flags |= list.check(key, sam);
    registry->RegCloseKey(key);
    if (flags & kExtEntryValid) break;
  }
  registry->RegCloseKey(extension);
  return flags;
}

uint32_t ScanExplorerFileExtensions(RegCleanerEngine* engine) {
  ScannerFrame frame(engine, kExplorerExtensionCategory, false);
  return frame.Run(kFileExtRoots, [&](uint32_t i, const ScanRoot& root) {
    // "." alone is no extension.
    frame.WalkExtensions(
        i, root, 1,
        [&](std::u16string_view name, const std::u16string& path, std::u16string* line) {
          if (CheckFileExtEntry(root.root, frame.readMask(), path) & kExtEntryValid) return false;
          *line = u"Unused FileExt: \"" + std::u16string(name) + u"\"";
          return true;
        });
  });
}
