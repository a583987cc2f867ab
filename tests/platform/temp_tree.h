// A temporary folder tree named by Windows paths. POSIX: a fresh prefix
// (drive links, drive_c\windows, booted hives) the backend is pointed at for
// the test's lifetime, root() "C:\Work"; Win32: a fresh folder under %TEMP%.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"

#ifndef _WIN32
// Puts an empty file in drive_c/windows/system32 for every library of that
// folder that the prefix's system.reg names, as wineboot installs Wine's
// builtin libraries there: the copied hives of a booted prefix then describe
// a machine whose COM classes and programs exist.
void PlaceBuiltinLibraries(const std::string& prefix);
#endif

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The tree could be made.
  bool ok() const { return ok_; }
  platform::FileSystem* fs() const { return fs_; }
  const std::u16string& root() const { return root_; }
  // root() + "\" + relative.
  std::u16string Path(std::u16string_view relative) const;
  // Creates a folder and any missing folders above it, below root().
  bool MakeFolder(std::u16string_view relative);
  // Creates a file with bytes, and the folders above it, below root().
  bool MakeFile(std::u16string_view relative, std::string_view bytes = "x");
  // Creates a file at an absolute Windows path (for the prefix's own folders).
  bool MakeFileAt(std::u16string_view path, std::string_view bytes = "x");

#ifndef _WIN32
  // The Unix folder of the prefix.
  const std::string& prefix() const { return prefix_; }
#endif

 private:
  bool MakeFolders(std::u16string_view path);

  platform::FileSystem* fs_ = platform::FileSystem::Default();
  bool ok_ = false;
  std::u16string root_;
  std::u16string savedCurrentDirectory_;
#ifndef _WIN32
  std::string prefix_;
  std::string savedPrefix_;
#endif
};
