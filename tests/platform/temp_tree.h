// A temporary folder tree named by Windows paths. POSIX: a fresh prefix
// (drive links, drive_c\windows, booted hives) the backend is pointed at for
// the test's lifetime, root() "C:\Work"; Win32: a fresh folder under %TEMP%.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"

#ifndef _WIN32
// Gives prefix a booted 64-bit prefix's hives and, as wineboot, an empty file
// in drive_c/windows/system32 for each library there that they name.
bool FillBootedPrefix(const std::string& prefix);
#endif

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  bool ok() const { return ok_; }  // the tree could be made
  platform::FileSystem* fs() const { return fs_; }
  const std::u16string& root() const { return root_; }
  // root() + "\" + relative.
  std::u16string Path(std::u16string_view relative) const;
  // Create a folder, or a file with bytes, and the folders above it, below root().
  bool MakeFolder(std::u16string_view relative);
  bool MakeFile(std::u16string_view relative, std::string_view bytes = "x");
  // Creates a file at an absolute Windows path (for the prefix's own folders).
  bool MakeFileAt(std::u16string_view path, std::string_view bytes = "x");

#ifndef _WIN32
  const std::string& prefix() const { return prefix_; }  // its Unix folder
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
