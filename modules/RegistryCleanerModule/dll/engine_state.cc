#include "modules/RegistryCleanerModule/dll/engine_state.h"

#include <vector>

#include "platform/file_system.h"
#include "platform/version_info.h"

std::atomic<uint32_t> AbortRequested{0};
std::atomic<int32_t> TotalKeyCount{0};
std::atomic<int32_t> ProcessedKeyCount{0};
std::atomic<int32_t> LastPermille{0};
std::atomic<uint32_t> LastReportTick{0};

const char16_t* const kVersionStringFields[12] = {
    u"Comments",     u"CompanyName",    u"FileDescription", u"FileVersion",
    u"InternalName", u"LegalCopyright", u"LegalTrademarks", u"PrivateBuild",
    u"ProductName",  u"ProductVersion", u"SpecialBuild",    u"OriginalFilename"};

const char16_t* ModeName(uint32_t mode) {
  switch (mode) {
    case Scan:
      return u"Scan";
    case Clean:
      return u"Clean";
    case Backup:
      return u"Backup";
    case BackupAndClean:
      return u"Backup & Clean";
    case KeyCount:
      return u"KeyCount";
    default:
      return u"Unknown";
  }
}

int ReadFileVersionRecord(FileVersionRecord* record, platform::FileSystem* fs,
                          platform::System* system) {
  record->productName.clear();
  record->fileDescription.clear();
  record->major = record->minor = record->build = record->revision = 0;
  record->lastWrite = {};

  platform::FileHandle file =
      fs->CreateFile(record->path, platform::kGenericRead,
                     platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenExisting);
  if (file != nullptr) {
    uint64_t written = 0;
    if (fs->GetFileTime(file, &written)) record->lastWrite = system->FileTimeToLocalTime(written);
    fs->CloseHandle(file);
  }

  const std::vector<std::u16string> names(std::begin(kVersionStringFields),
                                          std::end(kVersionStringFields));
  platform::VersionResource resource;
  if (!platform::ReadVersionResource(record->path, names, &resource)) return 0;
  if (resource.hasFixedVersion) {
    record->major = resource.fileVersion[0];
    record->minor = resource.fileVersion[1];
    record->build = resource.fileVersion[2];
    record->revision = resource.fileVersion[3];
  }
  for (const auto& [name, value] : resource.strings) {
    const std::u16string cut = value.substr(0, FileVersionRecord::kFieldChars - 1);
    if (name == u"ProductName") record->productName = cut;
    if (name == u"FileDescription") record->fileDescription = cut;
  }
  return static_cast<int>(resource.strings.size());
}

uint32_t BootSessionSignature(platform::System* system) {
  constexpr uint64_t kUnitsPerMs = 10000;
  constexpr uint64_t kUnitsPerMinute = 600000000;
  const uint64_t bootTime =
      system->GetSystemTimeAsFileTime() - system->GetTickCount64() * kUnitsPerMs;
  return static_cast<uint32_t>(bootTime / kUnitsPerMinute);
}
