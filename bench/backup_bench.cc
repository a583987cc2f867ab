// Backup writer speed: exporting a large key tree of an in-memory registry
// into a backup file, reported as MB of file text per second.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "modules/RegistryCleanerModule/dll/reg_backup_file.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "platform/wineprefix/memory_registry.h"

namespace {

using platform::HKey;

// HKLM\Software\Bench: 50 x 40 keys, each with a string, a dword, a binary
// value of 60 bytes and a multi-string: about 8000 values.
platform::memory::MemoryRegistry& BigTree() {
  static platform::memory::MemoryRegistry* registry = [] {
    auto* reg = new platform::memory::MemoryRegistry();
    for (int a = 0; a < 50; ++a) {
      for (int b = 0; b < 40; ++b) {
        const std::string path =
            "Software\\Bench\\Vendor" + std::to_string(a) + "\\Product" + std::to_string(b);
        HKey key;
        reg->RegCreateKeyExW(platform::kHkeyLocalMachine, std::u16string(path.begin(), path.end()),
                             0, platform::kKeyAllAccess, &key, nullptr);
        const std::u16string text = u"C:\\Program Files\\Vendor\\Product\\bin\\product.exe";
        reg->RegSetValueExW(key, u"Path", platform::kRegSz,
                            reinterpret_cast<const uint8_t*>(text.c_str()),
                            static_cast<uint32_t>((text.size() + 1) * 2));
        const uint32_t dword = static_cast<uint32_t>(a * b);
        reg->RegSetValueExW(key, u"Count", platform::kRegDword,
                            reinterpret_cast<const uint8_t*>(&dword), 4);
        uint8_t blob[60];
        for (int i = 0; i < 60; ++i) blob[i] = static_cast<uint8_t>(i * 7 + a);
        reg->RegSetValueExW(key, u"Blob", platform::kRegBinary, blob, sizeof(blob));
        const char16_t multi[] = u"first\0second\0";
        reg->RegSetValueExW(key, u"List", platform::kRegMultiSz,
                            reinterpret_cast<const uint8_t*>(multi), sizeof(multi));
        reg->RegCloseKey(key);
      }
    }
    return reg;
  }();
  return *registry;
}

void BM_BackupKeyTree(benchmark::State& state) {
  SetEngineRegistry(&BigTree());
  Is64BitOs = true;
  IsWow64 = true;
  platform::FileSystem* fs = platform::FileSystem::Default();
  const std::u16string folder = platform::System::Default()->GetTempPath() + u"regclean-bench-" +
                                std::u16string(1, u'a' + std::random_device()() % 26);
  fs->CreateDirectory(folder);
  size_t chars = 0;
  for (auto _ : state) {
    RegBackupFile* file = OpenBackupFile(folder, u"Bench");
    chars += BackupKeyTree(platform::kHkeyLocalMachine, u"Software\\Bench", ReadAccessMask(), file);
    file->Close();
    file->Discard();
    delete file;
  }
  state.SetBytesProcessed(static_cast<int64_t>(chars * 2));
  state.counters["file_MB"] = benchmark::Counter(static_cast<double>(chars * 2) / (1 << 20) /
                                                 static_cast<double>(state.iterations()));
  fs->RemoveDirectory(folder);
  SetEngineRegistry(nullptr);
}
BENCHMARK(BM_BackupKeyTree)->Unit(benchmark::kMillisecond);

// The value-line writer alone, without the registry walk.
void BM_WriteValueLines(benchmark::State& state) {
  const std::u16string path =
      platform::System::Default()->GetTempPath() + u"regclean-bench-lines.reg";
  uint8_t blob[200];
  for (int i = 0; i < 200; ++i) blob[i] = static_cast<uint8_t>(i);
  size_t chars = 0;
  for (auto _ : state) {
    RegBackupFile file(path, RegBackupFile::kBackupBufferChars);
    for (int i = 0; i < 2000; ++i) {
      chars += file.WriteValue(u"Blob", blob, sizeof(blob), platform::kRegBinary);
      chars += file.WriteValue(u"Text", reinterpret_cast<const uint8_t*>(u"C:\\Windows\\a.dll"), 34,
                               platform::kRegSz);
    }
    file.Discard();
  }
  state.SetBytesProcessed(static_cast<int64_t>(chars * 2));
}
BENCHMARK(BM_WriteValueLines)->Unit(benchmark::kMillisecond);

}  // namespace
