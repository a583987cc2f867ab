#include "framework/install_config.h"

#include <mutex>
#include <vector>

#include "framework/system_services.h"
#include "platform/profile.h"
#include "support/kv_ini_file_reader.h"
#include "support/kv_path.h"

namespace {

bool Exists(platform::FileSystem* fs, const std::u16string& path) {
  return fs->GetFileAttributes(path) != platform::kInvalidFileAttributes;
}

// The library's folder, then one and two folders higher.
std::vector<std::u16string> ModuleFolders(platform::System* system,
                                          std::u16string_view moduleFile = {}) {
  std::vector<std::u16string> folders;
  std::u16string folder = KvOSAL::ParentFolder(moduleFile.empty() ? GetModuleFilePath(system)
                                                                  : std::u16string(moduleFile));
  for (int i = 0; i < 3; ++i) {
    folders.push_back(folder);
    folder = KvOSAL::ParentFolder(folder);
  }
  return folders;
}

std::mutex g_pathLock;
std::u16string g_installConfigPath;
bool g_installConfigPathSet = false;

}  // namespace

std::u16string InstallConfigFile(platform::System* system, platform::FileSystem* fs) {
  const std::u16string host = KvOSAL::ParentFolder(GetHostFilePath(system)) + u"\\install.cfg";
  if (Exists(fs, host)) return host;
  const std::vector<std::u16string> folders = ModuleFolders(system);
  for (size_t i = 0; i + 1 < folders.size(); ++i) {
    const std::u16string candidate = folders[i] + u"\\install.cfg";
    if (Exists(fs, candidate)) return candidate;
  }
  return folders.back() + u"\\install.cfg";
}

std::u16string ReadInstallConfig(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue, bool reread,
                                 platform::System* system, platform::FileSystem* fs) {
  const std::u16string file = InstallConfigFile(system, fs);
  if (!Exists(fs, file)) return std::u16string(defaultValue);
  if (reread) CKVIniFileReader::DropCachedFile(file);
  CKVIniFileReader reader(fs, system);
  const std::u16string sectionText(section), keyText(key), defaultText(defaultValue);
  std::u16string value;
  if (!reader.Load(file.c_str())) return defaultText;
  reader.GetValue(sectionText.c_str(), keyText.c_str(), defaultText.c_str(), &value);
  return value;
}

std::u16string InstallConfigPathFor(std::u16string_view moduleFile, platform::System* system,
                                    platform::FileSystem* fs) {
  auto longForm = [fs](const std::u16string& path) {
    std::u16string full;
    return fs->GetLongPathName(path, &full) ? full : path;
  };
  auto hasLanguage = [](const std::u16string& path) {
    return !platform::GetPrivateProfileString(u"Install", u"Language", u"", path).empty();
  };
  std::vector<std::u16string> candidates{KvOSAL::ParentFolder(GetHostFilePath(system)) +
                                         u"\\Install.cfg"};
  for (const std::u16string& folder : ModuleFolders(system, moduleFile))
    candidates.push_back(folder + u"\\Install.cfg");
  for (size_t i = 0; i + 1 < candidates.size(); ++i)
    if (hasLanguage(candidates[i])) return longForm(candidates[i]);
  return longForm(candidates.back());
}

std::u16string InstallConfigPath(platform::System* system, platform::FileSystem* fs) {
  std::lock_guard<std::mutex> lock(g_pathLock);
  if (!g_installConfigPathSet) {
    g_installConfigPath = InstallConfigPathFor({}, system, fs);
    g_installConfigPathSet = true;
  }
  return g_installConfigPath;
}

std::u16string UserContentFolder(std::u16string_view moduleFile, platform::System* system,
                                 platform::FileSystem* fs) {
  constexpr size_t kMaxContentPathChars = 1024;
  const std::u16string settings = moduleFile.empty() ? InstallConfigPath(system, fs)
                                                     : InstallConfigPathFor(moduleFile, system, fs);
  const std::u16string configured =
      platform::GetPrivateProfileString(u"install", u"UserContentPath", u"NULL", settings)
          .substr(0, kMaxContentPathChars);
  return ContentFolderPath(configured, fs);
}

std::u16string ContentFolderPath(std::u16string_view configured, platform::FileSystem* fs) {
  std::u16string folder(configured);
  if (!folder.empty() && folder.back() == u'\\') folder.pop_back();
  folder = fs->GetFullPathName(folder);
  if (folder.empty() || folder.back() != u'\\') folder.push_back(u'\\');
  return folder;
}

void ResetInstallConfigPath() {
  std::lock_guard<std::mutex> lock(g_pathLock);
  g_installConfigPath.clear();
  g_installConfigPathSet = false;
}

void SetInstallConfigPath(std::u16string path) {
  std::lock_guard<std::mutex> lock(g_pathLock);
  g_installConfigPath = std::move(path);
  g_installConfigPathSet = true;
}
