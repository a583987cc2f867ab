// The Windows environment of the prefix, as Wine gives it to a 32-bit
// program: built from the prefix's registry once per prefix.
#include <stdlib.h>

#include <map>
#include <mutex>

#include "platform/environment.h"
#include "platform/system.h"
#include "platform/unicode.h"
#include "platform/wineprefix/wine_environment.h"
#include "platform/wineprefix/wine_prefix.h"

namespace platform {
namespace {

std::mutex g_lock;

// The environment of the current prefix. The registry is read once per
// prefix; blocks stay until the library is released, so references stay
// valid.
const EnvironmentBlock& Environment() {
  static std::map<std::string, EnvironmentBlock> blockStore;
  std::map<std::string, EnvironmentBlock>* const blocks = &blockStore;
  const std::string prefix = posix::PrefixDirectory();
  std::lock_guard<std::mutex> lock(g_lock);
  auto found = blocks->find(prefix);
  if (found == blocks->end()) {
    const bool win64 = System::Default()->GetNativeArchitecture() == kArchitectureAmd64;
    found = blocks->emplace(prefix, BuildWineEnvironment(Registry::Default(), win64)).first;
  }
  return found->second;
}

}  // namespace

bool GetEnvironmentVariable(std::u16string_view name, std::u16string* value) {
  value->clear();
  const std::u16string* found = Environment().Find(name);
  if (found == nullptr) return false;
  *value = *found;
  return true;
}

std::u16string ExpandEnvironmentStrings(std::u16string_view text) {
  return Environment().Expand(text);
}

bool SetProcessEnvironmentVariable(std::u16string_view name, std::u16string_view value) {
  return setenv(U16ToUtf8(name).c_str(), U16ToUtf8(value).c_str(), 1) == 0;
}

}  // namespace platform
