// regclean, the reference host of the suite. Global options come first
// (--prefix DIR chooses the Wine prefix that is the machine), then a command:
//   regclean check [--json]                   scan the registry, list problems
//   regclean resolve [--yes] [--json]         remove them, with a backup
//   regclean restore FOLDER                   put a backup back
//   regclean prefixes [DIR...]                the Wine prefixes found
//   regclean check|resolve --all [-j N] [DIR...]  every prefix found
//   regclean reg query|export|import|delete ...   the machine's registry
//   regclean keep KEY [VALUE] | --list | --remove KEY [VALUE]   the black list
#include <iostream>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/system_text.h"
#include "tools/regclean/all_prefixes.h"
#include "tools/regclean/category_filter.h"
#include "tools/regclean/clean_command.h"
#include "tools/regclean/keep_command.h"
#include "tools/regclean/reg_command.h"

#ifndef REGCLEAN_VERSION
#define REGCLEAN_VERSION "unknown"
#endif

namespace {

constexpr char kUsage[] =
    "Usage: regclean [--prefix DIR] COMMAND [OPTIONS]\n"
    "The reference host of the registry cleaner module: it loads\n"
    "modules/RegistryCleanerModule beside it and drives it through its exports.\n\n"
    "Commands:\n"
    "  check      list the registry's invalid entries, by category\n"
    "  resolve    remove them, after writing a backup folder\n"
    "  restore    put a backup folder's entries back\n"
    "  prefixes   list the Wine prefixes found (Wine, Proton, Lutris, Bottles)\n"
    "  reg        query, export, import or delete registry keys and values\n"
    "  keep       keep an entry: no check lists it, no resolve removes it\n\n"
    "Options:\n"
    "  --prefix DIR   the Wine prefix to work on (default: $WINEPREFIX, else ~/.wine);\n"
    "                 check --all and resolve --all work on every prefix found\n"
    "                 on Windows the machine is the running system\n"
    "  --help         this text; \"regclean COMMAND --help\" tells about a command\n"
    "  --version      the version\n";

int Usage(std::ostream& stream, int status) {
  stream << kUsage;
  return status;
}

int BadArguments(const std::string& message, const char* usage) {
  std::cerr << "regclean: " << message << "\n" << usage;
  return regclean::kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string prefix;
  size_t i = 0;
  for (; i < args.size() && args[i].size() > 2 && args[i].compare(0, 2, "--") == 0; ++i) {
    if (args[i] == "--prefix" && i + 1 < args.size()) {
      prefix = args[++i];
    } else if (args[i] == "--prefix") {
      return BadArguments("--prefix needs a folder: --prefix DIR", kUsage);
    } else if (args[i] == "--help") {
      return Usage(std::cout, 0);
    } else if (args[i] == "--version") {
      std::cout << "regclean " << REGCLEAN_VERSION << "\n";
      return 0;
    } else {
      std::cerr << "regclean: unknown option " << args[i] << "\n";
      return Usage(std::cerr, regclean::kFailed);
    }
  }
  if (i == args.size()) return Usage(std::cerr, regclean::kFailed);
  const std::string command = args[i++];

  if (command == "reg") {
    // The reg tools keep reg.exe's syntax and its exit status 1 for errors.
    if (i < args.size() && args[i] == "--help") {
      std::cout << regclean::kRegUsage;
      return 0;
    }
    const uint32_t selected = platform::SelectMachine(prefix);
    if (selected == 120) {
      std::cerr << "regclean: --prefix works only where the machine is a Wine prefix\n";
      return 1;
    }
    if (selected != 0) {
      std::cerr << "regclean: no Wine prefix at " << platform::MachineName() << "\n";
      return 1;
    }
    std::vector<std::u16string> rest;
    for (; i < args.size(); ++i) rest.push_back(platform::AnsiToU16(args[i]));
    return regclean::RunRegCommand(rest, std::cout, std::cerr);
  }

  if (command == "keep")
    return regclean::RunKeepCommand(prefix, {args.begin() + i, args.end()}, std::cout, std::cerr);

  const char* usage = command == "check"      ? regclean::kCheckUsage
                      : command == "resolve"  ? regclean::kResolveUsage
                      : command == "restore"  ? regclean::kRestoreUsage
                      : command == "prefixes" ? regclean::kPrefixesUsage
                                              : nullptr;
  if (usage == nullptr) {
    std::cerr << "regclean: unknown command " << command << "\n";
    return Usage(std::cerr, regclean::kFailed);
  }
  regclean::CleanOptions options;
  options.resolve = command == "resolve";
  regclean::AllOptions all;
  regclean::CategoryFilter filter;
  std::string wrong;
  bool everyPrefix = false;
  const bool clean = command == "check" || command == "resolve";
  std::vector<std::string> operands;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help") {
      std::cout << usage;
      return 0;
    } else if (arg == "--all" && clean) {
      everyPrefix = true;
    } else if ((arg == "-j" || arg == "--jobs") && clean) {
      const std::string count = i + 1 < args.size() ? args[++i] : std::string();
      all.jobs = count.size() > 0 && count.size() < 4 &&
                         count.find_first_not_of("0123456789") == std::string::npos
                     ? static_cast<unsigned>(std::stoi(count))
                     : 0;
      if (all.jobs == 0)
        return BadArguments("-j needs a number of prefixes at a time (1 to 999)", usage);
    } else if (command == "prefixes" && arg != "--prefix") {
      if (arg.size() > 1 && arg[0] == '-')
        return BadArguments("unknown option " + arg + " for prefixes", usage);
      operands.push_back(arg);
    } else if (arg == "--prefix" && i + 1 < args.size()) {
      prefix = args[++i];
    } else if (arg == "--prefix") {
      return BadArguments("--prefix needs a folder: --prefix DIR", usage);
    } else if (arg == "--json" && command != "restore") {
      options.json = true;
    } else if ((arg == "--only" || arg == "--skip") && command == "resolve") {
      if (!regclean::AddCategories(arg, i + 1 < args.size() ? args[++i] : "", &filter, &wrong))
        return BadArguments(wrong, usage);
    } else if (arg == "--yes" && command == "resolve") {
      options.yes = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return BadArguments("unknown option " + arg + " for " + command, usage);
    } else {
      operands.push_back(arg);
    }
  }
  if (command == "prefixes") return regclean::RunPrefixes(operands, std::cout, std::cerr);
  if (everyPrefix) {
    if (!prefix.empty()) return BadArguments("--all and --prefix exclude each other", usage);
    if (!filter.empty()) return BadArguments("--only and --skip go with one prefix", usage);
    // Each prefix is checked by a regclean of its own through --prefix,
    // which only a Wine prefix machine has.
    if (platform::MachineName().empty()) {
      std::cerr << "regclean: --all works only where the machine is a Wine prefix\n";
      return regclean::kFailed;
    }
    all.resolve = options.resolve;
    all.json = options.json;
    all.yes = options.yes;
    all.folders = operands;
    return regclean::RunAllPrefixes(all, std::cin, std::cout, std::cerr);
  }
  if (all.jobs != 0) return BadArguments("-j goes with --all", usage);
  if (command == "restore" ? operands.size() != 1 : !operands.empty()) {
    return BadArguments(command == "restore" ? "restore takes one FOLDER"
                                             : command + " takes no operand " + operands[0],
                        usage);
  }

  const uint32_t selected = platform::SelectMachine(prefix);
  if (selected == 120) {
    std::cerr << "regclean: --prefix works only where the machine is a Wine prefix\n";
    return regclean::kFailed;
  }
  if (selected != 0) {
    std::cerr << "regclean: no Wine prefix at " << platform::MachineName()
              << " (no such folder): give --prefix DIR or set WINEPREFIX\n";
    return regclean::kFailed;
  }
  if (command == "restore") return regclean::RunRestore(operands[0], std::cout, std::cerr);
  if (!filter.empty())
    return regclean::RunFilteredResolve(options, filter, std::cin, std::cout, std::cerr);
  return regclean::RunCheckOrResolve(options, std::cin, std::cout, std::cerr);
}
