// The Windows environment of the prefix, as Wine gives it to a 32-bit
// program: the fixed system variables first.
#include <stdlib.h>

#include <vector>

#include "platform/environment.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace platform {
namespace {

struct Variable {
  std::u16string name;
  std::u16string value;
};

std::vector<Variable> Variables() {
  const bool win64 = System::Default()->GetNativeArchitecture() == kArchitectureAmd64;
  std::vector<Variable> vars = {
      {u"SystemDrive", u"C:"},
      {u"SystemRoot", u"C:\\windows"},
      {u"windir", u"C:\\windows"},
      {u"ComSpec", u"C:\\windows\\system32\\cmd.exe"},
      {u"PATHEXT", u".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
      {u"OS", u"Windows_NT"},
  };
  // A 32-bit program gets the (x86) folders as its Program Files.
  if (win64) {
    vars.push_back({u"ProgramFiles", u"C:\\Program Files (x86)"});
    vars.push_back({u"ProgramFiles(x86)", u"C:\\Program Files (x86)"});
    vars.push_back({u"ProgramW6432", u"C:\\Program Files"});
    vars.push_back({u"CommonProgramFiles", u"C:\\Program Files (x86)\\Common Files"});
    vars.push_back({u"CommonProgramFiles(x86)", u"C:\\Program Files (x86)\\Common Files"});
    vars.push_back({u"CommonProgramW6432", u"C:\\Program Files\\Common Files"});
    vars.push_back({u"winsysdir", u"C:\\windows\\syswow64"});
  } else {
    vars.push_back({u"ProgramFiles", u"C:\\Program Files"});
    vars.push_back({u"CommonProgramFiles", u"C:\\Program Files\\Common Files"});
    vars.push_back({u"winsysdir", u"C:\\windows\\system32"});
  }
  return vars;
}

}  // namespace

bool GetEnvironmentVariable(std::u16string_view name, std::u16string* value) {
  value->clear();
  for (const Variable& v : Variables()) {
    if (AsciiEqualsIgnoreCase(v.name, name)) {
      *value = v.value;
      return true;
    }
  }
  return false;
}

std::u16string ExpandEnvironmentStrings(std::u16string_view text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == u'%') {
      const size_t close = text.find(u'%', i + 1);
      if (close != std::u16string_view::npos) {
        std::u16string value;
        if (close > i + 1 && GetEnvironmentVariable(text.substr(i + 1, close - i - 1), &value)) {
          out += value;
          i = close + 1;
          continue;
        }
        // Not set: the reference stays, and its closing % may open the next.
        out.append(text.substr(i, close - i));
        i = close;
        continue;
      }
    }
    out.push_back(text[i++]);
  }
  return out;
}

bool SetProcessEnvironmentVariable(std::u16string_view name, std::u16string_view value) {
  return setenv(U16ToUtf8(name).c_str(), U16ToUtf8(value).c_str(), 1) == 0;
}

}  // namespace platform
