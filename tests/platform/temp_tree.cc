#include "tests/platform/temp_tree.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <vector>

#include "platform/unicode.h"
#ifndef _WIN32
#include "platform/wineprefix/wine_prefix.h"
#endif

namespace {

std::string UniqueName() {
  std::random_device random;
  return "regclean-test-" + std::to_string(random()) + std::to_string(random());
}

#ifdef _WIN32
// Deletes a folder and everything in it through the seam.
void RemoveTree(platform::FileSystem* fs, const std::u16string& path) {
  std::vector<platform::DirectoryEntry> entries;
  if (fs->ListDirectory(path, &entries)) {
    for (const platform::DirectoryEntry& entry : entries) {
      const std::u16string child = path + u"\\" + entry.name;
      if (entry.attributes & platform::kFileAttributeDirectory) {
        RemoveTree(fs, child);
      } else {
        fs->DeleteFile(child);
      }
    }
  }
  fs->RemoveDirectory(path);
}
#endif

}  // namespace

#ifndef _WIN32
void PlaceBuiltinLibraries(const std::string& prefix) {
  std::ifstream in(prefix + "/system.reg", std::ios::binary);
  const std::string hive((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // In hive text a backslash is written twice.
  static const std::regex library(R"re(C:\\\\windows\\\\system32\\\\([A-Za-z0-9_.-]+))re",
                                  std::regex::icase);
  std::error_code error;
  const std::string folder = prefix + "/drive_c/windows/system32/";
  std::filesystem::create_directories(folder, error);
  for (std::sregex_iterator it(hive.begin(), hive.end(), library), end; it != end; ++it)
    std::ofstream(folder + (*it)[1].str(), std::ios::app);
}
#endif

TempTree::TempTree() {
  savedCurrentDirectory_ = fs_->GetCurrentDirectory();
#ifdef _WIN32
  const char* temp = std::getenv("TEMP");
  if (temp == nullptr) return;
  root_ = platform::Utf8ToU16(temp) + u"\\" + platform::Utf8ToU16(UniqueName());
  ok_ = fs_->CreateDirectory(root_);
#else
  namespace fs = std::filesystem;
  std::error_code error;
  prefix_ = (fs::temp_directory_path(error) / UniqueName()).string();
  fs::create_directories(prefix_ + "/dosdevices", error);
  fs::create_directories(prefix_ + "/drive_c/windows/system32", error);
  fs::create_directories(prefix_ + "/drive_c/windows/system", error);
  fs::create_directories(prefix_ + "/drive_c/Work", error);
  fs::create_directory_symlink("../drive_c", prefix_ + "/dosdevices/c:", error);
  if (!error) fs::create_directory_symlink("/", prefix_ + "/dosdevices/z:", error);
  // The hives of a freshly booted 64-bit prefix, so that the machine's
  // environment (Program Files, PATH ...) is what a real prefix gives.
  const fs::path hives = fs::path(REGCLEAN_SOURCE_DIR) / "tests" / "data" / "wine-hives";
  for (const char* hive : {"system.reg", "user.reg", "userdef.reg"})
    if (!error) fs::copy_file(hives / hive, fs::path(prefix_) / hive, error);
  if (error) return;
  PlaceBuiltinLibraries(prefix_);
  savedPrefix_ = platform::posix::PrefixDirectory();
  platform::posix::SetPrefixDirectory(prefix_);
  root_ = u"C:\\Work";
  ok_ = true;
#endif
}

TempTree::~TempTree() {
  fs_->SetCurrentDirectory(savedCurrentDirectory_);
#ifdef _WIN32
  if (ok_) RemoveTree(fs_, root_);
#else
  if (prefix_.empty()) return;
  platform::posix::SetPrefixDirectory(savedPrefix_);
  // Drop the links first, so that nothing can follow one out of the prefix.
  namespace fs = std::filesystem;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(prefix_ + "/dosdevices", error))
    fs::remove(entry.path(), error);
  fs::remove_all(prefix_, error);
#endif
}

std::u16string TempTree::Path(std::u16string_view relative) const {
  return root_ + u"\\" + std::u16string(relative);
}

bool TempTree::MakeFolders(std::u16string_view path) {
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != u'\\') continue;
    const std::u16string folder(path.substr(0, i));
    if (folder.size() <= 3) continue;  // "C:\" and the like
    if (fs_->GetFileAttributes(folder) == platform::kInvalidFileAttributes &&
        !fs_->CreateDirectory(folder))
      return false;
  }
  return true;
}

bool TempTree::MakeFolder(std::u16string_view relative) { return MakeFolders(Path(relative)); }

bool TempTree::MakeFile(std::u16string_view relative, std::string_view bytes) {
  return MakeFileAt(Path(relative), bytes);
}

bool TempTree::MakeFileAt(std::u16string_view path, std::string_view bytes) {
  const size_t slash = path.rfind(u'\\');
  if (slash != std::u16string_view::npos && !MakeFolders(path.substr(0, slash))) return false;
  return platform::WriteWholeFile(fs_, path, bytes);
}
