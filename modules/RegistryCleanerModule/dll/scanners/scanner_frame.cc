#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"

#include "modules/RegistryCleanerModule/dll/exclusion.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/problem_handling.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scan_driver.h"
#include "support/duration.h"

ScannerFrame::ScannerFrame(RegCleanerEngine* engine, const char16_t* category,
                           bool forgetLastSection)
    : engine_(engine), category_(category), forgetLastSection_(forgetLastSection) {}

ScannerFrame::~ScannerFrame() = default;

bool ScannerFrame::Begin() {
  if (Stopped()) return false;
  readMask_ = ReadAccessMask();
  writeMask_ = WriteAccessMask();
  mode_ = engine_->mode;
  if (mode_ > KeyCount) return false;
  if (mode_ == Backup || mode_ == BackupAndClean) {
    backup_.reset(OpenBackupFile(engine_->runBackupFolder, category_));
    if (forgetLastSection_) BackupValue(platform::kNullKey, u"", nullptr, nullptr, 0, 0, nullptr);
  }
  if (!counting()) EngineLogPrintf(6, "Start: Work%ls", category_);
  startTick_ = platform::System::Default()->GetTickCount();
  return true;
}

platform::HKey ScannerFrame::OpenRoot(const ScanRoot& root, uint32_t access, Counts counts,
                                      platform::RegKeyInfo* info) {
  platform::Registry* registry = EngineRegistry();
  platform::HKey key = platform::kNullKey;
  if (registry->RegOpenKeyExW(root.root, root.path, 0, access, &key) != 0)
    return platform::kNullKey;
  // A walk of subkeys needs their number only; a walk of values also the
  // longest data, which sizes its buffer.
  const uint32_t error = counts == Counts::kSubkeys
                             ? registry->RegQueryKeyCounts(key, &info->subKeys, &info->values)
                             : registry->RegQueryInfoKeyW(key, info);
  if (error != 0 || counting()) {
    if (counting()) Count(counts == Counts::kSubkeys ? info->subKeys : info->values);
    registry->RegCloseKey(key);
    return platform::kNullKey;
  }
  return key;
}

uint32_t ScannerFrame::Run(const ScanRoot* roots,
                           const std::function<void(uint32_t, const ScanRoot&)>& walk) {
  if (!Begin()) return 0;
  // A root's batch goes before the next root is walked: a root may show
  // (through a link or a shared view) what an earlier one has handed over.
  for (uint32_t i = 0; roots[i].path != nullptr && !Stopped(); ++i) {
    walk(i, roots[i]);
    DeleteBatch();
  }
  return End();
}

void ScannerFrame::Step() { ProgressStep(engine_); }

void ScannerFrame::WalkExtensions(uint32_t rootIndex, const ScanRoot& scanRoot, size_t shortestName,
                                  const ExtensionTest& isProblem) {
  constexpr uint32_t kNameChars = 4096;
  platform::RegKeyInfo info;
  const platform::HKey key = OpenRoot(scanRoot, readMask_, Counts::kSubkeys, &info);
  if (key == platform::kNullKey) return;
  platform::Registry* registry = EngineRegistry();
  std::u16string name(kNameChars, u'\0');
  std::u16string line;
  std::u16string extensionPath;  // one room for every extension's path
  for (uint32_t index = info.subKeys; index-- > 0;) {
    if (Stopped()) break;
    Step();
    const uint32_t result = registry->RegEnumKeyW(key, index, name.data(), kNameChars);
    if (result == platform::kRegNoMoreItems) break;
    const std::u16string_view extension(name.data());
    if (result != 0 || extension.size() <= shortestName || extension[0] != u'.') continue;
    Count();
    extensionPath.assign(scanRoot.path).append(1, u'\\').append(extension);
    line.clear();
    if (!isProblem(extension, extensionPath, &line) || Stopped()) continue;
    if (IsExcluded(engine_, scanRoot.root, extensionPath, u"") != 0) continue;
    LogKeyLine(rootIndex, scanRoot.root, extensionPath, u"", ShortLine::kEllipsis);
    EngineLogPrintf(7, "%ls", line.c_str());
    KeyProblem(scanRoot.root, extensionPath);
  }
  registry->RegCloseKey(key);
}

void ScannerFrame::LogKeyLine(uint32_t rootIndex, platform::HKey root, std::u16string_view keyPath,
                              std::u16string_view valueLabel, ShortLine shortLine,
                              const char* longPrefix) {
  if (rootIndex != lastLoggedRoot_) {
    lastLoggedRoot_ = rootIndex;
    ::LogKeyLine(longPrefix, RootKeyNameA(root), keyPath, valueLabel);
  } else if (shortLine != ShortLine::kNone) {
    ::LogKeyLine("Key: ", shortLine == ShortLine::kDot ? "." : "...", keyPath, valueLabel);
  }
}

void ScannerFrame::LogMissing(std::u16string_view text) {
  // The text's length bounds it: no copy to end it.
  EngineLogPrintf(7, "Missing: %.*ls", static_cast<int>(text.size()),
                  text.empty() ? u"" : text.data());
}

namespace {
// Entries per flush of a backup file: a flush to disk costs milliseconds,
// the deletion of an entry microseconds.
constexpr size_t kBatchEntries = 512;
}  // namespace

void ScannerFrame::Batch(BackedUpEntry entry) {
  batch_.push_back(std::move(entry));
  if (batch_.size() >= kBatchEntries) DeleteBatch();
}

void ScannerFrame::DeleteBatch() {
  // After a stop nothing more is deleted: the batch stays in the registry.
  if (!Stopped()) DeleteBackedUp(engine_, backup_.get(), batch_);
  batch_.clear();
}

void ScannerFrame::ValueProblem(platform::HKey root, std::u16string_view keyPath,
                                platform::HKey key, std::u16string_view valueName,
                                const uint8_t* data, uint32_t dataSize, uint32_t type) {
  if (Stopped()) return;
  ++problems_;
  if (mode_ != BackupAndClean) {
    ActOnProblemValue(engine_, root, keyPath, key, valueName, data, dataSize, type, mode_,
                      backup_.get());
  } else if (BackUpProblemValue(engine_, root, keyPath, valueName, data, dataSize, type,
                                backup_.get())) {
    Batch({root, std::u16string(keyPath), std::u16string(valueName), false, writeMask_});
  }
}

void ScannerFrame::KeyProblem(platform::HKey root, std::u16string_view keyPath) {
  if (Stopped()) return;
  ++problems_;
  if (mode_ != BackupAndClean) {
    ActOnProblemKey(engine_, root, keyPath, readMask_, writeMask_, mode_, backup_.get());
  } else if (BackUpProblemKey(engine_, root, keyPath, readMask_, backup_.get())) {
    Batch({root, std::u16string(keyPath), u"", true, writeMask_});
  }
}

uint32_t ScannerFrame::HandleKey(platform::HKey root, std::u16string_view keyPath) {
  if (Stopped()) return 0;
  if (mode_ != BackupAndClean) {
    const uint32_t handled =
        HandleProblemKey(engine_, root, keyPath, readMask_, mode_, backup_.get());
    if (handled != 0) ++problems_;
    return handled;
  }
  if (IsExcluded(engine_, root, keyPath, u"") == 1) return 0;
  ++problems_;
  // As HandleProblemKey: the key goes in the read mask's view.
  if (BackUpProblemKey(engine_, root, keyPath, readMask_, backup_.get()))
    Batch({root, std::u16string(keyPath), u"", true, readMask_});
  return 1;
}

uint32_t ScannerFrame::End() {
  DeleteBatch();
  if (backup_) {
    if (problems_ > 0)
      backup_->Close();
    else
      backup_->Discard();
    backup_.reset();
  }
  if (counting()) return scanned_;
  MyLogfile* log = EngineLog();
  if (log == nullptr || log->Level() < 6) return problems_;
  const uint32_t elapsed = platform::System::Default()->GetTickCount() - startTick_;
  log->Printf(6, "Stop: Work%ls, found %d problems here, scanned: %d, duration: %s", category_,
              problems_, scanned_,
              TrimmedDuration(static_cast<int32_t>(elapsed), kDurationMilliseconds).c_str());
  return problems_;
}
