#include "modules/RegistryCleanerModule/dll/delete_entries.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "modules/RegistryCleanerModule/dll/log_format.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "platform/file_system.h"
#include "platform/system_message.h"
#include "platform/unicode.h"

using platform::HKey;

namespace {

constexpr uint32_t kErrorTextChars = 1024;
constexpr uint32_t kWorkChars = 1024;

void LogDeleteKeyFailure(HKey root, const char16_t* keyPath) {
  EngineLogPrintf(3, "DeleteRegKey failed: %s\\%ls", RootKeyNameA(root), keyPath);
}

uint32_t DeleteOneKey(HKey root, const char16_t* keyPath, uint32_t sam) {
  if (IsKeyProtectedBySfc(root, keyPath, sam)) {
    LogDeleteKeyFailure(root, keyPath);
    EngineLogPrintf(4, "Error: Key is protected by SFC");
    return 0;
  }
  const uint32_t error = DeleteKeyView(root, keyPath, sam);
  if (error != platform::kRegSuccess) {
    LogDeleteKeyFailure(root, keyPath);
    EngineLogPrintf(4, "Error: %ls", ErrorText(error));
  }
  return 0;
}

// A symbolic link goes by itself; the key it points to is not ours to delete.
uint32_t DeleteOneLink(HKey root, const char16_t* keyPath, uint32_t sam) {
  const uint32_t error = EngineRegistry()->RegDeleteLinkKey(root, keyPath, sam);
  if (error != platform::kRegSuccess) {
    LogDeleteKeyFailure(root, keyPath);
    EngineLogPrintf(4, "Error: %ls", ErrorText(error));
  }
  return 0;
}

uint32_t PlainDelete(HKey root, const char16_t* keyPath, const char16_t* valueName, const uint8_t*,
                     uint32_t, uint32_t, uint32_t flags, void* context) {
  if (valueName != nullptr) return 0;
  const uint32_t sam = *static_cast<const uint32_t*>(context);
  if (flags & WALK_LINK_EVENT) return DeleteOneLink(root, keyPath, sam);
  return DeleteOneKey(root, keyPath, sam);
}

// Where the system still reflects keys between the views (64-bit Vista), a
// key is cut loose from its twin before it goes.
uint32_t ReflectingDelete(HKey root, const char16_t* keyPath, const char16_t* valueName,
                          const uint8_t*, uint32_t, uint32_t, uint32_t flags, void* context) {
  if (valueName != nullptr) return 0;
  const uint32_t sam = *static_cast<const uint32_t*>(context);
  if (flags & WALK_LINK_EVENT) return DeleteOneLink(root, keyPath, sam);
  platform::Registry* registry = EngineRegistry();
  HKey key = platform::kNullKey;
  if (registry->RegOpenKeyExW(root, keyPath, 0, sam, &key) == platform::kRegSuccess) {
    if (IsReflectionEnabled(key)) DisableReflection(key);
    registry->RegCloseKey(key);
  }
  return DeleteOneKey(root, keyPath, sam);
}

bool IsTrimmed(char16_t c) {
  return c == u' ' || c == 7 || c == u'\t' || c == u'\r' || c == u'\n' || c == u'"';
}

// "%1".."%7" of the message replaced by the arguments.
std::u16string Insert(const std::u16string& message, const char16_t* const* args, int argCount) {
  std::u16string out;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == u'%' && i + 1 < message.size() && message[i + 1] >= u'1' &&
        message[i + 1] <= u'7' && message[i + 1] - u'1' < argCount) {
      const char16_t* arg = args[message[i + 1] - u'1'];
      if (arg != nullptr) out += arg;
      ++i;
      continue;
    }
    out.push_back(message[i]);
  }
  return out;
}

}  // namespace

bool DeleteKeyTree(HKey root, std::u16string_view keyPath, uint32_t sam) {
  uint32_t flags = WALK_KEYS | WALK_RECURSE | WALK_CHILDREN_FIRST | WALK_WHOLE;
  if (Is64BitOs) {
    if (IsWow64 && (sam & platform::kKeyWow64_64Key)) flags |= platform::kKeyWow64_64Key;
    if (!IsWow64 && (sam & platform::kKeyWow64_32Key)) flags |= platform::kKeyWow64_32Key;
  }
  const WalkCallback callback = (OsLevel == 3 && Is64BitOs) ? ReflectingDelete : PlainDelete;
  uint32_t context = sam;
  WalkKeyTree(root, keyPath, sam, callback, flags, &context);
  HKey left = platform::kNullKey;
  if (EngineRegistry()->RegOpenKeyExW(root, keyPath, platform::kRegOptionOpenLink, sam, &left) !=
      platform::kRegSuccess)
    return true;
  EngineRegistry()->RegCloseKey(left);
  return false;
}

int DeleteValue(HKey root, std::u16string_view keyPath, HKey key, std::u16string_view valueName) {
  const uint32_t error = EngineRegistry()->RegDeleteValueW(key, valueName);
  if (error == platform::kRegSuccess) return 1;
  EngineLogPrintf(3, "DeleteRegValue failed: %s\\%ls - Value: %ls", RootKeyNameA(root),
                  std::u16string(keyPath).c_str(), std::u16string(valueName).c_str());
  EngineLogPrintf(4, "Error: %ls", ErrorText(error));
  return 0;
}

uint32_t SystemMessageText(uint32_t code, char16_t* out, uint32_t sizeBytes,
                           const char16_t* const* args, int argCount) {
  if (out == nullptr || sizeBytes < 2) return 0;
  std::memset(out, 0, sizeBytes);
  const uint32_t units = sizeBytes / 2;
  std::u16string message;
  bool fromModule = false;
  if (!platform::LookupSystemMessage(code, &message, &fromModule)) return 0;
  if (message.size() > kWorkChars - 1) message.resize(kWorkChars - 1);

  if (fromModule && argCount >= 1 && argCount <= 7 && args != nullptr &&
      static_cast<int>(std::count(message.begin(), message.end(), u'%')) == argCount)
    message = Insert(message, args, argCount);
  const size_t n = message.size() < units - 1 ? message.size() : units - 1;
  message.copy(out, n);
  out[n] = 0;

  for (uint32_t i = 0; i < units && out[i] != 0; ++i) {
    if (out[i] == u'%')
      out[i] = u'-';
    else if (out[i] == u'\r' || out[i] == u'\n' || out[i] == 7)
      out[i] = u' ';
  }
  size_t length = platform::U16Length(out);
  size_t start = 0;
  while (start < length && IsTrimmed(out[start])) ++start;
  while (length > start && IsTrimmed(out[length - 1])) --length;
  std::memmove(out, out + start, (length - start) * sizeof(char16_t));
  length -= start;
  std::memset(out + length, 0, (units - length) * sizeof(char16_t));
  return static_cast<uint32_t>(length);
}

const char16_t* ErrorText(uint32_t code) {
  static char16_t text[kErrorTextChars];
  std::memset(text, 0, sizeof(text));
  if (SystemMessageText(code, text, 2048, nullptr, 0) == 0) {
    const char16_t unknown[] = u"Unknown Error";
    std::memcpy(text, unknown, sizeof(unknown));
  }
  char suffix[48];
  const int n = std::snprintf(suffix, sizeof(suffix), " (%u [0x%08X])", code & 0xFFFFFFu, code);
  size_t at = platform::U16Length(text);
  for (int i = 0; i < n && at + 1 < kErrorTextChars; ++i)
    text[at++] = static_cast<char16_t>(suffix[i]);
  text[at] = 0;
  return text;
}

uint32_t LogLastError(const char16_t* format, ...) {
  const uint32_t code = platform::FileSystem::Default()->GetLastError();
  MyLogfile* log = EngineLog();
  if (log == nullptr || log->Level() < 3 || format == nullptr) return code;
  std::string message;
  va_list args;
  va_start(args, format);
  const bool ok =
      FormatLogText(platform::U16ToUtf8(format).c_str(), args, 4 * kWorkChars, &message);
  va_end(args);
  if (!ok) message = platform::U16ToUtf8(format);
  // At most 1024 characters of the wide message.
  std::u16string wide = platform::Utf8ToU16(message);
  if (wide.size() > kWorkChars - 1) wide.resize(kWorkChars - 1);
  log->Printf(3, "%s", platform::U16ToUtf8(wide).c_str());
  if (code != 0) log->Printf(4, "Last Error: %s", platform::U16ToUtf8(ErrorText(code)).c_str());
  return code;
}
