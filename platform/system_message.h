// The system's own text for an error code: a Win32 error or an NTSTATUS.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The raw message of code, inserts ("%1") left as they stand. The system's
// message table is asked first (user's default language); then the message
// tables of "ntdll.dll", "kernel32.dll", "netmsg.dll" and "wininet.dll", and
// *fromModuleTable says that one of those answered. False when none has it.
// On POSIX the machine's messages are a table of our own holding Windows'
// English texts for the codes its backends report.
bool LookupSystemMessage(uint32_t code, std::u16string* text, bool* fromModuleTable);

}  // namespace platform
