#include <sys/stat.h>

#include "platform/machine.h"
#include "platform/posix/prefix_registry.h"
#include "platform/posix/wine_prefix.h"

namespace platform {

uint32_t SelectMachine(std::string_view prefixDirectory) {
  if (!prefixDirectory.empty()) posix::SetPrefixDirectory(std::string(prefixDirectory));
  struct stat st;
  const std::string prefix = posix::PrefixDirectory();
  return stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : 2;
}

std::string MachineName() { return posix::PrefixDirectory(); }

bool MachineRegistryLocked() { return posix::WineServerRunning(posix::PrefixDirectory()); }

}  // namespace platform
