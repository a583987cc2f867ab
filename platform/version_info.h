// Version data of an executable file. On Windows the VERSIONINFO resource,
// read with GetFileVersionInfoW and VerQueryValueW. Our POSIX shared objects
// and programs carry the same data in an ELF note (see below), since ELF has
// no resources.
//
// The note: owner name "RegClean", type 1; its descriptor holds the file
// version as four little-endian u16 (major, minor, build, revision), then
// UTF-8 pairs "Name\0Value\0", ended by one more "\0".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr char kVersionNoteOwner[] = "RegClean";
constexpr uint32_t kVersionNoteType = 1;

struct VersionResource {
  // The named string fields that were found, in the order asked.
  std::vector<std::pair<std::u16string, std::u16string>> strings;
  // Major, minor, build, revision of the fixed file version.
  uint16_t fileVersion[4] = {0, 0, 0, 0};
  bool hasFixedVersion = false;
};

// Reads the file's version data and looks up the string fields named in
// names (the first language the file lists, else US English). False when the
// file cannot be read or has no version data.
bool ReadVersionResource(std::u16string_view path, const std::vector<std::u16string>& names,
                         VersionResource* out);

}  // namespace platform
