// regclean, the reference host of the suite. Global options come first
// (--prefix DIR chooses the Wine prefix that is the machine), then a command:
//   regclean reg query|export|import|delete ...   the machine's registry
#include <iostream>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/system_text.h"
#include "tools/regclean/reg_command.h"

namespace {

int Usage(std::ostream& stream, int status) {
  stream << "Usage: regclean [--prefix DIR] COMMAND ...\n"
            "Commands:\n"
            "  reg    query, export, import or delete registry keys and values\n\n"
         << regclean::kRegUsage;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string prefix;
  size_t i = 0;
  for (; i < args.size() && args[i].size() > 2 && args[i].compare(0, 2, "--") == 0; ++i) {
    if (args[i] == "--prefix" && i + 1 < args.size()) {
      prefix = args[++i];
    } else if (args[i] == "--help") {
      return Usage(std::cout, 0);
    } else {
      std::cerr << "regclean: unknown option " << args[i] << "\n";
      return Usage(std::cerr, 1);
    }
  }
  if (i == args.size()) return Usage(std::cerr, 1);

  const uint32_t selected = platform::SelectMachine(prefix);
  if (selected == 120) {
    std::cerr << "regclean: --prefix works only where the machine is a Wine prefix\n";
    return 1;
  }
  if (selected != 0) {
    std::cerr << "regclean: no Wine prefix at " << platform::MachineName() << "\n";
    return 1;
  }

  const std::string& command = args[i];
  std::vector<std::u16string> rest;
  for (size_t j = i + 1; j < args.size(); ++j) rest.push_back(platform::AnsiToU16(args[j]));
  if (command == "reg") return regclean::RunRegCommand(rest, std::cout, std::cerr);
  std::cerr << "regclean: unknown command " << command << "\n";
  return Usage(std::cerr, 1);
}
