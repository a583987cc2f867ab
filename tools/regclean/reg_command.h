// "regclean reg": the registry of the machine from the command line, in the
// syntax of the system's reg.exe (query, export, import, delete).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace regclean {

// The usage lines of the reg commands.
extern const char kRegUsage[];

// Runs "reg" with its arguments (the operation first). Output goes to out,
// errors to err. Returns the exit status: 0 on success, 1 on any error.
// Changes are saved before it returns.
int RunRegCommand(const std::vector<std::u16string>& args, std::ostream& out, std::ostream& err);

}  // namespace regclean
