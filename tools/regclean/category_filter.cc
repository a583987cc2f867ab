#include "tools/regclean/category_filter.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "framework/system_services.h"
#include "modules/RegistryCleanerModule/dll/reg_list_text.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "platform/machine.h"
#include "platform/system_text.h"
#include "tools/regclean/keep_command.h"
#include "tools/regclean/report.h"

namespace regclean {
namespace {

std::string Ansi(std::u16string_view text) { return platform::U16ToAnsi(text); }

int LoggedCount(const LoggedCategory& category) {
  return category.count >= 0 ? category.count : static_cast<int>(category.problems.size());
}

std::string Join(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

bool Listed(const std::vector<std::string>& names, std::u16string_view name) {
  return std::find(names.begin(), names.end(), Ansi(name)) != names.end();
}

}  // namespace

const std::vector<std::string>& CategoryNames() {
  static const std::vector<std::string> kNames = {
      "UninstallInvalidProblems",     "SharedDllMissingProblems",     "UnusedFileTypeExtensions",
      "UnusedExplorerFileExtensions", "InstallerFolderEmptyProblems", "InstallerUserDataProblems",
      "InprocServer32Problems"};
  return kNames;
}

bool CategoryFilter::Selects(std::u16string_view category) const {
  return (only.empty() || Listed(only, category)) && !Listed(skip, category);
}

bool AddCategories(const std::string& option, const std::string& text, CategoryFilter* filter,
                   std::string* error) {
  std::vector<std::string>& names = option == "--only" ? filter->only : filter->skip;
  std::stringstream items(text);
  std::string name;
  bool any = false;
  while (std::getline(items, name, ',')) {
    if (name.empty()) continue;
    // Any case will do; the list holds the name as check prints it.
    const auto known = std::find_if(
        CategoryNames().begin(), CategoryNames().end(), [&](const std::string& candidate) {
          return EqualsIgnoreCase(platform::AnsiToU16(candidate), platform::AnsiToU16(name));
        });
    if (known == CategoryNames().end()) {
      *error = "no category " + name + "; the categories are " + Join(CategoryNames());
      return false;
    }
    names.push_back(*known);
    any = true;
  }
  if (!any) *error = option + " needs a category: " + option + " CATEGORY[,CATEGORY]";
  return any;
}

std::vector<std::pair<std::u16string, std::u16string>> ExclusionEntries(
    const LoggedCategory& category) {
  constexpr std::u16string_view kServer = u"\\InprocServer32";
  std::vector<std::pair<std::u16string, std::u16string>> entries;
  for (const LoggedProblem& problem : category.problems) {
    std::u16string key = problem.key, value;
    if (category.name == u"SharedDllMissingProblems" ||
        category.name == u"InstallerFolderEmptyProblems") {
      value = problem.missing;  // the value's name is the path it counts
    } else if (category.name == u"InprocServer32Problems" && key.size() > kServer.size() &&
               EqualsIgnoreCase(std::u16string_view(key).substr(key.size() - kServer.size()),
                                kServer)) {
      key.resize(key.size() - kServer.size());  // the class is judged whole
    }
    if (std::find(entries.begin(), entries.end(), std::make_pair(key, value)) == entries.end())
      entries.emplace_back(key, value);
  }
  return entries;
}

int RunFilteredResolve(const CleanOptions& options, const CategoryFilter& filter, std::istream& in,
                       std::ostream& out, std::ostream& err) {
  std::ostream& talk = options.json ? err : out;
  // A resolve handed to the service provider would not see this black list.
  if (!IsProcessElevated()) {
    err << "regclean: --only and --skip need a resolve in this process; run regclean as "
           "administrator\n";
    return kFailed;
  }
  RunOutcome checked;
  CleanOptions check;
  check.json = true;
  check.outcome = &checked;
  std::ostringstream discarded;
  if (RunCheckOrResolve(check, in, discarded, err) == kFailed) {
    err << "regclean: the check before the resolve did not succeed; nothing was changed\n";
    return kFailed;
  }

  std::vector<std::u16string> lines;
  std::vector<std::string> left;
  int leftCount = 0;
  for (const LoggedCategory& category : checked.log.categories) {
    if (filter.Selects(category.name) || LoggedCount(category) == 0) continue;
    if (LoggedCount(category) > static_cast<int>(category.problems.size())) {
      err << "regclean: the cleaner's log does not name the problems of " << Ansi(category.name)
          << " (its DebugLevel in install.cfg is below 8), so they cannot be left out; nothing "
             "was changed\n";
      return kFailed;
    }
    for (const auto& [key, value] : ExclusionEntries(category)) {
      const std::u16string line = FormatRegListEntry(key, value);
      if (line.empty()) {
        err << "regclean: " << Ansi(key) << (value.empty() ? "" : " value " + Ansi(value))
            << " cannot be written in the black list, so it cannot be left out; nothing was "
               "changed\n";
        return kFailed;
      }
      lines.push_back(line);
    }
    left.push_back(Ansi(category.name));
    leftCount += LoggedCount(category);
  }
  if (!checked.log.runFound || (checked.log.categories.empty() && ProblemCount(checked) != 0)) {
    err << "regclean: the check's log names no problems (is DebugLevel in install.cfg below 8?), "
           "so the categories cannot be told apart; nothing was changed\n";
    return kFailed;
  }

  BlackListFile list;
  std::string error;
  if (!lines.empty()) {
    if (!list.Load(ModuleContentFolder() + u"\\BlackList.cfg", &error)) {
      err << "regclean: " << error << "; nothing was changed\n";
      return kFailed;
    }
    list.Append(lines, true);
    if (!list.Save(&error)) {
      err << "regclean: " << error << "; nothing was changed\n";
      return kFailed;
    }
    talk << "Left alone: " << leftCount << " problem(s) of " << Join(left) << "\n";
  }

  RunOutcome resolved;
  CleanOptions resolve = options;
  resolve.outcome = &resolved;
  int status = RunCheckOrResolve(resolve, in, out, err);

  if (!lines.empty() && !list.Restore(&error)) {
    err << "regclean: " << error << ": the black list still keeps the entries this resolve left "
        << "alone; \"regclean keep\" takes them out the next time it runs\n";
    status = kFailed;
  }
  for (const LoggedCategory& category : resolved.log.categories) {
    if (filter.Selects(category.name) || LoggedCount(category) == 0) continue;
    err << "regclean: the resolve removed " << LoggedCount(category) << " entries of "
        << Ansi(category.name) << ", which was to be left alone; they are in the backup folder\n";
    status = kFailed;
  }
  return status;
}

}  // namespace regclean
