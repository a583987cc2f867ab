// Test support (POSIX): a child process that holds the lock a running
// wineserver holds on a prefix, so that tests can see the prefix as busy.
#pragma once

#include <sys/types.h>

#include <filesystem>

class WineserverLock {
 public:
  WineserverLock() = default;
  ~WineserverLock() { Release(); }
  WineserverLock(const WineserverLock&) = delete;
  WineserverLock& operator=(const WineserverLock&) = delete;

  // Takes the lock for prefix in a child process; true once it is held.
  bool Hold(const std::filesystem::path& prefix);
  // Ends the child and removes the server folder it made.
  void Release();

 private:
  std::filesystem::path serverDir_;
  pid_t holder_ = -1;
};
