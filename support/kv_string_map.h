// String-keyed maps that compare keys exactly or without regard to case,
// chosen at construction. A case-insensitive map compares with a folded
// copy of the key and keeps the spelling of the key's first insertion.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "platform/case_fold.h"

template <typename T>
class CKvStringObjMap {
 public:
  explicit CKvStringObjMap(bool ignoreCase = false) : ignoreCase_(ignoreCase) {}

  // The value stored under key, or null.
  T* Find(std::u16string_view key) {
    auto it = entries_.find(Folded(key));
    return it == entries_.end() ? nullptr : &it->second.second;
  }
  const T* Find(std::u16string_view key) const {
    auto it = entries_.find(Folded(key));
    return it == entries_.end() ? nullptr : &it->second.second;
  }
  // The value under key, inserted default-constructed when missing.
  T& operator[](std::u16string_view key) {
    auto [it, inserted] = entries_.try_emplace(Folded(key));
    if (inserted) it->second.first = std::u16string(key);
    return it->second.second;
  }
  // True when key was there.
  bool Remove(std::u16string_view key) { return entries_.erase(Folded(key)) != 0; }
  void Clear() { entries_.clear(); }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // Calls visit(spelling, value) for every entry, in key order.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const auto& entry : entries_) visit(entry.second.first, entry.second.second);
  }

 private:
  std::u16string Folded(std::u16string_view key) const {
    return ignoreCase_ ? platform::FoldCase(key) : std::u16string(key);
  }

  bool ignoreCase_;
  std::map<std::u16string, std::pair<std::u16string, T>> entries_;
};

// Key to value, as a section of a settings file holds them.
class CKvStringMap : public CKvStringObjMap<std::u16string> {
 public:
  using CKvStringObjMap<std::u16string>::CKvStringObjMap;
};
