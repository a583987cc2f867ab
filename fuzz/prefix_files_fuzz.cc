// Reads arbitrary bytes as the files that name Wine prefixes: Steam's
// KeyValues text (libraryfolders.vdf, appmanifest_*.acf) and a Lutris game
// file, and checks what they give: blocks never nest deeper than allowed, a
// value read is never also a block, and a prefix named is one line.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "tools/regclean/lutris_config.h"
#include "tools/regclean/vdf_text.h"

namespace {

int Depth(const regclean::VdfNode& node) {
  int deepest = 0;
  for (const regclean::VdfNode& child : node.children) {
    fuzz::Check(child.block || child.children.empty(), "a value has no children");
    fuzz::Check(!child.block || child.value.empty(), "a block has no value");
    if (child.block) deepest = std::max(deepest, 1 + Depth(child));
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  regclean::VdfNode root;
  std::string error;
  const bool clean = regclean::ParseVdf(text, &root, &error);
  fuzz::Check(clean == error.empty(), "an error is given exactly when the text is not clean");
  fuzz::Check(Depth(root) <= regclean::kVdfMaxDepth, "blocks nest no deeper than allowed");
  const std::string prefix = regclean::LutrisPrefix(text, "/home/user");
  fuzz::Check(prefix.find('\n') == std::string::npos, "a prefix is one line");
  return 0;
}
