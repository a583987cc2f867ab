#include "platform/file_system.h"

#include "platform/system.h"

namespace platform {

bool ReadWholeFile(FileSystem* fs, std::u16string_view path, std::string* bytes) {
  FileHandle file =
      fs->CreateFile(path, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting);
  if (file == nullptr) return false;
  bytes->clear();
  uint64_t size = 0;
  if (fs->GetFileSize(file, &size)) bytes->reserve(static_cast<size_t>(size));
  char chunk[65536];
  for (;;) {
    uint32_t read = 0;
    if (!fs->ReadFile(file, chunk, sizeof(chunk), &read)) {
      const uint32_t error = fs->GetLastError();
      fs->CloseHandle(file);
      fs->SetLastError(error);
      return false;
    }
    if (read == 0) break;
    bytes->append(chunk, read);
  }
  fs->CloseHandle(file);
  return true;
}

bool WriteWholeFile(FileSystem* fs, std::u16string_view path, std::string_view bytes) {
  FileHandle file = fs->CreateFile(path, kGenericWrite, 0, kCreateAlways);
  if (file == nullptr) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t left = bytes.size() - done;
    const uint32_t chunk = left > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(left);
    uint32_t written = 0;
    if (!fs->WriteFile(file, bytes.data() + done, chunk, &written) || written == 0) {
      const uint32_t error = fs->GetLastError();
      fs->CloseHandle(file);
      fs->SetLastError(error);
      return false;
    }
    done += written;
  }
  return fs->CloseHandle(file);
}

std::u16string DefaultSearchPath(FileSystem* fs, std::u16string_view pathVariable) {
  std::u16string folders;
  const std::u16string host = System::Default()->GetHostFileName();
  const size_t slash = host.find_last_of(u"\\/");
  if (slash != std::u16string::npos) folders = host.substr(0, slash == 2 ? 3 : slash);
  const std::u16string windows = fs->GetWindowsDirectory();
  for (const std::u16string& folder :
       {fs->GetCurrentDirectory(), fs->GetSystemDirectory(), windows + u"\\system", windows}) {
    if (!folders.empty()) folders += u';';
    folders += folder;
  }
  if (!pathVariable.empty()) {
    folders += u';';
    folders += pathVariable;
  }
  return folders;
}

}  // namespace platform
