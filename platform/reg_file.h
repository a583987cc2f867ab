// Registry editor files (.reg): the importer and the exporter, pure code over
// the registry seam.
//
// The importer reads what the system's registry editor and `reg import`
// read: UTF-16 LE text with its byte-order mark, or 8-bit text in the ANSI
// code page; the header "Windows Registry Editor Version 5.00" or "REGEDIT4";
// lines ending in CR, LF or CR LF; [KEY] (long or short root names; the path
// ends at the line's last "]"), [-KEY] deleting a tree, @= and "name"=
// values, "name"=- deleting one; strings with the escapes \\ \" \n \r only;
// dword: with 1 to 8 hex digits; hex: and hex(N): with N in hex, continued
// over lines by a "\" after a comma. In a UTF-16 file the bytes of types 1, 2
// and 7 are UTF-16 text and get a terminating NUL when they lack one; in an
// 8-bit file they are ANSI text, terminated the same way and converted. A
// malformed line is reported with its number and skipped; the rest of the
// file is still imported.
//
// The exporter writes what imports back to the same tree: UTF-16 LE with the
// byte-order mark, the 5.00 header, CR LF, a blank line before each key, long
// root names, REG_SZ as a string only when its one NUL is its last unit,
// dword: only for exactly four bytes, hex otherwise. What a .reg file cannot
// hold (symbolic-link keys, REG_LINK values, names containing NUL, key names
// containing line breaks) is reported, never written in a wrong form.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform {

struct RegFileProblem {
  uint32_t line = 0;  // 1-based; 0 when the problem has no line
  std::string message;
};

struct RegImportResult {
  // The header was recognised; without it nothing was imported.
  bool recognized = false;
  // Every line that was skipped or could not be applied, in file order.
  std::vector<RegFileProblem> problems;
  // The first error a registry write gave (5 while the registry is read-only).
  uint32_t writeError = 0;
  uint32_t valuesSet = 0;
  uint32_t valuesDeleted = 0;
  uint32_t keysDeleted = 0;
};

// Where a key of a file lies for a strict import: outside what may be
// written, on the way to it (the key line is taken, values are not), or
// inside it.
enum class RegKeyScope { kOutside, kOnTheWay, kInside };

// How strictly a file is taken. The defaults read what the system's tools
// read.
struct RegImportOptions {
  // [-KEY] and "name"=- lines are problems and delete nothing.
  bool refuseDeletions = false;
  // A file that ends inside hex data (after a continuation "\" or a comma)
  // or in the middle of a UTF-16 unit is a problem, not a shorter value.
  bool refuseCutFiles = false;
  // Data of types 1, 2 and 7 is set as the file gives it: no NUL is added.
  bool exactStrings = false;
  // When set, each key line is asked about; a key outside is a problem, and
  // so is a value in a key that is not inside.
  std::function<RegKeyScope(HKey root, std::u16string_view subKey)> scope;
};

// Imports the file's bytes into registry; sam's view bits (0x100, 0x200)
// choose the view every key is opened in.
RegImportResult ImportRegFile(Registry* registry, std::string_view bytes, uint32_t sam,
                              const RegImportOptions& options = {});

struct RegExportResult {
  // Opening the key: 0, or the registry's error (2 when it does not exist,
  // 87 for a root without a name).
  uint32_t error = 0;
  // The file, when error is 0. Incomplete when problems is not empty.
  std::string bytes;
  // What could not be written.
  std::vector<std::string> problems;
};

// Exports subKey of root (empty: the root itself) with its values and all
// keys below it, in the view of sam's view bits. Keys are written as the
// registry enumerates them. A symbolic link is written as Wine's reg export
// writes it: its target's values and keys under the link's name.
RegExportResult ExportRegFile(Registry* registry, HKey root, std::u16string_view subKey,
                              uint32_t sam);

}  // namespace platform
