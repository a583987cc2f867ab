// The environment Wine gives a program of a prefix, built from the prefix's
// registry: SystemDrive and SystemRoot first, then the values of
// HKLM\System\CurrentControlSet\Control\Session Manager\Environment,
// HKCU\Environment and HKCU\Volatile Environment (REG_SZ as they stand,
// REG_EXPAND_SZ expanded against what is set so far; a later PATH is added to
// the one before it), then ProgramData, ALLUSERSPROFILE and PUBLIC from the
// ProfileList key and the Program Files variables from
// HKLM\Software\Microsoft\Windows\CurrentVersion. A 32-bit program on a
// 64-bit prefix gets the (x86) folders as ProgramFiles and
// CommonProgramFiles. Pure code over the registry seam: the POSIX backend
// runs it on the prefix's registry, tests on an in-memory one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform {

class EnvironmentBlock {
 public:
  struct Variable {
    std::u16string name;
    std::u16string value;
  };

  // The value of a variable (names compare without regard to case); null
  // when it is not set.
  const std::u16string* Find(std::u16string_view name) const;
  // Sets or replaces a variable; the first spelling of its name stays.
  void Set(std::u16string_view name, std::u16string_view value);
  // ExpandEnvironmentStringsW: %NAME% of a set variable becomes its value;
  // a reference to a variable that is not set stays as it stands, and its
  // closing % may open the next reference.
  std::u16string Expand(std::u16string_view text) const;

  const std::vector<Variable>& variables() const { return variables_; }

 private:
  std::vector<Variable> variables_;
};

// The environment of a 32-bit program on the machine registry describes;
// win64 says whether the machine is 64-bit.
EnvironmentBlock BuildWineEnvironment(Registry* registry, bool win64);

}  // namespace platform
