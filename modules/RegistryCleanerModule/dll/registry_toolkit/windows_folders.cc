#include "modules/RegistryCleanerModule/dll/registry_toolkit/windows_folders.h"

#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"
#include "platform/environment.h"
#include "platform/known_folders.h"

namespace {

constexpr size_t kFolderChars = 1024;

std::u16string WithBackslash(std::u16string folder) {
  if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
  FitToCapacity(&folder, kFolderChars);
  return folder;
}

std::u16string WithoutBackslash(std::u16string folder) {
  if (!folder.empty() && folder.back() == u'\\') folder.pop_back();
  return folder;
}

std::u16string Folder(int csidl, int osLevel) {
  return WithBackslash(KnownFolderPath(csidl, osLevel));
}

}  // namespace

std::u16string KnownFolderPath(int csidl, int osLevel) {
  std::u16string path;
  if (osLevel > 2 && platform::GetKnownFolderPath(csidl, &path) && !path.empty()) return path;
  if (platform::GetSpecialFolderPath(csidl, &path) && !path.empty()) return path;
  return {};
}

WindowsFolders LoadWindowsFolders(const ResolverFacts& facts, platform::FileSystem* fs) {
  WindowsFolders folders;
  std::u16string systemRoot;
  if (platform::GetEnvironmentVariable(u"SystemRoot", &systemRoot))
    folders.systemRootDir = WithBackslash(systemRoot);
  folders.frameworkDir = folders.systemRootDir + u"Microsoft.NET\\Framework";
  folders.expandedRundll32Path =
      platform::ExpandEnvironmentStrings(u"%SystemRoot%\\System32\\rundll32.exe");
  FitToCapacity(&folders.expandedRundll32Path, kFolderChars);
  folders.systemDirectory = fs->GetSystemDirectory();
  if (!facts.is64BitOs) return folders;

  const int level = facts.osLevel;
  folders.nativeSystemDir = Folder(platform::kCsidlSystem, level);
  folders.systemDir = folders.nativeSystemDir;
  folders.systemX86Dir = Folder(platform::kCsidlSystemX86, level);
  folders.programFilesDir = Folder(platform::kCsidlProgramFiles, level);
  folders.programFilesX86Dir = Folder(platform::kCsidlProgramFilesX86, level);
  folders.commonFilesDir = Folder(platform::kCsidlProgramFilesCommon, level);
  folders.commonFilesX86Dir = Folder(platform::kCsidlProgramFilesCommonX86, level);
  if (facts.isWow64) {
    // A 32-bit process sees System32 redirected and the (x86) folders as its
    // Program Files; the native ones are reached by these names.
    ReplaceOnce(&folders.nativeSystemDir, u"\\System32\\", u"\\Sysnative\\", false, kFolderChars);
    ReplaceOnce(&folders.programFilesDir, u" (x86)\\", u"\\", false, kFolderChars);
    ReplaceOnce(&folders.commonFilesDir, u" (x86)\\", u"\\", false, kFolderChars);
  }
  return folders;
}

std::u16string NativeSystemFolder(const WindowsFolders& folders, const ResolverFacts& facts) {
  if (!facts.is64BitOs) return folders.systemDirectory;
  return WithoutBackslash(facts.isWow64 ? folders.nativeSystemDir : folders.systemDir);
}
