// Valve's KeyValues text, the format of Steam's libraryfolders.vdf and of
// its appmanifest_<appid>.acf files: quoted (or bare) keys, each followed by
// a quoted value or by a block in braces; "//" comments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace regclean {

struct VdfNode {
  std::string key;
  std::string value;  // empty for a block
  bool block = false;
  std::vector<VdfNode> children;

  // The first child whose key equals key ignoring ASCII case; null if none.
  const VdfNode* Find(std::string_view key) const;
};

// Blocks nest at most this deep; deeper input is an error.
constexpr int kVdfMaxDepth = 32;

// Reads text into root's children. Never fails hard: on malformed input
// (an unclosed quote or block, a stray brace, a key without a value, too
// deep) it returns false with the line and reason in *error, and root keeps
// what was read before.
bool ParseVdf(std::string_view text, VdfNode* root, std::string* error);

}  // namespace regclean
