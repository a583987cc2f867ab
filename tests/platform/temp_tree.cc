#include "tests/platform/temp_tree.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>

#include "platform/unicode.h"
#ifndef _WIN32
#include "platform/wineprefix/wine_prefix.h"
#endif

namespace fs = std::filesystem;

namespace {

std::string UniqueName() {
  std::random_device random;
  return "regclean-test-" + std::to_string(random()) + std::to_string(random());
}

}  // namespace

#ifndef _WIN32
bool FillBootedPrefix(const std::string& prefix) {
  std::error_code error;
  const fs::path hives = fs::path(REGCLEAN_SOURCE_DIR) / "tests" / "data" / "wine-hives";
  for (const char* hive : {"system.reg", "user.reg", "userdef.reg"})
    if (!error) fs::copy_file(hives / hive, fs::path(prefix) / hive, error);
  std::ifstream in(prefix + "/system.reg", std::ios::binary);
  const std::string hive((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // In hive text a backslash is written twice.
  static const std::regex library(R"re(C:\\\\windows\\\\system32\\\\([A-Za-z0-9_.-]+))re",
                                  std::regex::icase);
  const std::string folder = prefix + "/drive_c/windows/system32/";
  if (!error) fs::create_directories(folder, error);
  for (std::sregex_iterator it(hive.begin(), hive.end(), library), end; it != end; ++it)
    std::ofstream(folder + (*it)[1].str(), std::ios::app);
  return !error;
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
  std::error_code error;
  prefix_ = (fs::temp_directory_path(error) / UniqueName()).string();
  for (const char* folder : {"/dosdevices", "/drive_c/windows/system", "/drive_c/Work"})
    fs::create_directories(prefix_ + folder, error);
  fs::create_directory_symlink("../drive_c", prefix_ + "/dosdevices/c:", error);
  if (!error) fs::create_directory_symlink("/", prefix_ + "/dosdevices/z:", error);
  if (error || !FillBootedPrefix(prefix_)) return;
  savedPrefix_ = platform::posix::PrefixDirectory();
  platform::posix::SetPrefixDirectory(prefix_);
  root_ = u"C:\\Work";
  ok_ = true;
#endif
}

TempTree::~TempTree() {
  fs_->SetCurrentDirectory(savedCurrentDirectory_);
  std::error_code error;
#ifdef _WIN32
  if (ok_) fs::remove_all(fs::path(root_), error);
#else
  if (prefix_.empty()) return;
  platform::posix::SetPrefixDirectory(savedPrefix_);
  // Drop the links first, so that nothing can follow one out of the prefix.
  for (const auto& entry : fs::directory_iterator(prefix_ + "/dosdevices", error))
    fs::remove(entry.path(), error);
  fs::remove_all(prefix_, error);
#endif
}

std::u16string TempTree::Path(std::u16string_view relative) const {
  return root_ + u"\\" + std::u16string(relative);
}

bool TempTree::MakeFolders(std::u16string_view path) {
  for (size_t end = path.find(u'\\', 3);; end = path.find(u'\\', end + 1)) {  // after "C:\"
    const std::u16string folder(path.substr(0, end));
    if (fs_->GetFileAttributes(folder) == platform::kInvalidFileAttributes &&
        !fs_->CreateDirectory(folder))
      return false;
    if (end == std::u16string_view::npos) return true;
  }
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
