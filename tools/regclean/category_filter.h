// "regclean resolve --only CATEGORY[,CATEGORY]" and "--skip CATEGORY": a
// resolve limited to some of the cleaner's categories, named as check prints
// them. The module's exports know no categories, so the host does it with
// the module's black list: a check finds the problems first, the problems of
// the categories left out go into the black list for the resolve, and the
// list is put back as it was afterwards. What the check did not name cannot
// be left out, so such a resolve does not start.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "tools/regclean/clean_command.h"
#include "tools/regclean/run_log.h"

namespace regclean {

// The categories, in the order the cleaner runs them.
const std::vector<std::string>& CategoryNames();

struct CategoryFilter {
  std::vector<std::string> only;  // empty: every category
  std::vector<std::string> skip;
  bool empty() const { return only.empty() && skip.empty(); }
  bool Selects(std::u16string_view category) const;
};

// Adds the comma-separated names of text to the filter's only (option
// "--only") or skip list. False with *error naming a name that is not a
// category.
bool AddCategories(const std::string& option, const std::string& text, CategoryFilter* filter,
                   std::string* error);

// The (key, value) black-list entries that keep the logged problems of one
// category out of a run: what the cleaner tests its black list with for
// that category (a COM class's key, a counter's or folder's value, else the
// key). Empty value: the key alone.
std::vector<std::pair<std::u16string, std::u16string>> ExclusionEntries(
    const LoggedCategory& category);

// The resolve of options limited by filter (not empty), on the machine
// chosen. Exit statuses as a resolve's; 2 also when the problems to leave
// out cannot be told or kept out, or when the black list cannot be put back.
int RunFilteredResolve(const CleanOptions& options, const CategoryFilter& filter, std::istream& in,
                       std::ostream& out, std::ostream& err);

}  // namespace regclean
