#include "platform/wineprefix/wine_environment.h"

#include <algorithm>

#include "platform/case_fold.h"
#include "platform/registry_paths.h"

namespace platform {
namespace {

// The text of a string value, without its terminating NUL(s).
std::u16string ValueText(const RegValue& value) {
  std::u16string text(value.data.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
  }
  const size_t nul = text.find(u'\0');
  if (nul != std::u16string::npos) text.resize(nul);
  return text;
}

HKey OpenForReading(Registry* registry, HKey root, std::u16string_view path) {
  HKey key = kNullKey;
  if (registry->RegOpenKeyExW(root, path, 0, kKeyRead | kKeyWow64_64Key, &key) != kRegSuccess) {
    return kNullKey;
  }
  return key;
}

// Every string value of a key becomes a variable, in the key's order.
void AddKeyVariables(Registry* registry, HKey root, std::u16string_view path,
                     EnvironmentBlock* env) {
  const HKey key = OpenForReading(registry, root, path);
  if (key == kNullKey) return;
  RegValue value;
  for (uint32_t i = 0; EnumValue(registry, key, i, &value) == kRegSuccess; ++i) {
    if (value.type != kRegSz && value.type != kRegExpandSz) continue;
    std::u16string text = ValueText(value);
    if (value.type == kRegExpandSz) text = env->Expand(text);
    const std::u16string* before = env->Find(value.name);
    if (before != nullptr && EqualsIgnoreCase(value.name, u"PATH") && !before->empty()) {
      text = *before + u";" + text;
    }
    env->Set(value.name, text);
  }
  registry->RegCloseKey(key);
}

// name = the expanded string value valueName of key; nothing when it is absent.
void SetFromValue(Registry* registry, HKey key, std::u16string_view valueName,
                  std::u16string_view name, EnvironmentBlock* env) {
  RegValue value;
  if (key == kNullKey || QueryValue(registry, key, valueName, &value) != kRegSuccess) return;
  if (value.type != kRegSz && value.type != kRegExpandSz) return;
  env->Set(name, env->Expand(ValueText(value)));
}

}  // namespace

const std::u16string* EnvironmentBlock::Find(std::u16string_view name) const {
  for (const Variable& variable : variables_) {
    if (EqualsIgnoreCase(variable.name, name)) return &variable.value;
  }
  return nullptr;
}

void EnvironmentBlock::Set(std::u16string_view name, std::u16string_view value) {
  for (Variable& variable : variables_) {
    if (EqualsIgnoreCase(variable.name, name)) {
      variable.value.assign(value);
      return;
    }
  }
  variables_.push_back({std::u16string(name), std::u16string(value)});
}

std::u16string EnvironmentBlock::Expand(std::u16string_view text) const {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    // The text up to the next "%" as it is.
    const size_t mark = std::min(text.find(u'%', i), text.size());
    out.append(text.substr(i, mark - i));
    i = mark;
    if (i == text.size()) break;
    if (text[i] == u'%') {
      const size_t close = text.find(u'%', i + 1);
      if (close != std::u16string_view::npos) {
        const std::u16string* value =
            close > i + 1 ? Find(text.substr(i + 1, close - i - 1)) : nullptr;
        if (value != nullptr) {
          out += *value;
          i = close + 1;
          continue;
        }
        // Not set: the reference stays, and its closing % may open the next.
        out.append(text.substr(i, close - i));
        i = close;
        continue;
      }
    }
    out.push_back(text[i++]);
  }
  return out;
}

EnvironmentBlock BuildWineEnvironment(Registry* registry, bool win64) {
  EnvironmentBlock env;
  env.Set(u"SystemDrive", u"C:");
  env.Set(u"SystemRoot", u"C:\\windows");
  AddKeyVariables(registry, kHkeyLocalMachine,
                  u"System\\CurrentControlSet\\Control\\Session Manager\\Environment", &env);
  AddKeyVariables(registry, kHkeyCurrentUser, u"Environment", &env);
  AddKeyVariables(registry, kHkeyCurrentUser, u"Volatile Environment", &env);

  HKey profiles = OpenForReading(registry, kHkeyLocalMachine,
                                 u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
  SetFromValue(registry, profiles, u"ProgramData", u"ProgramData", &env);
  SetFromValue(registry, profiles, u"ProgramData", u"ALLUSERSPROFILE", &env);
  SetFromValue(registry, profiles, u"Public", u"PUBLIC", &env);
  if (profiles != kNullKey) registry->RegCloseKey(profiles);

  HKey version =
      OpenForReading(registry, kHkeyLocalMachine, u"Software\\Microsoft\\Windows\\CurrentVersion");
  if (win64) {
    SetFromValue(registry, version, u"ProgramFilesDir (x86)", u"ProgramFiles", &env);
    SetFromValue(registry, version, u"ProgramFilesDir (x86)", u"ProgramFiles(x86)", &env);
    SetFromValue(registry, version, u"ProgramFilesDir", u"ProgramW6432", &env);
    SetFromValue(registry, version, u"CommonFilesDir (x86)", u"CommonProgramFiles", &env);
    SetFromValue(registry, version, u"CommonFilesDir (x86)", u"CommonProgramFiles(x86)", &env);
    SetFromValue(registry, version, u"CommonFilesDir", u"CommonProgramW6432", &env);
  } else {
    SetFromValue(registry, version, u"ProgramFilesDir", u"ProgramFiles", &env);
    SetFromValue(registry, version, u"CommonFilesDir", u"CommonProgramFiles", &env);
  }
  if (version != kNullKey) registry->RegCloseKey(version);
  return env;
}

}  // namespace platform
