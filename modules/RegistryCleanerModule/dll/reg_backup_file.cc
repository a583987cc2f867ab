#include "modules/RegistryCleanerModule/dll/reg_backup_file.h"

#include <bit>
#include <cstdio>
#include <new>

#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/resource_text.h"
#include "modules/RegistryCleanerModule/dll/string_ids.h"
#include "modules/RegistryCleanerModule/dll/version_data.h"
#include "platform/case_fold.h"
#include "platform/system_text.h"
#include "platform/unicode.h"

static_assert(std::endian::native == std::endian::little,
              "backup files are written as the buffer's UTF-16 LE bytes");

namespace {

constexpr int kLockTries = 2000;
constexpr uint32_t kLockPauseMs = 10;
constexpr size_t kMaxSectionChars = 2048;
constexpr uint32_t kHexLineWidth = 79;
constexpr uint32_t kHexContinuationWidth = 77;

// The section of the last value backed up, shared by all files.
std::u16string g_lastSection;

std::u16string Ascii(const char* text) {
  std::u16string out;
  while (*text) out.push_back(static_cast<unsigned char>(*text++));
  return out;
}

// Backslashes and double quotes get a backslash before them.
std::u16string Escape(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  if (out.size() > RegBackupFile::kMaxTextChars) out.resize(RegBackupFile::kMaxTextChars);
  return out;
}

// The UTF-16 text of size bytes of data, up to its first NUL.
std::u16string_view StringData(const uint8_t* data, int32_t size) {
  if (data == nullptr || size < 2) return {};
  const char16_t* text = reinterpret_cast<const char16_t*>(data);
  size_t n = 0;
  const size_t units = static_cast<size_t>(size) / 2;
  while (n < units && text[n] != 0) ++n;
  return std::u16string_view(text, n);
}

// The text as a comment can show it: control characters become dots, so a
// line break in the data can never start a line of its own.
std::u16string Readable(std::u16string_view text) {
  std::u16string out(text.substr(0, RegBackupFile::kMaxTextChars));
  for (char16_t& c : out)
    if (c < 32) c = u'.';
  return out;
}

// A name that the quoted form carries exactly: no line break (an importer
// reads none inside quotes), and not cut by the length limit.
bool Representable(std::u16string_view name) {
  if (name.find_first_of(u"\r\n") != std::u16string_view::npos) return false;
  size_t escaped = name.size();
  for (char16_t c : name) escaped += (c == u'\\' || c == u'"') ? 1 : 0;
  return escaped <= RegBackupFile::kMaxTextChars;
}

// REG_SZ data that the quoted form gives back byte for byte: whole units,
// ended by its only NUL, without line breaks, not cut by the length limit.
bool QuotedStringKeepsData(const uint8_t* data, int32_t size) {
  if (data == nullptr || size < 2 || size % 2 != 0) return false;
  const std::u16string_view text = StringData(data, size);
  if (text.size() + 1 != static_cast<size_t>(size) / 2) return false;
  return Representable(text);
}

std::u16string Quoted(const char16_t* name) {
  if (name == nullptr || name[0] == 0) return u"@";
  return u"\"" + Escape(name) + u"\"";
}

std::u16string SectionPath(platform::HKey root, std::u16string_view keyPath) {
  std::u16string path = RootKeyNameW(root);
  if (!keyPath.empty()) {
    path += u'\\';
    path += keyPath;
  }
  if (path.size() > kMaxSectionChars) path.resize(kMaxSectionChars);
  return path;
}

}  // namespace

void ChainedStringListW::Add(std::u16string_view text, uint32_t tag) {
  entries_.push_back(Entry{std::u16string(text), BufferedStringListW::Hash(text), tag});
}

int32_t ChainedStringListW::Find(std::u16string_view text) const {
  const uint32_t hash = BufferedStringListW::Hash(text);
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].hash == hash && platform::EqualsIgnoreCase(entries_[i].text, text))
      return static_cast<int32_t>(i);
  return -1;
}

RegBackupFile::RegBackupFile(std::u16string_view path, size_t bufferChars, platform::FileSystem* fs,
                             platform::System* system)
    : fs_(fs), system_(system), path_(path), buffer_(bufferChars > 1 ? bufferChars : 2) {
  file_ =
      fs_->CreateFile(path_, platform::kGenericWrite,
                      platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenAlways);
  if (file_ != nullptr) fs_->SetFilePointer(file_, 0, platform::kFileEnd);
}

RegBackupFile::~RegBackupFile() { Close(); }

bool RegBackupFile::Lock() {
  for (int i = 0; i < kLockTries; ++i) {
    if (lock_.try_lock()) return true;
    system_->Sleep(kLockPauseMs);
  }
  return false;
}

bool RegBackupFile::WriteBufferOut() {
  if (file_ == nullptr) return false;
  size_t done = 0;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(buffer_.data());
  while (done < fill_ * 2) {
    uint32_t written = 0;
    if (!fs_->WriteFile(file_, bytes + done, static_cast<uint32_t>(fill_ * 2 - done), &written) ||
        written == 0)
      break;
    done += written;
  }
  const size_t units = done / 2;
  std::copy(buffer_.begin() + units, buffer_.begin() + fill_, buffer_.begin());
  fill_ -= units;
  if (fill_ != 0 || done % 2 != 0) writeFailed_ = true;
  return fill_ == 0;
}

size_t RegBackupFile::Write(std::u16string_view text) {
  if (file_ == nullptr || text.empty()) return 0;
  if (fill_ + text.size() + 1 > buffer_.size()) WriteBufferOut();
  if (fill_ + text.size() + 1 <= buffer_.size()) {
    text.copy(buffer_.data() + fill_, text.size());
    fill_ += text.size();
    return text.size();
  }
  // Larger than the whole buffer: straight to the file.
  uint32_t written = 0;
  if (!fs_->WriteFile(file_, text.data(), static_cast<uint32_t>(text.size() * 2), &written) ||
      written != text.size() * 2)
    writeFailed_ = true;
  return written / 2;
}

size_t RegBackupFile::WriteHeader() {
  if (!Lock()) return 0;
  std::lock_guard<std::recursive_mutex> hold(lock_, std::adopt_lock);
  std::u16string header =
      u"\xFEFF"
      u"Windows Registry Editor Version 5.00\r\n";
  header += u"; backup file: \"" + path_ + u"\"\r\n";
  if (Is64BitOs) header += u"; to restore this backup, please import the file in regedt32.exe\r\n";
  char company[160];
  std::snprintf(company, sizeof(company), "; company: %s product: %s module: %s build: %d\r\n",
                "CORVANE", "Brightdeck", "RegCleanerDll", REGCLEAN_BUILD_NUMBER);
  header += Ascii(company);
  headerWritten_ = true;
  return Write(header);
}

size_t RegBackupFile::WriteSection(platform::HKey root, std::u16string_view keyPath) {
  if (!platform::IsPredefinedKey(root)) return 0;
  if (!Lock()) return 0;
  std::lock_guard<std::recursive_mutex> hold(lock_, std::adopt_lock);
  const std::u16string path = SectionPath(root, keyPath);
  // Without its section, value lines would land in the key of the one before.
  sectionBroken_ =
      path.size() < keyPath.size() || path.find_first_of(u"\r\n") != std::u16string::npos;
  if (sectionBroken_) {
    unrepresentable_ = true;
    return 0;
  }
  size_t written = 0;
  bool anyNew = false;
  for (size_t end = 0; end != std::u16string::npos;) {
    end = path.find(u'\\', end + 1);
    const std::u16string_view prefix =
        std::u16string_view(path).substr(0, end == std::u16string::npos ? path.size() : end);
    if (prefix.empty() || prefix.back() == u'\\' || sections_.Find(prefix) >= 0) continue;
    written += Write(u"\r\n[" + std::u16string(prefix) + u"]\r\n");
    sections_.Add(prefix, 0);
    anyNew = true;
  }
  if (!anyNew) {
    written += Write(u"\r\n[" + path + u"]\r\n");
    written += Write(u"; this is the second section with the same name!!!\r\n");
  }
  return written;
}

size_t RegBackupFile::WriteHex(const std::u16string& prefix, const uint8_t* data, int32_t size) {
  std::u16string line = prefix;
  uint32_t room = kHexLineWidth - static_cast<uint32_t>(prefix.size());
  if (size <= 0 || data == nullptr) return Write(line + u"\r\n");
  static const char kDigits[] = "0123456789abcdef";
  for (int32_t i = 0; i < size; ++i) {
    const bool last = i == size - 1;
    line.push_back(static_cast<char16_t>(kDigits[data[i] >> 4]));
    line.push_back(static_cast<char16_t>(kDigits[data[i] & 15]));
    room -= 2;
    if (!last) {
      line.push_back(u',');
      room -= 1;
      // A prefix of 77 characters or more leaves room wrapped round, far above
      // 3: such a value stays on one line.
      if (room < 3) {
        line += u"\\\r\n  ";
        room = kHexContinuationWidth;
      }
    }
  }
  return Write(line + u"\r\n");
}

size_t RegBackupFile::WriteValue(const char16_t* name, const uint8_t* data, int32_t size,
                                 uint32_t type) {
  if (!Lock()) return 0;
  std::lock_guard<std::recursive_mutex> hold(lock_, std::adopt_lock);
  if (sectionBroken_ || (name != nullptr && !Representable(name))) {
    unrepresentable_ = true;
    return 0;
  }
  const std::u16string quoted = Quoted(name);
  char number[32];
  switch (type) {
    case platform::kRegSz:
      // Anything the quoted form would change goes as exact bytes.
      if (!QuotedStringKeepsData(data, size)) return WriteHex(quoted + u"=hex(1):", data, size);
      return Write(quoted + u"=\"" + Escape(StringData(data, size)) + u"\"\r\n");
    case platform::kRegDword: {
      if (size != 4) return WriteHex(quoted + u"=hex(4):", data, size);
      uint32_t value = 0;
      for (int32_t i = 0; data != nullptr && i < size && i < 4; ++i)
        value |= static_cast<uint32_t>(data[i]) << (8 * i);
      std::snprintf(number, sizeof(number), "%08x", value);
      return Write(quoted + u"=dword:" + Ascii(number) + u"\r\n");
    }
    case platform::kRegExpandSz: {
      size_t written =
          Write(u"; expand: \"" + Readable(Escape(StringData(data, size))) + u"\"\r\n");
      return written + WriteHex(quoted + u"=hex(2):", data, size);
    }
    case platform::kRegMultiSz: {
      std::u16string readable;
      const char16_t* units = reinterpret_cast<const char16_t*>(data);
      for (int32_t i = 0; data != nullptr && i < size / 2; ++i) {
        if (units[i] == 0)
          readable += u"; ";
        else if (units[i] < 32)
          readable += u'.';
        else
          readable += units[i];
      }
      if (readable.size() > kMaxTextChars) readable.resize(kMaxTextChars);
      size_t written = Write(u"; multi: \"" + readable + u"\"\r\n");
      return written + WriteHex(quoted + u"=hex(7):", data, size);
    }
    case platform::kRegBinary:
      return WriteHex(quoted + u"=hex:", data, size);
    default:
      std::snprintf(number, sizeof(number), "%x", type);
      return WriteHex(quoted + u"=hex(" + Ascii(number) + u"):", data, size);
  }
}

bool RegBackupFile::TakeUnrepresentable() {
  if (!Lock()) return true;
  std::lock_guard<std::recursive_mutex> hold(lock_, std::adopt_lock);
  const bool was = unrepresentable_;
  unrepresentable_ = false;
  return was;
}

void RegBackupFile::MarkUnrepresentable() {
  if (!Lock()) return;
  std::lock_guard<std::recursive_mutex> hold(lock_, std::adopt_lock);
  unrepresentable_ = true;
}

bool RegBackupFile::Flush() {
  if (!Lock()) return false;
  std::lock_guard<std::recursive_mutex> hold(lock_, std::adopt_lock);
  if (file_ == nullptr) return false;
  WriteBufferOut();
  if (!fs_->FlushFileBuffers(file_)) writeFailed_ = true;
  return !writeFailed_;
}

void RegBackupFile::Close() {
  if (!Lock()) return;
  std::lock_guard<std::recursive_mutex> hold(lock_, std::adopt_lock);
  if (file_ == nullptr) return;
  WriteBufferOut();
  fs_->CloseHandle(file_);
  file_ = nullptr;
  fill_ = 0;
}

void RegBackupFile::Discard() {
  if (!Lock()) return;
  std::lock_guard<std::recursive_mutex> hold(lock_, std::adopt_lock);
  fill_ = 0;
  if (file_ != nullptr) fs_->CloseHandle(file_);
  file_ = nullptr;
  sections_.Clear();
  fs_->DeleteFile(path_);
}

RegBackupFile* OpenBackupFile(std::u16string_view folder, std::u16string_view category,
                              platform::FileSystem* fs, platform::System* system) {
  const std::u16string path = std::u16string(folder) + u"\\" + std::u16string(category) + u".reg";
  RegBackupFile* file =
      new (std::nothrow) RegBackupFile(path, RegBackupFile::kBackupBufferChars, fs, system);
  if (file != nullptr) file->WriteHeader();
  return file;
}

size_t BackupValue(platform::HKey root, std::u16string_view keyPath, const char16_t* valueName,
                   const uint8_t* data, int32_t size, uint32_t type, RegBackupFile* file) {
  if (file == nullptr) {
    g_lastSection.clear();
    return 0;
  }
  size_t written = 0;
  const std::u16string section = SectionPath(root, keyPath);
  if (!platform::EqualsIgnoreCase(section, g_lastSection)) {
    g_lastSection = section;
    written += file->WriteSection(root, keyPath);
  }
  return written + file->WriteValue(valueName, data, size, type);
}

namespace {

uint32_t BackupCallback(platform::HKey root, const char16_t* keyPath, const char16_t* valueName,
                        const uint8_t* data, uint32_t dataSize, uint32_t type, uint32_t flags,
                        void* context) {
  auto* file = static_cast<RegBackupFile*>(context);
  if (file == nullptr) return 0;
  if (flags & WALK_LINK_EVENT) {
    // A .reg file has no way to say "link": the key it lies below could not
    // be given back whole, so it stays, and the user is told why.
    EngineLogPrintf(11,
                    "Backup: %s\\%ls is a registry link, which a .reg file cannot hold; the "
                    "entry stays",
                    RootKeyNameA(root), keyPath);
    file->MarkUnrepresentable();
    return 0;
  }
  if (flags & WALK_INEXACT) {
    EngineLogPrintf(11,
                    "Backup: a value of %s\\%ls could not be read whole (a NUL in its name, or it "
                    "changed meanwhile); the entry stays",
                    RootKeyNameA(root), keyPath);
    file->MarkUnrepresentable();
    return 0;
  }
  if (valueName == nullptr) return static_cast<uint32_t>(file->WriteSection(root, keyPath));
  return static_cast<uint32_t>(
      file->WriteValue(valueName, data, static_cast<int32_t>(dataSize), type));
}

}  // namespace

size_t BackupKeyTree(platform::HKey root, std::u16string_view keyPath, uint32_t sam,
                     RegBackupFile* file) {
  uint32_t flags = WALK_VALUES | WALK_KEYS | WALK_RECURSE | WALK_WHOLE;
  if (Is64BitOs) {
    if (IsWow64 && (sam & platform::kKeyWow64_64Key)) flags |= platform::kKeyWow64_64Key;
    if (!IsWow64 && (sam & platform::kKeyWow64_32Key)) flags |= platform::kKeyWow64_32Key;
  }
  const size_t written = WalkKeyTree(root, keyPath, sam, BackupCallback, flags, file);
  // The tree wrote sections of its own: a value backed up next needs its
  // section again, or its line would land under the tree's last key.
  g_lastSection.clear();
  return written;
}

size_t WriteRestoreBatch(const RegCleanerEngine& engine, platform::FileSystem* fs,
                         platform::System* system) {
  const std::u16string path = engine.runBackupFolder + u"\\" +
                              LoadResourceText(engine.resourceModule, kIdsRestoreName) + u".bat";
  MyLogfile batch(platform::U16ToAnsi(path).c_str(), 4096, 0, 1048576, fs, system);
  if (batch.SizeWithBuffer() > 0) {
    batch.Wipe();
    batch.Reopen();
  }
  size_t written = 0;
  written += batch.WriteText("@ECHO off\r\n");
  if (OsLevel > 2) {
    written += batch.PrintfRaw("CHOICE /T 28 /D N /M \"%ls\"\r\n\r\n",
                               LoadResourceText(engine.resourceModule, kIdsRestorePrompt));
    written += batch.WriteText("IF ERRORLEVEL 2 GOTO END\r\n\r\n");
  }
  written += batch.WriteText("DATE /T >> Result.txt\r\n");
  written += batch.WriteText("TIME /T >> Result.txt\r\n");
  // The command processor that imports: a 32-bit cmd on a 64-bit system
  // reaches the 64-bit one (and so the 64-bit registry view) only through
  // "sysnative", which a 64-bit cmd does not have; so the batch asks. The
  // file name is quoted: a run folder's name holds a blank.
  written += batch.WriteText("SET \"RESTORE_CMD=%SystemRoot%\\System32\\cmd.exe\"\r\n");
  written += batch.WriteText(
      "IF EXIST \"%SystemRoot%\\sysnative\\cmd.exe\" "
      "SET \"RESTORE_CMD=%SystemRoot%\\sysnative\\cmd.exe\"\r\n");
  written += batch.WriteText(
      "\"%RESTORE_CMD%\" /D /C \"FOR /R %%G IN (*.reg) DO reg import \"%%G\"\" >> "
      "Result.txt\r\n\r\n");
  written += batch.WriteText(":END\r\n\r\n");
  written += batch.WriteText("@ECHO on\r\n\r\n");
  const bool onDisk = batch.EverOpened() && batch.Flush() == written;
  batch.Close();
  return onDisk ? written : 0;
}
