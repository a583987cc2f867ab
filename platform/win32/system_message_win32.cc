#include "platform/system_message.h"
#include "platform/win32/win32.h"

namespace platform {
namespace {

constexpr DWORD kWorkChars = 1024;

bool FromTable(DWORD source, HMODULE module, uint32_t code, std::u16string* text) {
  wchar_t work[kWorkChars] = {};
  const DWORD n =
      ::FormatMessageW(source | FORMAT_MESSAGE_IGNORE_INSERTS, module, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), work, kWorkChars, nullptr);
  if (n == 0) return false;
  text->assign(work, work + n);
  return true;
}

}  // namespace

bool LookupSystemMessage(uint32_t code, std::u16string* text, bool* fromModuleTable) {
  text->clear();
  *fromModuleTable = false;
  if (FromTable(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, text)) return true;
  // The first two are always loaded; the others are read as data files when
  // nobody loaded them. What is loaded here stays loaded.
  static const wchar_t* const kModules[] = {L"ntdll.dll", L"kernel32.dll", L"netmsg.dll",
                                            L"wininet.dll"};
  for (const wchar_t* name : kModules) {
    HMODULE module = ::GetModuleHandleW(name);
    if (module == nullptr) module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module != nullptr && FromTable(FORMAT_MESSAGE_FROM_HMODULE, module, code, text)) {
      *fromModuleTable = true;
      return true;
    }
  }
  return false;
}

}  // namespace platform
