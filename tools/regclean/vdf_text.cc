#include "tools/regclean/vdf_text.h"

namespace regclean {
namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

enum class TokenKind { kEnd, kText, kOpen, kClose, kBad };

// The tokenizer: one pass over the text, a state per kind of character run.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) {}

  TokenKind Next(std::string* text) {
    enum class State { kBetween, kComment, kQuoted, kEscape, kBare, kCondition };
    State state = State::kBetween;
    text->clear();
    for (; at_ < text_.size(); ++at_) {
      const char c = text_[at_];
      if (c == '\n') ++line_;
      switch (state) {
        case State::kBetween:
          if (c == ' ' || c == '\t' || c == '\r' || c == '\n') break;
          if (c == '/' && at_ + 1 < text_.size() && text_[at_ + 1] == '/') {
            state = State::kComment;
          } else if (c == '[') {
            state = State::kCondition;  // a platform condition such as [$WIN32]: ignored
          } else if (c == '{' || c == '}') {
            ++at_;
            return c == '{' ? TokenKind::kOpen : TokenKind::kClose;
          } else if (c == '"') {
            state = State::kQuoted;
            start_ = line_;
          } else {
            state = State::kBare;
            *text += c;
          }
          break;
        case State::kComment:
        case State::kCondition:
          if ((state == State::kComment && c == '\n') || (state == State::kCondition && c == ']'))
            state = State::kBetween;
          break;
        case State::kQuoted:
          if (c == '"') {
            ++at_;
            return TokenKind::kText;
          }
          if (c == '\\') {
            state = State::kEscape;
          } else {
            *text += c;
          }
          break;
        case State::kEscape:
          // Steam writes \\ and \"; \n and \t are the other escapes; any
          // other backslash stands for itself.
          *text += c == 'n' ? '\n' : c == 't' ? '\t' : (c == '\\' || c == '"') ? c : '\\';
          if (c != 'n' && c != 't' && c != '\\' && c != '"') *text += c;
          state = State::kQuoted;
          break;
        case State::kBare:
          if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '{' || c == '}') {
            if (c == '\n') --line_;  // counted again when read as the next token's
            return TokenKind::kText;
          }
          *text += c;
          break;
      }
    }
    if (state == State::kQuoted || state == State::kEscape) {
      error_ = "line " + std::to_string(start_) + ": a quoted text is not closed";
      return TokenKind::kBad;
    }
    return state == State::kBare ? TokenKind::kText : TokenKind::kEnd;
  }

  int line() const { return line_; }
  const std::string& error() const { return error_; }

 private:
  std::string_view text_;
  size_t at_ = 0;
  int line_ = 1;
  int start_ = 1;
  std::string error_;
};

}  // namespace

const VdfNode* VdfNode::Find(std::string_view wanted) const {
  for (const VdfNode& child : children)
    if (EqualsIgnoreCase(child.key, wanted)) return &child;
  return nullptr;
}

bool ParseVdf(std::string_view text, VdfNode* root, std::string* error) {
  root->block = true;
  // The open blocks, innermost last. Only the innermost one gains children,
  // so the pointers to the outer ones stay valid.
  std::vector<VdfNode*> open = {root};
  enum class State { kKey, kValue } state = State::kKey;
  Tokens tokens(text);
  std::string token;
  std::string key;
  const auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(tokens.line()) + ": " + why;
    return false;
  };
  for (;;) {
    const TokenKind kind = tokens.Next(&token);
    switch (kind) {
      case TokenKind::kBad:
        *error = tokens.error();
        return false;
      case TokenKind::kEnd:
        if (state == State::kValue) return fail("the key \"" + key + "\" has no value");
        if (open.size() > 1) return fail("a block is not closed");
        return true;
      case TokenKind::kText:
        if (state == State::kKey) {
          key = token;
          state = State::kValue;
        } else {
          open.back()->children.push_back(VdfNode{key, token, false, {}});
          state = State::kKey;
        }
        break;
      case TokenKind::kOpen:
        if (state != State::kValue) return fail("a block without a key");
        if (static_cast<int>(open.size()) > kVdfMaxDepth) return fail("blocks nest too deep");
        open.back()->children.push_back(VdfNode{key, {}, true, {}});
        open.push_back(&open.back()->children.back());
        state = State::kKey;
        break;
      case TokenKind::kClose:
        if (state == State::kValue) return fail("the key \"" + key + "\" has no value");
        if (open.size() == 1) return fail("a closing brace without its block");
        open.pop_back();
        break;
    }
  }
}

}  // namespace regclean
