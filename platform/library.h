// Loading libraries at run time. Paths are Windows paths, as everywhere in
// the seam. On POSIX a name ending in ".dll" is also found as the same name
// ending in ".so".
#pragma once

#include <string>
#include <string_view>

namespace platform {

using LibraryHandle = void*;  // null: none

// Loads the library at path. Null on failure; *error (when given) then says
// why in the system's words.
LibraryHandle LoadLibrary(std::u16string_view path, std::string* error = nullptr);
// The address of an exported function or object; null when absent.
void* GetProcAddress(LibraryHandle library, const char* name);
void FreeLibrary(LibraryHandle library);

// The program file at path as it exists: path itself, or on POSIX the same
// path without its ".exe". Empty when neither exists.
std::u16string FindProgramFile(std::u16string_view path);

}  // namespace platform
