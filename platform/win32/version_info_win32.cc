#include <cstdio>

#include "platform/version_info.h"
#include "platform/win32/win32.h"

namespace platform {

bool ReadVersionResource(std::u16string_view path, const std::vector<std::u16string>& names,
                         VersionResource* out) {
  *out = VersionResource{};
  const std::wstring file(path.begin(), path.end());
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<unsigned char> data(size);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return false;

  void* block = nullptr;
  UINT length = 0;
  if (::VerQueryValueW(data.data(), L"\\", &block, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    out->fileVersion[0] = HIWORD(fixed->dwFileVersionMS);
    out->fileVersion[1] = LOWORD(fixed->dwFileVersionMS);
    out->fileVersion[2] = HIWORD(fixed->dwFileVersionLS);
    out->fileVersion[3] = LOWORD(fixed->dwFileVersionLS);
    out->hasFixedVersion = true;
  }
  unsigned language = 0x0409, codePage = 1200;
  if (::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &block, &length) &&
      length >= 4) {
    const WORD* pair = static_cast<const WORD*>(block);
    language = pair[0];
    codePage = pair[1];
  }
  for (const std::u16string& name : names) {
    wchar_t query[128];
    std::swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", language, codePage,
                  std::wstring(name.begin(), name.end()).c_str());
    if (::VerQueryValueW(data.data(), query, &block, &length) && length > 0) {
      const wchar_t* text = static_cast<const wchar_t*>(block);
      std::u16string value;
      for (UINT i = 0; i < length && text[i] != 0; ++i)
        value.push_back(static_cast<char16_t>(text[i]));
      out->strings.emplace_back(name, std::move(value));
    }
  }
  return true;
}

}  // namespace platform
