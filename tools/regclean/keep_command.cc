#include "tools/regclean/keep_command.h"

#include <iterator>

#include "framework/install_config.h"
#include "modules/RegistryCleanerModule/dll/reg_list_text.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "platform/file_system.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/registry_paths.h"
#include "platform/system.h"
#include "platform/system_text.h"
#include "tools/regclean/clean_command.h"

namespace regclean {

const char kKeepUsage[] =
    "Usage: regclean [--prefix DIR] keep KEY [VALUE]\n"
    "       regclean [--prefix DIR] keep --list\n"
    "       regclean [--prefix DIR] keep --remove KEY [VALUE]\n"
    "Keeps an entry: adds it to the black list of the cleaner, so that no check\n"
    "lists it and no resolve removes it. KEY is written as check prints it\n"
    "(HKLM and the other short root names will do); VALUE is the path a check\n"
    "names under a key without \"[value ...]\" (shared DLL counters, Installer\n"
    "folders). An entry printed with \"[value ...]\" is kept by its KEY alone; a\n"
    "COM class by its InprocServer32 key or its class key.\n"
    "  --list     print the entries kept, one a line\n"
    "  --remove   take an entry out of the list again\n"
    "The list is BlackList.cfg in the cleaner's content folder.\n"
    "Exit status: 0 done, 2 error (a key that is not there, a list that cannot be\n"
    "read or written).\n";

namespace {

using platform::FileSystem;

// Marks the lines "resolve --only" and "--skip" add for one resolve.
constexpr char16_t kTemporaryMarker[] =
    u"; regclean: the lines below keep entries out of one resolve only";
constexpr char16_t kNewListHead[] =
    u"; The black list of the registry cleaner: entries that no check lists and no\r\n"
    u"; resolve removes, one a line: KEY[, VALUE]. \"regclean keep\" edits it.\r\n";

std::string Ansi(std::u16string_view text) { return platform::U16ToAnsi(text); }

bool EndsWithIgnoreCase(std::u16string_view text, std::u16string_view ending) {
  return text.size() >= ending.size() &&
         EqualsIgnoreCase(text.substr(text.size() - ending.size()), ending);
}

std::string Utf16LeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::string EntryText(const BlackListFile::Entry& entry) {
  std::string text = Ansi(entry.key);
  if (!entry.value.empty()) text += "  [value " + Ansi(entry.value) + "]";
  if (!entry.parameter.empty()) text += "  (" + Ansi(entry.parameter) + ")";
  return text;
}

// The folders of path that are not there yet, made from the top down.
bool MakeFolders(FileSystem* fs, const std::u16string& path) {
  if (path.empty() || fs->GetFileAttributes(path) != platform::kInvalidFileAttributes) return true;
  const size_t slash = path.find_last_of(u"\\/");
  if (slash != std::u16string::npos && slash > 2 && !MakeFolders(fs, path.substr(0, slash)))
    return false;
  return fs->CreateDirectory(path);
}

bool SameEntry(const RegListLine& line, std::u16string_view key, std::u16string_view value) {
  const std::u16string_view lineValue = line.value == u"*" ? std::u16string_view() : line.value;
  return EqualsIgnoreCase(line.key, key) && EqualsIgnoreCase(lineValue, value);
}

}  // namespace

std::u16string ModuleContentFolder() {
  platform::System* system = platform::System::Default();
  const std::u16string host = system->GetHostFileName();
  const std::u16string module = host.substr(0, host.find_last_of(u"\\/") + 1) +
                                u"modules\\RegistryCleanerModule\\RegistryCleanerModule.dll";
  return UserContentFolder(module, system, FileSystem::Default()) + u"RegCleanerDll";
}

bool BlackListFile::Load(const std::u16string& path, std::string* error) {
  path_ = path;
  original_.clear();
  text_.clear();
  byteOrderMark_ = true;
  FileSystem* fs = FileSystem::Default();
  existed_ = fs->GetFileAttributes(path) != platform::kInvalidFileAttributes;
  if (existed_ && !platform::ReadWholeFile(fs, path, &original_)) {
    *error = "cannot read " + platform::HostPath(path);
    return false;
  }
  if (original_.empty()) return true;
  if (!DecodeRegListFile(original_, &text_)) {
    *error = platform::HostPath(path) +
             " is not a list the cleaner reads (it must be UTF-16 LE text of more than 28 bytes)";
    return false;
  }
  byteOrderMark_ = !text_.empty() && text_.front() == 0xFEFF;
  if (byteOrderMark_) text_.erase(0, 1);
  for (const RegListLine& line : ParseRegListText(text_)) {
    std::u16string_view content = std::u16string_view(text_).substr(line.begin);
    while (!content.empty() && content.front() <= 32) content.remove_prefix(1);
    if (content.substr(0, std::size(kTemporaryMarker) - 1) == kTemporaryMarker) {
      text_.resize(line.begin);
      break;
    }
  }
  return true;
}

std::vector<BlackListFile::Entry> BlackListFile::Entries() const {
  std::vector<Entry> entries;
  for (const RegListLine& line : ParseRegListText(text_)) {
    if (line.kind != RegListLine::Kind::kEntry) continue;
    entries.push_back(
        Entry{line.key, line.value == u"*" ? std::u16string() : line.value, line.parameter});
  }
  return entries;
}

void BlackListFile::Append(const std::vector<std::u16string>& lines, bool temporary) {
  if (text_.empty()) text_ = kNewListHead;
  if (text_.back() != u'\n') text_ += u"\r\n";
  bool section = false;
  for (const RegListLine& line : ParseRegListText(text_))
    section = section || line.kind == RegListLine::Kind::kSection;
  if (temporary) text_ += std::u16string(kTemporaryMarker) + u"\r\n";
  if (!section) text_ += u"[RegList]\r\n";
  for (const std::u16string& line : lines) text_ += line + u"\r\n";
}

int BlackListFile::Remove(std::u16string_view key, std::u16string_view value) {
  int removed = 0;
  const std::vector<RegListLine> lines = ParseRegListText(text_);
  for (size_t i = lines.size(); i-- > 0;) {
    if (lines[i].kind != RegListLine::Kind::kEntry || !SameEntry(lines[i], key, value)) continue;
    text_.erase(lines[i].begin, lines[i].next - lines[i].begin);
    ++removed;
  }
  return removed;
}

bool BlackListFile::WriteBytes(const std::string& bytes, std::string* error) const {
  FileSystem* fs = FileSystem::Default();
  const size_t slash = path_.find_last_of(u"\\/");
  const std::u16string fresh = path_ + u".new";
  if ((slash != std::u16string::npos && !MakeFolders(fs, path_.substr(0, slash))) ||
      !platform::WriteWholeFile(fs, fresh, bytes) ||
      !fs->MoveFile(fresh, path_, platform::kMoveFileReplaceExisting)) {
    *error = "cannot write " + platform::HostPath(path_) + " (error " +
             std::to_string(fs->GetLastError()) + ")";
    fs->DeleteFile(fresh);
    return false;
  }
  return true;
}

bool BlackListFile::Save(std::string* error) const {
  return WriteBytes(Utf16LeBytes((byteOrderMark_ ? u"\xFEFF" : u"") + text_), error);
}

bool BlackListFile::Restore(std::string* error) const {
  if (existed_) return WriteBytes(original_, error);
  FileSystem* fs = FileSystem::Default();
  if (fs->DeleteFile(path_) || fs->GetFileAttributes(path_) == platform::kInvalidFileAttributes)
    return true;
  *error = "cannot remove " + platform::HostPath(path_);
  return false;
}

bool EntryFromArguments(const std::string& key, const std::string& value, std::u16string* entryKey,
                        std::u16string* entryValue, std::string* error) {
  platform::HKey root = platform::kNullKey;
  std::u16string subKey;
  if (!platform::ParseKeyPath(platform::AnsiToU16(key), &root, &subKey) || subKey.empty()) {
    *error = "no registry key " + key +
             ": a key starts with its root (HKEY_LOCAL_MACHINE\\..., HKLM\\...) and names a "
             "key below it";
    return false;
  }
  *entryValue = platform::AnsiToU16(value);
  if (*entryValue == u"(default)") entryValue->clear();
  constexpr std::u16string_view kServer = u"\\InprocServer32";
  if (entryValue->empty() && EndsWithIgnoreCase(subKey, kServer))
    subKey.resize(subKey.size() - kServer.size());
  *entryKey = std::u16string(platform::RootKeyName(root)) + u"\\" + subKey;
  return true;
}

int RunKeep(const std::vector<std::string>& operands, bool list, bool remove, std::ostream& out,
            std::ostream& err) {
  BlackListFile file;
  std::string error;
  if (!file.Load(ModuleContentFolder() + u"\\BlackList.cfg", &error)) {
    err << "regclean: " << error << "; nothing was changed\n";
    return kFailed;
  }
  if (list) {
    const std::vector<BlackListFile::Entry> entries = file.Entries();
    for (const BlackListFile::Entry& entry : entries) out << EntryText(entry) << "\n";
    if (entries.empty())
      err << "regclean: the black list " << platform::HostPath(file.path()) << " keeps no entry\n";
    return kNothingFound;
  }

  std::u16string key, value;
  if (!EntryFromArguments(operands[0], operands.size() > 1 ? operands[1] : std::string(), &key,
                          &value, &error)) {
    err << "regclean: " << error << "\n";
    return kFailed;
  }
  const std::string shown = EntryText({key, value, {}});
  if (remove) {
    if (file.Remove(key, value) == 0) {
      err << "regclean: " << shown << " is not in the black list "
          << platform::HostPath(file.path()) << "; nothing was changed\n";
      return kFailed;
    }
  } else {
    for (const BlackListFile::Entry& entry : file.Entries()) {
      if (EqualsIgnoreCase(entry.key, key) && EqualsIgnoreCase(entry.value, value)) {
        out << "Already kept: " << shown << "\n";
        return kNothingFound;
      }
    }
    // Only what is there: a typing error must not pass for a kept entry.
    platform::Registry* registry = platform::Registry::Default();
    platform::HKey root = platform::kNullKey;
    std::u16string subKey;
    platform::ParseKeyPath(key, &root, &subKey);
    platform::HKey opened = platform::kNullKey;
    if (registry->RegOpenKeyExW(root, subKey, 0, platform::kKeyRead | platform::kKeyWow64_64Key,
                                &opened) != platform::kRegSuccess) {
      err << "regclean: no key " << Ansi(key) << " in the registry; nothing was changed\n";
      return kFailed;
    }
    platform::RegValue found;
    const bool valueThere =
        value.empty() || platform::QueryValue(registry, opened, value, &found) == 0;
    registry->RegCloseKey(opened);
    if (!valueThere) {
      err << "regclean: the key " << Ansi(key) << " has no value " << Ansi(value)
          << "; nothing was changed\n";
      return kFailed;
    }
    const std::u16string line = FormatRegListEntry(key, value);
    if (line.empty()) {
      err << "regclean: " << shown
          << " cannot be written in the black list (a double quote, a line break or blanks at "
             "an end); nothing was changed\n";
      return kFailed;
    }
    file.Append({line}, false);
  }
  if (!file.Save(&error)) {
    err << "regclean: " << error << "; nothing was changed\n";
    return kFailed;
  }
  out << (remove ? "No longer kept: " : "Kept: ") << shown << "\n";
  return kNothingFound;
}

int RunKeepCommand(std::string prefix, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err) {
  bool list = false, remove = false;
  std::vector<std::string> operands;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help") {
      out << kKeepUsage;
      return kNothingFound;
    } else if (args[i] == "--list") {
      list = true;
    } else if (args[i] == "--remove") {
      remove = true;
    } else if (args[i] == "--prefix" && i + 1 < args.size()) {
      prefix = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      err << "regclean: unknown option " << args[i] << " for keep\n" << kKeepUsage;
      return kFailed;
    } else {
      operands.push_back(args[i]);
    }
  }
  const char* wrong = list && remove              ? "--list and --remove exclude each other"
                      : list && !operands.empty() ? "--list takes no KEY"
                      : !list && (operands.empty() || operands.size() > 2)
                          ? "keep takes KEY [VALUE]"
                          : nullptr;
  if (wrong != nullptr) {
    err << "regclean: " << wrong << "\n" << kKeepUsage;
    return kFailed;
  }
  const uint32_t selected = platform::SelectMachine(prefix);
  if (selected == 120) {
    err << "regclean: --prefix works only where the machine is a Wine prefix\n";
    return kFailed;
  }
  if (selected != 0 || !platform::MachineExists()) {
    err << "regclean: no Wine prefix at " << platform::MachineName()
        << ": give --prefix DIR or set WINEPREFIX\n";
    return kFailed;
  }
  return RunKeep(operands, list, remove, out, err);
}

}  // namespace regclean
