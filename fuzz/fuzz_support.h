// What the fuzz targets share: a check that aborts (libFuzzer and the replay
// both report an abort as a finding), and a scratch file for the parsers that
// read files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/wineprefix/wine_prefix.h"

namespace fuzz {

inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

// A folder of its own under the temporary folder, made on first use and
// removed at exit; the files the parsers read are written there.
class ScratchFolder {
 public:
  static ScratchFolder& Get() {
    static ScratchFolder folder;
    return folder;
  }

  // Writes bytes to the file name in the folder; returns its Windows path.
  std::u16string Write(const std::string& name, std::string_view bytes) {
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    Check(static_cast<bool>(out), "the scratch file is written");
    return WindowsPath(name);
  }
  // The bytes of the file name in the folder; empty when it cannot be read.
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The Windows path of the file name in the folder (Z: is the root).
  std::u16string WindowsPath(const std::string& name) const {
    return platform::posix::ToWindowsPath((path_ / name).string());
  }
  void Remove(const std::string& name) {
    std::error_code ignored;
    std::filesystem::remove(path_ / name, ignored);
  }

 private:
  ScratchFolder() {
    // The machine is an empty prefix of our own, so that Z: is "/" whatever
    // the user's ~/.wine holds.
    std::random_device random;
    std::error_code error;
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = std::filesystem::temp_directory_path() /
              ("regclean-fuzz-" + std::to_string(random()) + std::to_string(random()));
      if (std::filesystem::create_directory(path_, error)) break;
    }
    Check(std::filesystem::is_directory(path_), "the scratch folder is made");
    std::filesystem::create_directory(path_ / "prefix", error);
    platform::posix::SetPrefixDirectory((path_ / "prefix").string());
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  std::filesystem::path path_;
};

}  // namespace fuzz
