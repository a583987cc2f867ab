// Win32 backend of the registry seam: the real calls. The calls that older
// systems lack (RegDeleteKeyExW, the reflection pair) are looked up at run
// time and give 120 where missing.
#include <windows.h>

#include <string>

#include "platform/registry.h"
#include "platform/win32/late_bound.h"

static_assert(sizeof(wchar_t) == 2, "Win32 wide characters are UTF-16 units");

namespace platform {
namespace {

std::wstring W(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

HKEY Native(HKey key) {
  const uintptr_t raw = static_cast<uintptr_t>(key);
  if (IsPredefinedKey(key)) {
    // The predefined handles are sign-extended 32-bit values.
    return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(raw)));
  }
  return reinterpret_cast<HKEY>(raw);
}

HKey Ours(HKEY key) {
  const uintptr_t raw = reinterpret_cast<uintptr_t>(key);
  const uint32_t low = static_cast<uint32_t>(raw);
  if (low >= 0x80000000u && low <= 0x80000006u &&
      static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(low))) == raw) {
    return HKey{low};
  }
  return HKey{raw};
}

template <typename F>
F Lookup(const char* name) {
  return LateBound<F>(L"advapi32.dll", name);
}

using DeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
using QueryReflectionFn = LONG(WINAPI*)(HKEY, BOOL*);
using DisableReflectionFn = LONG(WINAPI*)(HKEY);

class Win32Registry final : public Registry {
 public:
  uint32_t RegOpenKeyExW(HKey key, std::u16string_view subKey, uint32_t options, uint32_t sam,
                         HKey* result) override {
    if (result == nullptr) return kRegInvalidParameter;
    HKEY opened = nullptr;
    const LONG error = ::RegOpenKeyExW(Native(key), W(subKey).c_str(), options, sam, &opened);
    if (error == ERROR_SUCCESS) *result = Ours(opened);
    return static_cast<uint32_t>(error);
  }

  uint32_t RegCreateKeyExW(HKey key, std::u16string_view subKey, uint32_t options, uint32_t sam,
                           HKey* result, uint32_t* disposition) override {
    if (result == nullptr) return kRegInvalidParameter;
    HKEY created = nullptr;
    DWORD how = 0;
    const LONG error = ::RegCreateKeyExW(Native(key), W(subKey).c_str(), 0, nullptr, options, sam,
                                         nullptr, &created, &how);
    if (error == ERROR_SUCCESS) {
      *result = Ours(created);
      if (disposition != nullptr) *disposition = how;
    }
    return static_cast<uint32_t>(error);
  }

  uint32_t RegCloseKey(HKey key) override {
    if (IsPredefinedKey(key)) return kRegSuccess;
    return static_cast<uint32_t>(::RegCloseKey(Native(key)));
  }

  uint32_t RegEnumKeyW(HKey key, uint32_t index, char16_t* name, uint32_t nameChars) override {
    return static_cast<uint32_t>(
        ::RegEnumKeyW(Native(key), index, reinterpret_cast<wchar_t*>(name), nameChars));
  }

  uint32_t RegEnumValueW(HKey key, uint32_t index, char16_t* name, uint32_t* nameChars,
                         uint32_t* type, uint8_t* data, uint32_t* dataBytes) override {
    if (nameChars == nullptr) return kRegInvalidParameter;
    DWORD chars = *nameChars, kind = 0, bytes = dataBytes != nullptr ? *dataBytes : 0;
    const LONG error =
        ::RegEnumValueW(Native(key), index, reinterpret_cast<wchar_t*>(name), &chars, nullptr,
                        &kind, data, dataBytes != nullptr ? &bytes : nullptr);
    if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) {
      if (error == ERROR_SUCCESS) *nameChars = chars;
      if (type != nullptr) *type = kind;
      if (dataBytes != nullptr) *dataBytes = bytes;
    }
    return static_cast<uint32_t>(error);
  }

  uint32_t RegQueryValueExW(HKey key, std::u16string_view valueName, uint32_t* type, uint8_t* data,
                            uint32_t* dataBytes) override {
    DWORD kind = 0, bytes = dataBytes != nullptr ? *dataBytes : 0;
    const LONG error = ::RegQueryValueExW(Native(key), W(valueName).c_str(), nullptr, &kind, data,
                                          dataBytes != nullptr ? &bytes : nullptr);
    if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) {
      if (type != nullptr) *type = kind;
      if (dataBytes != nullptr) *dataBytes = bytes;
    }
    return static_cast<uint32_t>(error);
  }

  uint32_t RegQueryInfoKeyW(HKey key, RegKeyInfo* info) override {
    if (info == nullptr) return kRegInvalidParameter;
    DWORD classLen = 0, subKeys = 0, maxSubKey = 0, maxClass = 0, values = 0, maxValueName = 0,
          maxValue = 0;
    FILETIME written{};
    const LONG error =
        ::RegQueryInfoKeyW(Native(key), nullptr, &classLen, nullptr, &subKeys, &maxSubKey,
                           &maxClass, &values, &maxValueName, &maxValue, nullptr, &written);
    if (error != ERROR_SUCCESS) return static_cast<uint32_t>(error);
    info->subKeys = subKeys;
    info->maxSubKeyLen = maxSubKey;
    info->maxClassLen = maxClass;
    info->values = values;
    info->maxValueNameLen = maxValueName;
    info->maxValueLen = maxValue;
    info->classLen = classLen;
    info->lastWriteTime =
        (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    return kRegSuccess;
  }

  uint32_t RegSetValueExW(HKey key, std::u16string_view valueName, uint32_t type,
                          const uint8_t* data, uint32_t dataBytes) override {
    return static_cast<uint32_t>(
        ::RegSetValueExW(Native(key), W(valueName).c_str(), 0, type, data, dataBytes));
  }

  uint32_t RegDeleteKeyW(HKey key, std::u16string_view subKey) override {
    return static_cast<uint32_t>(::RegDeleteKeyW(Native(key), W(subKey).c_str()));
  }

  uint32_t RegDeleteKeyExW(HKey key, std::u16string_view subKey, uint32_t sam) override {
    static const DeleteKeyExFn deleteKeyEx = Lookup<DeleteKeyExFn>("RegDeleteKeyExW");
    if (deleteKeyEx == nullptr) return kRegCallNotImplemented;
    return static_cast<uint32_t>(deleteKeyEx(Native(key), W(subKey).c_str(), sam, 0));
  }

  uint32_t RegDeleteValueW(HKey key, std::u16string_view valueName) override {
    return static_cast<uint32_t>(::RegDeleteValueW(Native(key), W(valueName).c_str()));
  }

  uint32_t RegDeleteLinkKey(HKey key, std::u16string_view subKey, uint32_t sam) override {
    // RegDeleteKey opens what it deletes and so follows the link; the link
    // itself goes only through a handle opened on it.
    using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
    static const NtDeleteKeyFn ntDeleteKey = [] {
      HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
      return ntdll == nullptr ? nullptr
                              : reinterpret_cast<NtDeleteKeyFn>(reinterpret_cast<void*>(
                                    ::GetProcAddress(ntdll, "NtDeleteKey")));
    }();
    if (ntDeleteKey == nullptr) return kRegCallNotImplemented;
    HKEY link = nullptr;
    LONG error = ::RegOpenKeyExW(Native(key), W(subKey).c_str(), REG_OPTION_OPEN_LINK,
                                 KEY_QUERY_VALUE | DELETE | (sam & kKeyWow64Res), &link);
    if (error != ERROR_SUCCESS) return static_cast<uint32_t>(error);
    DWORD type = 0;
    error = ::RegQueryValueExW(link, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    uint32_t result = kRegInvalidParameter;
    if (error == ERROR_SUCCESS && type == REG_LINK)
      result = ntDeleteKey(link) == 0 ? kRegSuccess : kRegAccessDenied;
    ::RegCloseKey(link);
    return result;
  }

  uint32_t RegFlushKey(HKey key) override {
    return static_cast<uint32_t>(::RegFlushKey(Native(key)));
  }

  uint32_t RegQueryReflectionKey(HKey key, bool* disabled) override {
    if (disabled == nullptr) return kRegInvalidParameter;
    static const QueryReflectionFn query = Lookup<QueryReflectionFn>("RegQueryReflectionKey");
    if (query == nullptr) return kRegCallNotImplemented;
    BOOL off = TRUE;  // a call that writes nothing must not read as enabled
    const LONG error = query(Native(key), &off);
    if (error == ERROR_SUCCESS) *disabled = off != FALSE;
    return static_cast<uint32_t>(error);
  }

  uint32_t RegDisableReflectionKey(HKey key) override {
    static const DisableReflectionFn disable =
        Lookup<DisableReflectionFn>("RegDisableReflectionKey");
    if (disable == nullptr) return kRegCallNotImplemented;
    return static_cast<uint32_t>(disable(Native(key)));
  }

  uint32_t SfcIsKeyProtected(HKey root, std::u16string_view subKey, uint32_t sam) override {
    // sfc.dll stays loaded for the process once it was needed.
    using Fn = BOOL(WINAPI*)(HKEY, LPCWSTR, REGSAM);
    static const Fn isProtected = []() -> Fn {
      HMODULE sfc = ::GetModuleHandleW(L"SFC.DLL");
      if (sfc == nullptr) sfc = ::LoadLibraryW(L"SFC.DLL");
      if (sfc == nullptr) return nullptr;
      return reinterpret_cast<Fn>(
          reinterpret_cast<void*>(::GetProcAddress(sfc, "SfcIsKeyProtected")));
    }();
    if (isProtected == nullptr) return 0;
    return isProtected(Native(root), W(subKey).c_str(), sam) ? 1 : 0;
  }

  uint32_t Flush(std::u16string* = nullptr) override {
    return kRegSuccess;
  }  // Windows keeps its hives itself
};

}  // namespace

Registry* Registry::Default() {
  static Win32Registry registry;
  return &registry;
}

}  // namespace platform
