// Test support (POSIX): a real wineserver running on a prefix ("wineserver
// -p", ended with "wineserver -k"), so that tests see the prefix as busy the
// way Wine itself makes it busy.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class WineserverLock {
 public:
  WineserverLock() = default;
  ~WineserverLock() { Release(); }
  WineserverLock(const WineserverLock&) = delete;
  WineserverLock& operator=(const WineserverLock&) = delete;

  // The wineserver program of this machine; empty when Wine is not installed.
  static std::string Program();

  // Starts a wineserver on prefix; true once its server folder holds its
  // socket (at most 10 s).
  bool Hold(const std::filesystem::path& prefix);
  // Stops the server and waits for its end; removes the /tmp folder that
  // Debian's Wine made for it.
  void Release();

 private:
  std::filesystem::path prefix_;
};

// Skips the test when there is no wineserver to start.
#define SKIP_WITHOUT_WINESERVER()                                                    \
  if (WineserverLock::Program().empty())                                             \
  GTEST_SKIP() << "no wineserver program on this machine (looked in /usr/lib/wine, " \
                  "/usr/lib/*/wine, /usr/bin and PATH)"
