// What a file type or a program registration still leads to: the shell
// verbs of a class, a program file name through its App Paths and
// Applications registrations, a whole class under the four class roots, and
// the MIME database. The file type and Explorer extension scanners share
// them.
//
// Registry failures make a test fail silently; only the shell verbs check
// logs its two error lines. Runs on the engine's worker thread: the MIME
// lookups answer in static buffers that the next call of the same lookup
// overwrites.
#pragma once

#include <cstdint>
#include <string_view>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "platform/registry.h"

// The class roots, in the order CheckClass and the MIME lookups visit them:
// the user's classes before the machine's, each view's key before its
// Wow6432Node twin. Ends with an empty path.
extern const ScanRoot kClassRoots[];

// CheckClass flags.
constexpr uint32_t kClassVerbRuns = 0x01;      // a shell verb runs an existing program
constexpr uint32_t kClassIconExists = 0x02;    // "DefaultIcon" names an existing file
constexpr uint32_t kClassFriendlyName = 0x04;  // a "FriendlyTypeName" value
constexpr uint32_t kClassOtherSubkeys = 0x08;  // subkeys beyond "shell" and "DefaultIcon"
constexpr uint32_t kClassOtherValues = 0x10;   // "NoOpen", or values beyond the known ones
// Any of these makes a class usable.
constexpr uint32_t kClassUsable = 0x0F;

// The shell verbs below classKey (opened with sam): the default verb first,
// then the verbs by index, each through its "Command" and then its
// "ddeexec\Application". 0 no "shell" key (or it cannot be queried), 1 a
// verb's program exists, 2 none does. keyPathForLog names the class key in
// the error lines.
uint32_t CheckShellVerbs(platform::HKey classKey, uint32_t sam, std::u16string_view keyPathForLog);

// A program file name (a DDE application, an Open With entry): nonzero when
// it exists: 1 or 2 from a registration's command (or 1 from its verbs),
// 17 "NoOpenWith", 34 "IsHostApp" (each an empty string or no data), 42 a
// "FriendlyAppName" of the Applications registration, else the command
// resolution of the bare name through the search path (kPathCannotTell when
// that cannot be told, or when the chain of registrations is too deep to
// follow). 0 when nothing resolves; an application whose registration leads
// back to itself does not resolve through that way.
uint32_t ResolveAppName(uint32_t sam, std::u16string_view appName);

// The flags above, combined over every class root that has the class.
uint32_t CheckClass(uint32_t sam, std::u16string_view className);

// 1-based position in the known lists (ignoring case), 0 when absent.
int IsKnownPerceivedType(std::u16string_view text);
int IsKnownContentType(std::u16string_view text);

// The MIME database's "Extension" or "CLSID" of a content type (the last
// class root that has it wins; at most 127 characters), and the in-process
// server of a class id (the first class root that has one, in the order
// CheckClass visits them, so that a class registered for the machine is
// found too; 1023 characters). Empty when none.
const char16_t* MimeExtension(const ScanRoot* classRoots, uint32_t sam,
                              std::u16string_view contentType);
const char16_t* MimeClsid(const ScanRoot* classRoots, uint32_t sam,
                          std::u16string_view contentType);
const char16_t* InprocServerOf(const ScanRoot* classRoots, uint32_t sam, std::u16string_view clsid);
