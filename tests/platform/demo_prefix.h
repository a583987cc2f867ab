// Wine prefix folders for the tests and the benchmarks: the drive links of
// a prefix, and copies of the demo prefix as "make demo" makes them.
#pragma once

#include <filesystem>

namespace test_prefix {

// Makes prefix/dosdevices anew: c: is ../drive_c, z: is /.
inline void MakeDriveLinks(const std::filesystem::path& prefix) {
  namespace fs = std::filesystem;
  fs::remove_all(prefix / "dosdevices");
  fs::create_directories(prefix / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
  fs::create_directory_symlink("/", prefix / "dosdevices/z:");
}

// Copies data/demo-prefix of the source tree to prefix (its parent folders
// made) with its drive links made anew. Returns prefix.
inline std::filesystem::path CopyDemoPrefix(const std::filesystem::path& prefix) {
  namespace fs = std::filesystem;
  fs::create_directories(prefix.parent_path());
  fs::copy(fs::path(REGCLEAN_SOURCE_DIR) / "data/demo-prefix", prefix,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  MakeDriveLinks(prefix);
  return prefix;
}

}  // namespace test_prefix
