#include "tools/regclean/lutris_config.h"

namespace regclean {
namespace {

// The value after "key:" on one line, as YAML writes a plain scalar or a
// quoted one; false when the quotes do not close.
bool ScalarValue(std::string_view rest, std::string* value) {
  enum class State { kLead, kPlain, kSingle, kSingleQuote, kDouble, kEscape, kDone };
  State state = State::kLead;
  value->clear();
  for (size_t i = 0; i < rest.size() && state != State::kDone; ++i) {
    const char c = rest[i];
    switch (state) {
      case State::kLead:
        if (c == ' ' || c == '\t') break;
        if (c == '#') return true;  // only a comment: no value
        state = c == '\'' ? State::kSingle : c == '"' ? State::kDouble : State::kPlain;
        if (state == State::kPlain) *value += c;
        break;
      case State::kPlain:
        // " #" starts a comment; a '#' inside a word does not.
        if (c == '#' && (value->back() == ' ' || value->back() == '\t')) {
          state = State::kDone;
        } else {
          *value += c;
        }
        break;
      case State::kSingle:
        if (c == '\'') {
          state = State::kSingleQuote;
        } else {
          *value += c;
        }
        break;
      case State::kSingleQuote:
        // '' inside single quotes is one quote; anything else ends the text.
        if (c == '\'') {
          *value += c;
          state = State::kSingle;
        } else {
          state = State::kDone;
        }
        break;
      case State::kDouble:
        if (c == '"') {
          state = State::kDone;
        } else if (c == '\\') {
          state = State::kEscape;
        } else {
          *value += c;
        }
        break;
      case State::kEscape:
        *value += c == 't' ? '\t' : c;
        state = State::kDouble;
        break;
      case State::kDone:
        break;
    }
  }
  if (state == State::kSingle || state == State::kDouble || state == State::kEscape) return false;
  if (state == State::kPlain || state == State::kDone) {
    while (!value->empty() &&
           (value->back() == ' ' || value->back() == '\t' || value->back() == '\r'))
      value->pop_back();
  }
  return true;
}

}  // namespace

std::string LutrisPrefix(std::string_view yaml, const std::string& home) {
  std::string section;  // the top-level key the current line belongs to
  std::string inGame, anywhere;
  size_t start = 0;
  while (start < yaml.size()) {
    size_t end = yaml.find('\n', start);
    if (end == std::string_view::npos) end = yaml.size();
    std::string_view line = yaml.substr(start, end - start);
    start = end + 1;
    size_t indent = 0;
    while (indent < line.size() && line[indent] == ' ') ++indent;
    line.remove_prefix(indent);
    if (line.empty() || line[0] == '#' || line[0] == '\r') continue;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, colon);
    if (indent == 0) section = std::string(key);
    if (key != "prefix") continue;
    std::string value;
    if (!ScalarValue(line.substr(colon + 1), &value) || value.empty()) continue;
    if (value == "~" || value.compare(0, 2, "~/") == 0) value = home + value.substr(1);
    if (indent > 0 && section == "game" && inGame.empty()) inGame = value;
    if (anywhere.empty()) anywhere = value;
  }
  return inGame.empty() ? anywhere : inGame;
}

}  // namespace regclean
