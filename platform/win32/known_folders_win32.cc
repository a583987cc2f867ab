// The shell's known folders. SHGetKnownFolderPath exists from Windows Vista
// on, so it is looked up at run time; SHGetSpecialFolderPathW is older.
#include "platform/win32/win32.h"
// clang-format off
#include <objbase.h>
#include <shlobj.h>
// clang-format on

#include "platform/known_folders.h"

namespace platform {
namespace {

using GetKnownFolderPathFn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);

constexpr DWORD kKnownFolderDefaultPath = 0x400;  // KF_FLAG_DEFAULT_PATH

// The KNOWNFOLDERID of each CSIDL asked for here.
const GUID* FolderId(int csidl) {
  static const GUID kSystem = {
      0x1ac14e77, 0x02e7, 0x4e5d, {0xb7, 0x44, 0x2e, 0xb1, 0xae, 0x51, 0x98, 0xb7}};
  static const GUID kSystemX86 = {
      0xd65231b0, 0xb2f1, 0x4857, {0xa4, 0xce, 0xa8, 0xe7, 0xc6, 0xea, 0x7d, 0x27}};
  static const GUID kProgramFiles = {
      0x905e63b6, 0xc1bf, 0x494e, {0xb2, 0x9c, 0x65, 0xb7, 0x32, 0xd3, 0xd2, 0x1a}};
  static const GUID kProgramFilesX86 = {
      0x7c5a40ef, 0xa0fb, 0x4bfc, {0x87, 0x4a, 0xc0, 0xf2, 0xe0, 0xb9, 0xfa, 0x8e}};
  static const GUID kProgramFilesCommon = {
      0xf7f1ed05, 0x9f6d, 0x47a2, {0xaa, 0xae, 0x29, 0xd3, 0x17, 0xc6, 0xf0, 0x66}};
  static const GUID kProgramFilesCommonX86 = {
      0xde974d24, 0xd9c6, 0x4d3e, {0xbf, 0x91, 0xf4, 0x45, 0x51, 0x20, 0xb9, 0x17}};
  switch (csidl) {
    case kCsidlSystem:
      return &kSystem;
    case kCsidlSystemX86:
      return &kSystemX86;
    case kCsidlProgramFiles:
      return &kProgramFiles;
    case kCsidlProgramFilesX86:
      return &kProgramFilesX86;
    case kCsidlProgramFilesCommon:
      return &kProgramFilesCommon;
    case kCsidlProgramFilesCommonX86:
      return &kProgramFilesCommonX86;
    default:
      return nullptr;
  }
}

GetKnownFolderPathFn KnownFolderCall() {
  static const GetKnownFolderPathFn call = [] {
    HMODULE shell = ::GetModuleHandleW(L"shell32.dll");
    if (shell == nullptr) shell = ::LoadLibraryW(L"shell32.dll");
    if (shell == nullptr) return GetKnownFolderPathFn{nullptr};
    return reinterpret_cast<GetKnownFolderPathFn>(
        reinterpret_cast<void*>(::GetProcAddress(shell, "SHGetKnownFolderPath")));
  }();
  return call;
}

}  // namespace

bool GetKnownFolderPath(int csidl, std::u16string* path) {
  path->clear();
  const GUID* id = FolderId(csidl);
  const GetKnownFolderPathFn call = KnownFolderCall();
  if (id == nullptr || call == nullptr) return false;
  PWSTR text = nullptr;
  if (SUCCEEDED(call(*id, kKnownFolderDefaultPath, nullptr, &text)) && text != nullptr)
    path->assign(text, text + wcslen(text));
  ::CoTaskMemFree(text);
  return !path->empty();
}

bool GetSpecialFolderPath(int csidl, std::u16string* path) {
  path->clear();
  wchar_t buffer[MAX_PATH + 1] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return false;
  path->assign(buffer, buffer + wcslen(buffer));
  return !path->empty();
}

}  // namespace platform
