#include "framework/restore_point.h"

#include "framework/system_services.h"
#include "platform/known_folders.h"
#include "platform/unicode.h"

namespace {

constexpr uint32_t kBeginNestedSystemChange = 102;
constexpr uint32_t kEndNestedSystemChange = 103;
constexpr uint32_t kModifySettings = 12;

void WriteDword(platform::Registry* registry, platform::HKey key, std::u16string_view name,
                uint32_t value) {
  const uint8_t data[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  registry->RegSetValueExW(key, name, platform::kRegDword, data, sizeof(data));
}

}  // namespace

bool BeginRestorePoint(std::u16string_view description, int64_t* sequenceNumber,
                       platform::System* system, platform::Registry* registry) {
  if (sequenceNumber == nullptr) return false;
  if (!StartServiceByName(u"VSS", system)) return false;
  if (IsWin8OrLater(system)) {
    platform::HKey key;
    uint32_t disposition = 0;
    if (registry->RegCreateKeyExW(platform::kHkeyLocalMachine,
                                  u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore",
                                  0, platform::kKeyAllAccess, &key, &disposition) == 0) {
      WriteDword(registry, key, u"SystemRestorePointCreationFrequency", 0);
      WriteDword(registry, key, u"ScopeSnapshots", 0);
      registry->RegCloseKey(key);
    }
  }
  int64_t sequence = 0;
  if (!system->SetRestorePoint(kBeginNestedSystemChange, kModifySettings, &sequence,
                               description.substr(0, 255)))
    return false;
  *sequenceNumber = sequence;
  return true;
}

bool EndRestorePoint(int64_t sequenceNumber, platform::System* system) {
  StartServiceByName(u"VSS", system);
  return system->SetRestorePoint(kEndNestedSystemChange, kModifySettings, &sequenceNumber, u"");
}

std::u16string RestoreUiPath(platform::System* system, platform::FileSystem* fs) {
  std::u16string systemFolder, systemX86;
  platform::GetSpecialFolderPath(platform::kCsidlSystem, &systemFolder);
  platform::GetSpecialFolderPath(platform::kCsidlSystemX86, &systemX86);
  auto exists = [fs](const std::u16string& path) {
    return fs->GetFileAttributes(path) != platform::kInvalidFileAttributes;
  };
  const std::u16string first = systemFolder + u"\\rstrui.exe";
  if (exists(first)) return first;
  if (system->GetNativeArchitecture() == platform::kArchitectureAmd64) {
    // A 32-bit program reaches the 64-bit system folder through SYSNATIVE.
    std::u16string native = first;
    for (char16_t& c : native) c = platform::AsciiUpper(c);
    const size_t at = native.find(u"SYSTEM32");
    if (at != std::u16string::npos) native.replace(at, 8, u"SYSNATIVE");
    if (exists(native)) return native;
  }
  const std::u16string x86 = systemX86 + u"\\rstrui.exe";
  if (exists(x86)) return x86;
  const std::u16string restore = systemFolder + u"\\restore\\rstrui.exe";
  if (exists(restore)) return restore;
  return systemX86 + u"\\restore\\rstrui.exe";
}

void LaunchRestoreUi(platform::System* system, platform::FileSystem* fs) {
  RunAndFollow(RestoreUiPath(system, fs), 0, u"", false, nullptr, system);
}
