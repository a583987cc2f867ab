// The module's version data as an ELF note (ELF has no resources): read back
// by platform::ReadVersionResource, shown by "readelf -n".
#include <cstdint>

#include "modules/RegistryCleanerModule/dll/version_data.h"
#include "platform/version_info.h"

namespace {

#define REGCLEAN_NOTE_STRINGS                                                             \
  "Comments\0" REGCLEAN_COMMENTS "\0CompanyName\0" REGCLEAN_COMPANY_NAME                  \
  "\0FileDescription\0" REGCLEAN_FILE_DESCRIPTION "\0FileVersion\0" REGCLEAN_VERSION_TEXT \
  "\0InternalName\0" REGCLEAN_INTERNAL_NAME "\0LegalCopyright\0" REGCLEAN_LEGAL_COPYRIGHT \
  "\0OriginalFilename\0RegistryCleanerModule.so\0ProductName\0" REGCLEAN_PRODUCT_NAME     \
  "\0ProductVersion\0" REGCLEAN_VERSION_TEXT "\0"

struct VersionNote {
  uint32_t nameSize;
  uint32_t descSize;
  uint32_t type;
  char name[12];
  uint16_t version[4];
  char strings[sizeof(REGCLEAN_NOTE_STRINGS)];  // with the final "\0" of the literal
};

static_assert(sizeof(platform::kVersionNoteOwner) == 9, "the owner name fills 12 bytes padded");

__attribute__((section(".note.regclean.version"), used, aligned(4)))
const VersionNote kVersionNote = {
    sizeof(platform::kVersionNoteOwner),
    static_cast<uint32_t>(8 + sizeof(REGCLEAN_NOTE_STRINGS)),
    platform::kVersionNoteType,
    "RegClean",
    {REGCLEAN_VERSION_MAJOR, REGCLEAN_VERSION_MINOR, REGCLEAN_BUILD_NUMBER,
     REGCLEAN_VERSION_REVISION},
    REGCLEAN_NOTE_STRINGS,
};

}  // namespace
