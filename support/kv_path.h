// A path value that splits its full path lazily into drive, directory, file
// name and extension, and rebuilds the full path from normalised parts after
// every change. Drives are letters with their colon ("C:"), UNC roots
// ("\\server\share") or a URL's scheme and host ("http://host"). Pure text
// work: nothing here touches the file system. Not synchronized.
#pragma once

#include <string>
#include <string_view>

namespace KvOSAL {

class KvPath {
 public:
  KvPath() = default;
  KvPath(const char16_t* path);        // NOLINT: paths convert from text
  KvPath(const std::u16string& path);  // NOLINT
  KvPath(const KvPath& other) { Assign(other); }
  KvPath& operator=(const KvPath& other) {
    Assign(other);
    return *this;
  }
  virtual ~KvPath() = default;

  // Copies the other path, parts and split state included.
  virtual void Assign(const KvPath& other);
  // Replaces the full path; a bare drive ("C:") becomes its root ("C:\").
  virtual void Set(const std::u16string& path);
  // As Set; null clears the path.
  virtual void Set(const char16_t* path);

  const std::u16string& FullPath() const { return fullPath_; }
  const std::u16string& Drive() const;
  const std::u16string& Directory() const;  // with its leading and trailing separators
  const std::u16string& FileName() const;   // without the extension
  const std::u16string& Extension() const;  // with its leading "."
  // Drive followed by directory; a drive without a directory gets "\".
  std::u16string Folder() const;

  bool HasDirectory() const { return !Directory().empty(); }
  bool HasFileName() const { return !FileName().empty(); }
  bool HasExtension() const { return !Extension().empty(); }
  // The path has no drive.
  bool IsRelative() const { return Drive().empty(); }
  static bool IsRelative(std::u16string_view path);

  // Builds the full path from the four parts after normalising them: the
  // directory ends with exactly one "\" (trailing blanks go), gets a leading
  // "\" after a drive, and is "\" for a drive alone; a letter drive ends with
  // ":", a UNC drive without "\"; the extension begins with "."; trailing
  // blanks leave the extension, or the name when there is no extension.
  bool Compose(std::u16string_view drive, std::u16string_view directory, std::u16string_view name,
               std::u16string_view extension);
  // Keeps drive and directory; text up to its last "." is the name, the rest
  // the extension (none when text has no ".").
  bool SetFileName(std::u16string_view text);
  // Keeps drive, name and extension.
  bool SetDirectory(std::u16string_view text);
  // Replaces the directory by its parent. False, nothing changed, at the root
  // or without a directory.
  bool GoUp();
  // Descends from the directory into the relative directory text (".."
  // climbs). False, nothing changed, when text has a drive, names a file
  // (has a name or an extension after normalising, or its last component has
  // an extension) or the result is too long.
  bool AppendRelativeDirectory(std::u16string_view text);

 private:
  void Split() const;

  std::u16string fullPath_;
  mutable bool parsed_ = false;
  mutable std::u16string drive_;
  mutable std::u16string directory_;
  mutable std::u16string name_;
  mutable std::u16string extension_;
};

// The folder holding a file or folder (everything before the last "\" or
// "/"), without a trailing separator; empty when the path has none.
std::u16string ParentFolder(std::u16string_view path);

}  // namespace KvOSAL
