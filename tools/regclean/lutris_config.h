// The one thing regclean reads from a Lutris game file (games/*.yml): the
// Wine prefix its game runs in, the "prefix:" entry of its "game:" section.
#pragma once

#include <string>
#include <string_view>

namespace regclean {

// The prefix named in a game file's text: the value of "prefix:" in the
// "game:" section, else of the first "prefix:" anywhere; plain, 'single' or
// "double" quoted, a trailing comment dropped, "~/" made home + "/". Empty
// when there is none or the line cannot be read (an unclosed quote).
std::string LutrisPrefix(std::string_view yaml, const std::string& home);

}  // namespace regclean
