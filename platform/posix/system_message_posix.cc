// Windows' English texts for the error codes the POSIX backends report (the
// seams speak Win32's codes), so that log lines read as they do on Windows.
#include "platform/system_message.h"

namespace platform {
namespace {

struct Message {
  uint32_t code;
  bool fromModule;  // an NTSTATUS text, found in ntdll's table on Windows
  const char16_t* text;
};

constexpr Message kMessages[] = {
    {0, false, u"The operation completed successfully.\r\n"},
    {1, false, u"Incorrect function.\r\n"},
    {2, false, u"The system cannot find the file specified.\r\n"},
    {3, false, u"The system cannot find the path specified.\r\n"},
    {5, false, u"Access is denied.\r\n"},
    {6, false, u"The handle is invalid.\r\n"},
    {8, false, u"Not enough memory resources are available to process this command.\r\n"},
    {29, false, u"The system cannot write to the specified device.\r\n"},
    {30, false, u"The system cannot read from the specified device.\r\n"},
    {32, false,
     u"The process cannot access the file because it is being used by another process.\r\n"},
    {33, false,
     u"The process cannot access the file because another process has locked a portion of the "
     u"file.\r\n"},
    {80, false, u"The file exists.\r\n"},
    {87, false, u"The parameter is incorrect.\r\n"},
    {112, false, u"There is not enough space on the disk.\r\n"},
    {120, false, u"This function is not supported on this system.\r\n"},
    {122, false, u"The data area passed to a system call is too small.\r\n"},
    {123, false, u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {145, false, u"The directory is not empty.\r\n"},
    {183, false, u"Cannot create a file when that file already exists.\r\n"},
    {206, false, u"The filename or extension is too long.\r\n"},
    {234, false, u"More data is available.\r\n"},
    {259, false, u"No more data is available.\r\n"},
    {1009, false, u"The configuration registry database is corrupt.\r\n"},
    {1010, false, u"The configuration registry key is invalid.\r\n"},
    {1011, false, u"The configuration registry key could not be opened.\r\n"},
    {1012, false, u"The configuration registry key could not be read.\r\n"},
    {1013, false, u"The configuration registry key could not be written.\r\n"},
    {1018, false,
     u"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {0xC0000022u, true,
     u"{Access Denied}\r\nA process has requested access to an object, but has not been granted "
     u"those access rights.\r\n"},
    {0xC0000034u, true, u"Object Name not found.\r\n"},
    {0xC000003Au, true, u"Object Path Component was not a directory object.\r\n"},
};

}  // namespace

bool LookupSystemMessage(uint32_t code, std::u16string* text, bool* fromModuleTable) {
  text->clear();
  *fromModuleTable = false;
  for (const Message& message : kMessages) {
    if (message.code == code) {
      text->assign(message.text);
      *fromModuleTable = message.fromModule;
      return true;
    }
  }
  return false;
}

}  // namespace platform
