// The registry seam. It speaks Win32's language so that the engine reads like
// the Windows code it is: predefined roots 0x80000000..0x80000006, access
// masks whose bits 0x100/0x200 choose the 64-bit or 32-bit view, Win32 error
// codes as results, enumeration by index. The Win32 backend forwards to the
// real API; the POSIX backend is the in-memory registry filled from a Wine
// prefix's hive files.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// An open key or a predefined root. Opaque: compare it, never compute with it.
enum class HKey : uintptr_t {};

constexpr HKey kNullKey{0};
constexpr HKey kHkeyClassesRoot{0x80000000u};
constexpr HKey kHkeyCurrentUser{0x80000001u};
constexpr HKey kHkeyLocalMachine{0x80000002u};
constexpr HKey kHkeyUsers{0x80000003u};
constexpr HKey kHkeyPerformanceData{0x80000004u};
constexpr HKey kHkeyCurrentConfig{0x80000005u};
constexpr HKey kHkeyDynData{0x80000006u};

// True for the seven predefined roots above.
constexpr bool IsPredefinedKey(HKey key) {
  return static_cast<uintptr_t>(key) >= 0x80000000u && static_cast<uintptr_t>(key) <= 0x80000006u;
}

// Access rights (REGSAM).
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyNotify = 0x0010;
constexpr uint32_t kKeyWow64_64Key = 0x0100;
constexpr uint32_t kKeyWow64_32Key = 0x0200;
constexpr uint32_t kKeyWow64Res = 0x0300;
// Opens a symbolic-link key itself instead of the key it points to.
constexpr uint32_t kRegOptionOpenLink = 0x0008;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyAllAccess = 0xF003F;

// Value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegDwordBigEndian = 5;
constexpr uint32_t kRegLink = 6;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// RegCreateKeyExW options and dispositions.
constexpr uint32_t kRegOptionNonVolatile = 0;
constexpr uint32_t kRegOptionVolatile = 1;
constexpr uint32_t kRegCreatedNewKey = 1;
constexpr uint32_t kRegOpenedExistingKey = 2;

// Win32 error codes the registry reports (the same numbers as file_system.h).
constexpr uint32_t kRegSuccess = 0;
constexpr uint32_t kRegFileNotFound = 2;
constexpr uint32_t kRegAccessDenied = 5;
constexpr uint32_t kRegInvalidHandle = 6;
constexpr uint32_t kRegNotEnoughMemory = 8;
constexpr uint32_t kRegInvalidParameter = 87;
constexpr uint32_t kRegCallNotImplemented = 120;
constexpr uint32_t kRegMoreData = 234;
constexpr uint32_t kRegNoMoreItems = 259;
constexpr uint32_t kRegKeyDeleted = 1018;

// What RegQueryInfoKeyW reports about a key. Lengths of names are in
// characters without the terminating NUL; data lengths are in bytes.
struct RegKeyInfo {
  uint32_t subKeys = 0;
  uint32_t maxSubKeyLen = 0;
  uint32_t maxClassLen = 0;
  uint32_t values = 0;
  uint32_t maxValueNameLen = 0;
  uint32_t maxValueLen = 0;
  uint32_t classLen = 0;
  uint64_t lastWriteTime = 0;  // FILETIME: 100 ns units since 1601, UTC
};

// Every operation returns a Win32 error code (0 on success). Names are UTF-16
// without a terminator; an empty subKey means the key itself. Output buffers
// follow the Win32 contracts stated per call.
// Thread-safe: every backend may be called from several threads at once.
class Registry {
 public:
  virtual ~Registry() = default;

  // The backend of this platform. Never null; lives for the process.
  static Registry* Default();

  // Opens subKey below key. The view bits of sam choose the view; without a
  // view bit a 64-bit machine gives the 32-bit view (this module is a 32-bit
  // process), so a path below HKLM\Software steps into Wow6432Node.
  // Both view bits at once give 87. Links are followed.
  virtual uint32_t RegOpenKeyExW(HKey key, std::u16string_view subKey, uint32_t options,
                                 uint32_t sam, HKey* result) = 0;
  // Opens subKey, creating it and every missing key above it. disposition
  // (may be null) receives kRegCreatedNewKey or kRegOpenedExistingKey.
  virtual uint32_t RegCreateKeyExW(HKey key, std::u16string_view subKey, uint32_t options,
                                   uint32_t sam, HKey* result, uint32_t* disposition) = 0;
  // Closing a predefined root succeeds and does nothing.
  virtual uint32_t RegCloseKey(HKey key) = 0;

  // The name of subkey number index into name (nameChars characters including
  // the NUL written after the name). 234 when it does not fit, 259 past the
  // last subkey. Subkeys come sorted by name, ignoring case.
  virtual uint32_t RegEnumKeyW(HKey key, uint32_t index, char16_t* name, uint32_t nameChars) = 0;
  // Value number index. *nameChars: in, the capacity of name in characters
  // including the NUL; out, the length of the name. Without room for the name
  // the result is 234 and *nameChars is unchanged. type and dataBytes may be
  // null; data may be null (then *dataBytes receives the size). With data and
  // too small a *dataBytes the result is 234 and *dataBytes the size needed.
  // A string whose data lacks a final NUL gets one when the buffer has room.
  virtual uint32_t RegEnumValueW(HKey key, uint32_t index, char16_t* name, uint32_t* nameChars,
                                 uint32_t* type, uint8_t* data, uint32_t* dataBytes) = 0;
  // The value named valueName ("" is the default value); type, data and
  // dataBytes as for RegEnumValueW. 2 when the value does not exist.
  virtual uint32_t RegQueryValueExW(HKey key, std::u16string_view valueName, uint32_t* type,
                                    uint8_t* data, uint32_t* dataBytes) = 0;
  virtual uint32_t RegQueryInfoKeyW(HKey key, RegKeyInfo* info) = 0;
  // The numbers of subkeys and values alone, as RegQueryInfoKeyW gives them:
  // a backend may answer without the pass over every entry that the longest
  // names and data take.
  virtual uint32_t RegQueryKeyCounts(HKey key, uint32_t* subKeys, uint32_t* values) {
    if (subKeys == nullptr || values == nullptr) return kRegInvalidParameter;
    RegKeyInfo info;
    const uint32_t error = RegQueryInfoKeyW(key, &info);
    if (error == 0) {
      *subKeys = info.subKeys;
      *values = info.values;
    }
    return error;
  }

  // The value valueName of key's subkey subKey, opened with sam: what
  // RegOpenKeyExW, RegQueryValueExW and RegCloseKey give in turn (the open's
  // error when it fails). A backend may read it without a handle.
  virtual uint32_t RegQueryValueBelow(HKey key, std::u16string_view subKey, uint32_t sam,
                                      std::u16string_view valueName, uint32_t* type, uint8_t* data,
                                      uint32_t* dataBytes) {
    HKey opened;
    const uint32_t error = RegOpenKeyExW(key, subKey, 0, sam, &opened);
    if (error != 0) return error;
    const uint32_t read = RegQueryValueExW(opened, valueName, type, data, dataBytes);
    RegCloseKey(opened);
    return read;
  }

  virtual uint32_t RegSetValueExW(HKey key, std::u16string_view valueName, uint32_t type,
                                  const uint8_t* data, uint32_t dataBytes) = 0;
  // Deletes subKey of key (empty: key itself) in the view of an access without
  // view bits. A key that has subkeys is kept and gives 5, as on Windows.
  virtual uint32_t RegDeleteKeyW(HKey key, std::u16string_view subKey) = 0;
  // As RegDeleteKeyW in the view chosen by sam's view bits. 120 where the
  // platform lacks the call.
  virtual uint32_t RegDeleteKeyExW(HKey key, std::u16string_view subKey, uint32_t sam) = 0;
  virtual uint32_t RegDeleteValueW(HKey key, std::u16string_view valueName) = 0;
  // Deletes the symbolic-link key subKey itself, in the view chosen by sam's
  // view bits; the key it points to stays as it is. 2 when subKey does not
  // exist, 87 when it is not a link.
  virtual uint32_t RegDeleteLinkKey(HKey key, std::u16string_view subKey, uint32_t sam) = 0;
  // Asks for the key's changes to be made lasting: at once on Windows; on a
  // Wine prefix, as with Wine's own server, with the next Flush().
  virtual uint32_t RegFlushKey(HKey key) = 0;

  // Registry reflection. Where it does not exist the query reports it
  // disabled and the switch succeeds; 120 where the platform lacks the call.
  virtual uint32_t RegQueryReflectionKey(HKey key, bool* disabled) = 0;
  virtual uint32_t RegDisableReflectionKey(HKey key) = 0;

  // System file protection: nonzero when the system guards the key (sam
  // carries the view). Windows asks SfcIsKeyProtected in sfc.dll, 0 when that
  // is missing; a machine without the protection service never protects.
  virtual uint32_t SfcIsKeyProtected(HKey root, std::u16string_view subKey, uint32_t sam) = 0;

  // Writes every change made so far to lasting storage: nothing to do on
  // Windows; on POSIX the prefix's hive files. The engine calls it at the end
  // of a run and at destruction; the POSIX backend also at process exit.
  // Returns the first failure's error; failedStore (may be null) then
  // receives the name of the store that could not be written (a hive file).
  virtual uint32_t Flush(std::u16string* failedStore = nullptr) = 0;
};

// Forwards every call to another Registry; a test derives from it and
// overrides the one call it wants to fake or fail.
class RegistryWrapper : public Registry {
 public:
  explicit RegistryWrapper(Registry* target) : target_(target) {}
  Registry* target() const { return target_; }

  uint32_t RegOpenKeyExW(HKey key, std::u16string_view subKey, uint32_t options, uint32_t sam,
                         HKey* result) override {
    return target_->RegOpenKeyExW(key, subKey, options, sam, result);
  }
  uint32_t RegCreateKeyExW(HKey key, std::u16string_view subKey, uint32_t options, uint32_t sam,
                           HKey* result, uint32_t* disposition) override {
    return target_->RegCreateKeyExW(key, subKey, options, sam, result, disposition);
  }
  uint32_t RegCloseKey(HKey key) override { return target_->RegCloseKey(key); }
  uint32_t RegEnumKeyW(HKey key, uint32_t index, char16_t* name, uint32_t nameChars) override {
    return target_->RegEnumKeyW(key, index, name, nameChars);
  }
  uint32_t RegEnumValueW(HKey key, uint32_t index, char16_t* name, uint32_t* nameChars,
                         uint32_t* type, uint8_t* data, uint32_t* dataBytes) override {
    return target_->RegEnumValueW(key, index, name, nameChars, type, data, dataBytes);
  }
  uint32_t RegQueryValueExW(HKey key, std::u16string_view valueName, uint32_t* type, uint8_t* data,
                            uint32_t* dataBytes) override {
    return target_->RegQueryValueExW(key, valueName, type, data, dataBytes);
  }
  uint32_t RegQueryInfoKeyW(HKey key, RegKeyInfo* info) override {
    return target_->RegQueryInfoKeyW(key, info);
  }
  uint32_t RegSetValueExW(HKey key, std::u16string_view valueName, uint32_t type,
                          const uint8_t* data, uint32_t dataBytes) override {
    return target_->RegSetValueExW(key, valueName, type, data, dataBytes);
  }
  uint32_t RegDeleteKeyW(HKey key, std::u16string_view subKey) override {
    return target_->RegDeleteKeyW(key, subKey);
  }
  uint32_t RegDeleteKeyExW(HKey key, std::u16string_view subKey, uint32_t sam) override {
    return target_->RegDeleteKeyExW(key, subKey, sam);
  }
  uint32_t RegDeleteValueW(HKey key, std::u16string_view valueName) override {
    return target_->RegDeleteValueW(key, valueName);
  }
  uint32_t RegDeleteLinkKey(HKey key, std::u16string_view subKey, uint32_t sam) override {
    return target_->RegDeleteLinkKey(key, subKey, sam);
  }
  uint32_t RegFlushKey(HKey key) override { return target_->RegFlushKey(key); }
  uint32_t RegQueryReflectionKey(HKey key, bool* disabled) override {
    return target_->RegQueryReflectionKey(key, disabled);
  }
  uint32_t RegDisableReflectionKey(HKey key) override {
    return target_->RegDisableReflectionKey(key);
  }
  uint32_t SfcIsKeyProtected(HKey root, std::u16string_view subKey, uint32_t sam) override {
    return target_->SfcIsKeyProtected(root, subKey, sam);
  }
  uint32_t Flush(std::u16string* failedStore = nullptr) override {
    return target_->Flush(failedStore);
  }

 private:
  Registry* target_;
};

}  // namespace platform
