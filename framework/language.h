// The language library that holds the module's texts: a resource-only
// library beside the module named after it and a locale, chosen once per
// process from the installation's "Language" setting or the user's language.
// Without one, the module's own (English) resources serve.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/resources.h"
#include "platform/system.h"

// The module's own resources; set once by the library's start-up.
void SetOwnResourceModule(platform::ResourceModule own);
platform::ResourceModule OwnResourceModuleOfLibrary();

// The library to load the module's texts from. Never null. The search runs
// once per process; its result is shared by every module object.
platform::ResourceModule GetLanguageResourceModule(
    platform::System* system = platform::System::Default());

// Releases a language library the search loaded and forgets the search.
void ReleaseLanguageModule();

// The locale name ("de_DE") of a language identifier; "[%X]" for others.
std::u16string LocaleNameOf(uint16_t langId);
// The locale name of the user's default language.
std::u16string UserLocaleName(platform::System* system = platform::System::Default());

// The embedded language data id tried first: 8000 + sublanguage for Chinese
// (above 8002 taken as 8001), 2000 + primary language otherwise.
uint32_t EmbeddedLanguageId(uint16_t langId);

// The language libraries tried for a module file and a locale name, in order.
std::vector<std::u16string> LanguageCandidates(std::u16string_view modulePath,
                                               std::u16string_view language);

// The private-profile value of key in section of the file at path, or of
// "install.cfg" in the host program's folder when path is empty.
std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue, std::u16string_view path,
                                 platform::System* system = platform::System::Default());

// Writes the resource of the given type and id in module to a new file at
// path. 13 when there is no such resource; otherwise the system's last error
// (0, with "already exists" from replacing a file counted as 0).
uint32_t ExtractResourceToFile(platform::ResourceModule module, uint32_t id,
                               std::u16string_view path, std::u16string_view type);
