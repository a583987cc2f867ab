// The prefix's default folders, as Wine names them for a 32-bit program.
#include "platform/known_folders.h"
#include "platform/system.h"

namespace platform {
namespace {

bool DefaultFolder(int csidl, std::u16string* path) {
  const bool win64 = System::Default()->GetNativeArchitecture() == kArchitectureAmd64;
  // A 32-bit program on a 64-bit prefix gets the (x86) folders as its own.
  const std::u16string programFiles = win64 ? u"C:\\Program Files (x86)" : u"C:\\Program Files";
  switch (csidl) {
    case kCsidlSystem:
      *path = u"C:\\windows\\system32";
      break;
    case kCsidlSystemX86:
      *path = win64 ? u"C:\\windows\\syswow64" : u"C:\\windows\\system32";
      break;
    case kCsidlProgramFiles:
    case kCsidlProgramFilesX86:
      *path = programFiles;
      break;
    case kCsidlProgramFilesCommon:
    case kCsidlProgramFilesCommonX86:
      *path = programFiles + u"\\Common Files";
      break;
    default:
      path->clear();
      return false;
  }
  return true;
}

}  // namespace

bool GetKnownFolderPath(int csidl, std::u16string* path) { return DefaultFolder(csidl, path); }

bool GetSpecialFolderPath(int csidl, std::u16string* path) { return DefaultFolder(csidl, path); }

}  // namespace platform
