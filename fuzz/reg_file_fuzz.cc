// Imports arbitrary bytes as a .reg file into an empty in-memory registry and
// checks the round trip through the exporter: what was imported exports to a
// file that imports without a problem into another empty registry, and that
// registry exports the same file again, without a problem. (What a .reg file
// cannot hold, a REG_LINK value, is reported by the first export and left
// out of its file.)
//
// Input: the first byte picks the view the file is imported in (bit 0: the
// 32-bit view); the rest is the file.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/reg_file.h"
#include "platform/wineprefix/memory_registry.h"

namespace {

using platform::HKey;

// HKEY_LOCAL_MACHINE and HKEY_USERS hold every other root.
std::vector<std::string> ExportAll(platform::Registry* registry, bool allowProblems) {
  std::vector<std::string> files;
  for (const HKey root : {platform::kHkeyLocalMachine, platform::kHkeyUsers}) {
    const platform::RegExportResult exported =
        platform::ExportRegFile(registry, root, u"", platform::kKeyWow64_64Key);
    fuzz::Check(exported.error == 0, "a root exports");
    fuzz::Check(allowProblems || exported.problems.empty(), "a tree exports without problems");
    files.push_back(exported.bytes);
  }
  return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t sam = (data[0] & 1) ? platform::kKeyWow64_32Key : platform::kKeyWow64_64Key;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  platform::memory::MemoryRegistry first;
  const platform::RegImportResult imported = platform::ImportRegFile(&first, bytes, sam);
  fuzz::Check(imported.recognized ||
                  imported.valuesSet + imported.valuesDeleted + imported.keysDeleted == 0,
              "nothing is imported from a file without the header");
  const std::vector<std::string> exported = ExportAll(&first, true);

  platform::memory::MemoryRegistry second;
  for (const std::string& file : exported) {
    const platform::RegImportResult again =
        platform::ImportRegFile(&second, file, platform::kKeyWow64_64Key);
    fuzz::Check(again.recognized && again.problems.empty(), "an exported file imports cleanly");
  }
  fuzz::Check(ExportAll(&second, false) == exported, "the re-imported tree exports the same file");
  return 0;
}
