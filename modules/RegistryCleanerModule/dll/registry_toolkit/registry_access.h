// The engine's way into the registry and the WOW64 machinery: the platform
// facts, the access masks that carry the view, string values with
// environment expansion, the key walker with its callbacks, deletion in a
// view, reflection, the system file protection test, the root key names and
// a scoped switch for file-system redirection.
//
// The module is a 32-bit program. On a 64-bit system it reads the native
// view everywhere and reaches the data of 32-bit programs through explicit
// Wow6432Node paths, which every scanner lists as a second scan root.
//
// Failures are silent here: an open, query or enumeration error reads as an
// empty key. Everything runs on the engine's worker thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/registry.h"
#include "platform/system.h"

// The registry every engine operation works on: Registry::Default() unless a
// test (or a host) set another one. Setting null restores the default.
platform::Registry* EngineRegistry();
void SetEngineRegistry(platform::Registry* registry);

// Platform facts, set once by InitPlatformFacts at the module's start.
extern bool Is64BitOs;  // the native architecture is AMD64
extern bool IsWow64;    // this process runs under WOW64
// 0 unknown or safe mode (and Windows 9x before 4), 1 Windows 9x, 2 NT 4 and
// earlier and every other NT, 3 NT 6.0 workstation, 4 NT 6.1 workstation.
extern int OsLevel;

// OsLevel of a version report; versionRead false when it could not be read.
int ComputeOsLevel(bool versionRead, const platform::OsVersion& version);
void InitPlatformFacts(platform::System* system = platform::System::Default());

// KEY_READ with the view: none on a 32-bit system, the 64-bit view under
// WOW64, else the 32-bit view.
uint32_t ReadAccessMask();
// The same with KEY_SET_VALUE and KEY_CREATE_SUB_KEY.
uint32_t WriteAccessMask();

// A place a scanner reads. A list of them ends with an empty path.
struct ScanRoot {
  platform::HKey root;
  const char16_t* path;
  uint32_t view;  // 1 the native path, 0 its Wow6432Node twin
};

// Walk flags.
constexpr uint32_t WALK_VALUES = 0x001;       // enumerate the values of each key
constexpr uint32_t WALK_VALUE_EVENT = 0x002;  // set on value callbacks
constexpr uint32_t WALK_KEYS = 0x004;         // call back for keys, enumerate subkeys
constexpr uint32_t WALK_KEY_EVENT = 0x008;    // set on the callback of a visited key
constexpr uint32_t WALK_RECURSE = 0x010;      // descend into subkeys
constexpr uint32_t WALK_CHILD_EVENT = 0x020;  // set on the callback of a subkey not descended
constexpr uint32_t WALK_LINK_EVENT = 0x040;   // set on the callback of a symbolic-link key
// Set on a value callback whose value could not be read whole: its name holds
// a NUL unit (valueName stops there) or it changed while read (valueName "").
constexpr uint32_t WALK_INEXACT = 0x080;
constexpr uint32_t WALK_CHILDREN_FIRST = 0x400;  // last index first; subkeys before the key
// The walk goes to its end although a stop was asked: the entry in hand is
// backed up and deleted whole, never in part.
constexpr uint32_t WALK_WHOLE = 0x800;
// The walker stops descending when this little stack is left.
constexpr size_t kWalkStackReserve = 8192;

// Called per key (valueName null) or value. keyPath is NUL-terminated.
// Returns a count; the walker sums them.
using WalkCallback = uint32_t (*)(platform::HKey root, const char16_t* keyPath,
                                  const char16_t* valueName, const uint8_t* data, uint32_t dataSize,
                                  uint32_t type, uint32_t flags, void* context);

// The string value valueName ("" the default) of keyPath into buffer
// (bufferBytes bytes). Only REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ are taken;
// expandable text is expanded, as is any text beginning with "%"; the strings
// of a REG_MULTI_SZ are joined by blanks. Returns the text's length; 0 when
// nothing usable was read, and then the buffer is all zero.
uint32_t ReadStringValue(platform::HKey root, std::u16string_view keyPath,
                         std::u16string_view valueName, uint32_t sam, char16_t* buffer,
                         uint32_t bufferBytes);
// The same for a caller that keeps only the text: when nothing usable was
// read the buffer is left as it is, not cleared. *tooLong (when given) tells
// a value that exists but did not fit.
uint32_t ReadStringValueUncleared(platform::HKey root, std::u16string_view keyPath,
                                  std::u16string_view valueName, uint32_t sam, char16_t* buffer,
                                  uint32_t bufferBytes, bool* tooLong = nullptr);
// After a value read into room (roomChars units) that was not cleared
// first: the bytes behind the data's dataBytes, through the next whole unit,
// become zero, so the text ends where it would have in cleared room.
void EndTextAfterData(char16_t* room, uint32_t roomChars, uint32_t dataBytes);
// Expands REG_EXPAND_SZ text always (then REG_SZ is returned) and other text
// when it begins with "%" (type unchanged). Text whose expansion fails or
// needs more than 2048 units stays as it was; the result is cut to capacity.
uint32_t ExpandEnvInPlace(char16_t* text, uint32_t capacityChars, uint32_t valueType);

// Calls back for each value of keyPath (last first with
// WALK_CHILDREN_FIRST). Returns the sum of the callback results.
uint32_t EnumValues(platform::HKey root, std::u16string_view keyPath, uint32_t sam,
                    WalkCallback callback, uint32_t flags, void* context);
// Walks keyPath (empty: the root itself) as the flags say. Subkeys named
// Wow6432Node, in any case, are skipped with all they hold. A symbolic-link
// key (keyPath itself or any key below it) is never followed: with WALK_KEYS
// it gets one callback with WALK_LINK_EVENT, and neither its values nor the
// key it points to are visited. A child whose
// walk throws is abandoned with its partial total and the walk goes on; on
// Windows a structured exception (an access violation) is not a C++
// exception in code built with MinGW and is not caught. Returns the sum of
// the callback results.
uint32_t WalkKeyTree(platform::HKey root, std::u16string_view keyPath, uint32_t sam,
                     WalkCallback callback, uint32_t flags, void* context);

// True when key, opened with kRegOptionOpenLink, is a symbolic link (it
// holds the link's target as "SymbolicLinkValue" of type REG_LINK).
bool IsLinkKey(platform::HKey key);

// Deletes one key without subkeys in the view of sam's view bits (the plain
// delete where the system has no view-aware one). Returns the Win32 code.
uint32_t DeleteKeyView(platform::HKey root, std::u16string_view keyPath, uint32_t sam);

bool IsReflectionEnabled(platform::HKey key);
bool DisableReflection(platform::HKey key);

// Nonzero when system file protection guards the key; always 0 below
// OsLevel 3.
uint32_t IsKeyProtectedBySfc(platform::HKey root, std::u16string_view keyPath, uint32_t sam);

// "HKEY_CLASSES_ROOT" ... "HKEY_DYN_DATA" for the seven predefined roots,
// "..." for any other handle. Static text.
const char* RootKeyNameA(platform::HKey root);
const char16_t* RootKeyNameW(platform::HKey root);

// Switches WOW64 file-system redirection off for the calling thread while it
// lives (with disableNow) and back on when it ends.
class FsRedirectionSwitch {
 public:
  explicit FsRedirectionSwitch(bool disableNow,
                               platform::System* system = platform::System::Default());
  virtual ~FsRedirectionSwitch();
  FsRedirectionSwitch(const FsRedirectionSwitch&) = delete;
  FsRedirectionSwitch& operator=(const FsRedirectionSwitch&) = delete;

  // The system call's result (nonzero: done); 0 when the system lacks it.
  int Disable();
  int Revert();
  bool available() const { return available_; }
  bool disabled() const { return disabled_; }

 private:
  platform::System* system_;
  void* savedState_ = nullptr;
  bool disabled_ = false;  // a disable succeeded and was not reverted yet
  bool available_ = true;  // false once the system said it lacks the calls
};
