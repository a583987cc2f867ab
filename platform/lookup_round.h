// The lookups that answer one question (every reading of one path) as one
// round: within it, what the system's file system saw of a folder once may
// answer the round's later lookups below that folder. A file that exists
// throughout the round is always found; one made or removed meanwhile may be
// seen or not.
#pragma once

namespace platform {

class LookupRound {
 public:
  LookupRound();
  ~LookupRound();
  LookupRound(const LookupRound&) = delete;
  LookupRound& operator=(const LookupRound&) = delete;
};

}  // namespace platform
