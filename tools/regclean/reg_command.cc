#include "tools/regclean/reg_command.h"

#include <cstdio>
#include <iostream>
#include <optional>

#include "platform/file_system.h"
#include "platform/machine.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/registry_paths.h"
#include "platform/system_text.h"
#include "platform/unicode.h"
#include "tools/regclean/clean_command.h"

namespace regclean {

const char kRegUsage[] =
    "Usage: regclean [--prefix DIR] reg query KEY [/v NAME | /ve] [/s] [/reg:32 | /reg:64]\n"
    "       regclean [--prefix DIR] reg export KEY FILE [/y] [/reg:32 | /reg:64]\n"
    "       regclean [--prefix DIR] reg import FILE [/reg:32 | /reg:64]\n"
    "       regclean [--prefix DIR] reg delete KEY [/v NAME | /ve | /va] [/f] [/reg:32 | /reg:64]\n"
    "KEY is ROOT\\path, ROOT one of HKLM, HKCU, HKCR, HKU, HKCC or their long names\n"
    "(HKEY_LOCAL_MACHINE ...). The machine is the Wine prefix of --prefix DIR, else of\n"
    "$WINEPREFIX, else ~/.wine. Without /reg:32 keys are seen in the 64-bit view.\n";

namespace {

using platform::HKey;
using platform::Registry;

constexpr char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.\n";
constexpr char kDone[] = "The operation completed successfully.\n";

std::string Text(std::u16string_view text) { return platform::U16ToAnsi(text); }

// The switches and operands of one operation.
struct Arguments {
  std::vector<std::u16string> operands;
  std::optional<std::u16string> valueName;  // /v NAME, or "" for /ve
  bool allValues = false;                   // /va
  bool recurse = false;                     // /s
  bool force = false;                       // /f
  bool overwrite = false;                   // /y
  uint32_t view = platform::kKeyWow64_64Key;
};

bool IsSwitch(std::u16string_view arg, std::u16string_view name) {
  return arg.size() == name.size() + 1 && (arg[0] == u'/' || arg[0] == u'-') &&
         platform::AsciiEqualsIgnoreCase(arg.substr(1), name);
}

// Parses the arguments after the operation; allowed lists the switches the
// operation takes. False on anything else.
bool ParseArguments(const std::vector<std::u16string>& args, std::u16string_view allowed,
                    Arguments* parsed) {
  auto allows = [&](std::u16string_view name) {
    return allowed.find(std::u16string(u" ") + std::u16string(name) + u" ") !=
           std::u16string_view::npos;
  };
  bool viewSet = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::u16string& arg = args[i];
    if (IsSwitch(arg, u"v") && allows(u"v") && i + 1 < args.size() && !parsed->valueName) {
      parsed->valueName = args[++i];
    } else if (IsSwitch(arg, u"ve") && allows(u"ve") && !parsed->valueName) {
      parsed->valueName = u"";
    } else if (IsSwitch(arg, u"va") && allows(u"va")) {
      parsed->allValues = true;
    } else if (IsSwitch(arg, u"s") && allows(u"s")) {
      parsed->recurse = true;
    } else if (IsSwitch(arg, u"f") && allows(u"f")) {
      parsed->force = true;
    } else if (IsSwitch(arg, u"y") && allows(u"y")) {
      parsed->overwrite = true;
    } else if ((IsSwitch(arg, u"reg:32") || IsSwitch(arg, u"reg:64")) && !viewSet) {
      parsed->view = arg.back() == u'2' ? platform::kKeyWow64_32Key : platform::kKeyWow64_64Key;
      viewSet = true;
    } else if (IsSwitch(arg, u"v") || IsSwitch(arg, u"ve") || IsSwitch(arg, u"va") ||
               IsSwitch(arg, u"s") || IsSwitch(arg, u"f") || IsSwitch(arg, u"y") ||
               IsSwitch(arg, u"reg:32") || IsSwitch(arg, u"reg:64")) {
      return false;  // a switch this operation does not take, or given twice
    } else {
      // Anything else is an operand: on POSIX a file name may begin with "/".
      parsed->operands.push_back(arg);
    }
  }
  return !(parsed->allValues && parsed->valueName);
}

class RegCommand {
 public:
  RegCommand(std::ostream& out, std::ostream& err)
      : out_(out), err_(err), registry_(Registry::Default()) {}

  int Run(const std::vector<std::u16string>& args);

 private:
  int Usage() {
    err_ << "ERROR: Invalid syntax.\n" << kRegUsage;
    return 1;
  }
  // Reports a registry error of a change.
  int ChangeFailed(uint32_t error, const std::string& what);
  // Saves the changes; 0 or 1.
  int Save();
  bool ParseKey(const std::u16string& text, HKey* root, std::u16string* subKey);

  int Query(const Arguments& args);
  void QueryKey(HKey key, const std::u16string& path, const Arguments& args, int* matches);
  void PrintValue(const platform::RegValue& value);
  int Export(const Arguments& args);
  int Import(const Arguments& args);
  int Delete(const Arguments& args);

  std::ostream& out_;
  std::ostream& err_;
  Registry* registry_;
};

int RegCommand::Run(const std::vector<std::u16string>& args) {
  if (args.empty()) return Usage();
  const std::u16string& operation = args[0];
  if (IsSwitch(operation, u"?") || IsSwitch(operation, u"h")) {
    out_ << kRegUsage;
    return 0;
  }
  Arguments parsed;
  if (platform::AsciiEqualsIgnoreCase(operation, u"query")) {
    if (!ParseArguments(args, u" v ve s ", &parsed) || parsed.operands.size() != 1) return Usage();
    return Query(parsed);
  }
  if (platform::AsciiEqualsIgnoreCase(operation, u"export")) {
    if (!ParseArguments(args, u" y ", &parsed) || parsed.operands.size() != 2) return Usage();
    return Export(parsed);
  }
  if (platform::AsciiEqualsIgnoreCase(operation, u"import")) {
    if (!ParseArguments(args, u" ", &parsed) || parsed.operands.size() != 1) return Usage();
    if (!HoldMachineForChanges(err_, "ERROR: ")) return 1;
    return Import(parsed);
  }
  if (platform::AsciiEqualsIgnoreCase(operation, u"delete")) {
    if (!ParseArguments(args, u" v ve va f ", &parsed) || parsed.operands.size() != 1) {
      return Usage();
    }
    if (!HoldMachineForChanges(err_, "ERROR: ")) return 1;
    return Delete(parsed);
  }
  err_ << "ERROR: Invalid operation " << Text(operation) << ".\n" << kRegUsage;
  return 1;
}

bool RegCommand::ParseKey(const std::u16string& text, HKey* root, std::u16string* subKey) {
  if (platform::ParseKeyPath(text, root, subKey)) return true;
  err_ << "ERROR: Invalid key name " << Text(text)
       << ": it must begin with HKLM, HKCU, HKCR, HKU or HKCC (or their long names).\n";
  return false;
}

int RegCommand::ChangeFailed(uint32_t error, const std::string& what) {
  if (error == platform::kRegAccessDenied && platform::MachineRegistryLocked()) {
    err_ << "ERROR: a wineserver is running on the prefix " << platform::MachineName()
         << "; nothing was changed. Stop it with: wineserver -k\n";
  } else if (error == platform::kRegAccessDenied) {
    err_ << "ERROR: Access is denied (" << what << ").\n";
  } else if (error == platform::kRegFileNotFound) {
    err_ << kNotFound;
  } else {
    err_ << "ERROR: " << what << " failed with error " << error << ".\n";
  }
  return 1;
}

int RegCommand::Save() {
  const uint32_t error = registry_->Flush();
  if (error == platform::kRegSuccess) return 0;
  return ChangeFailed(error, "saving the registry");
}

std::string TypeName(uint32_t type) {
  static const char* const kNames[] = {"REG_NONE",
                                       "REG_SZ",
                                       "REG_EXPAND_SZ",
                                       "REG_BINARY",
                                       "REG_DWORD",
                                       "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",
                                       "REG_MULTI_SZ",
                                       "REG_RESOURCE_LIST",
                                       "REG_FULL_RESOURCE_DESCRIPTOR",
                                       "REG_RESOURCE_REQUIREMENTS_LIST",
                                       "REG_QWORD"};
  if (type < sizeof(kNames) / sizeof(kNames[0])) return kNames[type];
  char name[32];
  std::snprintf(name, sizeof(name), "REG_UNKNOWN(0x%x)", static_cast<unsigned>(type));
  return name;
}

// The value's data as reg.exe shows it.
std::string DataText(const platform::RegValue& value) {
  const std::vector<uint8_t>& data = value.data;
  char number[32];
  switch (value.type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
    case platform::kRegMultiSz: {
      std::u16string text(data.size() / 2, u'\0');
      for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
      }
      if (value.type != platform::kRegMultiSz) return Text(text.substr(0, text.find(u'\0')));
      // The strings joined by a written \0, as reg.exe shows them.
      while (!text.empty() && text.back() == u'\0') text.pop_back();
      std::string joined;
      size_t start = 0;
      for (size_t nul = text.find(u'\0'); nul != std::u16string::npos;
           start = nul + 1, nul = text.find(u'\0', start)) {
        joined += Text(std::u16string_view(text).substr(start, nul - start)) + "\\0";
      }
      return joined + Text(std::u16string_view(text).substr(start));
    }
    case platform::kRegDword:
    case platform::kRegDwordBigEndian:
      if (data.size() == 4) {
        uint32_t n = data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t{data[3]} << 24);
        if (value.type == platform::kRegDwordBigEndian) {
          n = (n >> 24) | ((n >> 8) & 0xFF00) | ((n << 8) & 0xFF0000) | (n << 24);
        }
        std::snprintf(number, sizeof(number), "0x%x", static_cast<unsigned>(n));
        return number;
      }
      break;
    case platform::kRegQword:
      if (data.size() == 8) {
        uint64_t n = 0;
        for (size_t i = 8; i-- > 0;) n = (n << 8) | data[i];
        std::snprintf(number, sizeof(number), "0x%llx", static_cast<unsigned long long>(n));
        return number;
      }
      break;
    default:
      break;
  }
  std::string hex;
  for (uint8_t byte : data) {
    std::snprintf(number, sizeof(number), "%02X", byte);
    hex += number;
  }
  return hex;
}

void RegCommand::PrintValue(const platform::RegValue& value) {
  out_ << "    " << (value.name.empty() ? std::string("(Default)") : Text(value.name)) << "    "
       << TypeName(value.type) << "    " << DataText(value) << "\n";
}

void RegCommand::QueryKey(HKey key, const std::u16string& path, const Arguments& args,
                          int* matches) {
  platform::RegValue value;
  if (args.valueName) {
    if (platform::QueryValue(registry_, key, *args.valueName, &value) == platform::kRegSuccess) {
      out_ << Text(path) << "\n";
      PrintValue(value);
      out_ << "\n";
      ++*matches;
    }
  } else {
    out_ << Text(path) << "\n";
    for (uint32_t i = 0; platform::EnumValue(registry_, key, i, &value) == platform::kRegSuccess;
         ++i) {
      PrintValue(value);
    }
    out_ << "\n";
    ++*matches;
  }
  std::u16string name;
  bool listed = false;
  for (uint32_t i = 0; platform::EnumKey(registry_, key, i, &name) == platform::kRegSuccess; ++i) {
    const std::u16string childPath = path + u"\\" + name;
    if (!args.recurse) {
      if (!args.valueName) out_ << Text(childPath) << "\n";
      listed = true;
      continue;
    }
    HKey child;
    if (registry_->RegOpenKeyExW(key, name, 0, platform::kKeyRead | args.view, &child) ==
        platform::kRegSuccess) {
      QueryKey(child, childPath, args, matches);
      registry_->RegCloseKey(child);
    }
  }
  if (listed && !args.valueName) out_ << "\n";
}

int RegCommand::Query(const Arguments& args) {
  HKey root;
  std::u16string subKey;
  if (!ParseKey(args.operands[0], &root, &subKey)) return 1;
  HKey key;
  if (registry_->RegOpenKeyExW(root, subKey, 0, platform::kKeyRead | args.view, &key) !=
      platform::kRegSuccess) {
    err_ << kNotFound;
    return 1;
  }
  std::u16string path(platform::RootKeyName(root));
  if (!subKey.empty()) path += u"\\" + subKey;
  out_ << "\n";
  int matches = 0;
  QueryKey(key, path, args, &matches);
  registry_->RegCloseKey(key);
  if (matches == 0) {
    err_ << kNotFound;
    return 1;
  }
  if (args.valueName && args.recurse) out_ << "End of search: " << matches << " match(es) found.\n";
  return 0;
}

int RegCommand::Export(const Arguments& args) {
  HKey root;
  std::u16string subKey;
  if (!ParseKey(args.operands[0], &root, &subKey)) return 1;
  platform::FileSystem* fs = platform::FileSystem::Default();
  const std::u16string& file = args.operands[1];
  if (!args.overwrite && fs->GetFileAttributes(file) != platform::kInvalidFileAttributes) {
    err_ << "ERROR: " << Text(file) << " exists; add /y to overwrite it.\n";
    return 1;
  }
  const platform::RegExportResult exported =
      platform::ExportRegFile(registry_, root, subKey, args.view);
  if (exported.error != platform::kRegSuccess) {
    err_ << kNotFound;
    return 1;
  }
  if (!exported.problems.empty()) {
    for (const std::string& problem : exported.problems) err_ << "ERROR: " << problem << "\n";
    err_ << "ERROR: nothing was written to " << Text(file) << ".\n";
    return 1;
  }
  if (!platform::WriteWholeFile(fs, file, exported.bytes)) {
    err_ << "ERROR: cannot write " << Text(file) << " (error " << fs->GetLastError() << ").\n";
    return 1;
  }
  out_ << kDone;
  return 0;
}

int RegCommand::Import(const Arguments& args) {
  platform::FileSystem* fs = platform::FileSystem::Default();
  const std::u16string& file = args.operands[0];
  std::string bytes;
  if (!platform::ReadWholeFile(fs, file, &bytes)) {
    err_ << "ERROR: cannot read " << Text(file) << " (error " << fs->GetLastError() << ").\n";
    return 1;
  }
  const platform::RegImportResult result = platform::ImportRegFile(registry_, bytes, args.view);
  if (result.writeError == platform::kRegAccessDenied && platform::MachineRegistryLocked()) {
    return ChangeFailed(result.writeError, "importing");
  }
  for (const platform::RegFileProblem& problem : result.problems) {
    err_ << Text(file) << ":" << problem.line << ": " << problem.message << "\n";
  }
  if (!result.recognized) {
    err_ << "ERROR: " << Text(file) << " is not a registry file; nothing was imported.\n";
    return 1;
  }
  if (Save() != 0) return 1;
  if (!result.problems.empty()) {
    err_ << "ERROR: " << result.problems.size()
         << " line(s) of the file could not be imported; the rest was.\n";
    return 1;
  }
  out_ << kDone;
  return 0;
}

int RegCommand::Delete(const Arguments& args) {
  HKey root;
  std::u16string subKey;
  if (!ParseKey(args.operands[0], &root, &subKey)) return 1;
  const bool wholeKey = !args.valueName && !args.allValues;
  if (wholeKey && subKey.empty()) {
    err_ << "ERROR: a root key cannot be deleted.\n";
    return 1;
  }
  if (!args.force) {
    out_ << (wholeKey ? "Permanently delete the registry key " : "Delete the registry value(s) of ")
         << Text(args.operands[0]) << " (Yes/No)? " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer.empty() || (answer[0] != 'y' && answer[0] != 'Y')) {
      out_ << "The operation was cancelled.\n";
      return 0;
    }
  }
  uint32_t error = platform::kRegSuccess;
  if (wholeKey) {
    error = platform::DeleteKeyTree(registry_, root, subKey, args.view);
  } else {
    HKey key;
    error = registry_->RegOpenKeyExW(root, subKey, 0, platform::kKeyAllAccess | args.view, &key);
    if (error == platform::kRegSuccess) {
      if (args.valueName) {
        error = registry_->RegDeleteValueW(key, *args.valueName);
      } else {
        platform::RegValue value;
        while (error == platform::kRegSuccess &&
               platform::EnumValue(registry_, key, 0, &value) == platform::kRegSuccess) {
          error = registry_->RegDeleteValueW(key, value.name);
        }
      }
      registry_->RegCloseKey(key);
    }
  }
  if (error != platform::kRegSuccess) return ChangeFailed(error, "deleting");
  if (Save() != 0) return 1;
  out_ << kDone;
  return 0;
}

}  // namespace

int RunRegCommand(const std::vector<std::u16string>& args, std::ostream& out, std::ostream& err) {
  return RegCommand(out, err).Run(args);
}

}  // namespace regclean
