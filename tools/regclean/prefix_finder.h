// Finds the Wine prefixes of a user: a folder holding system.reg and
// dosdevices/ is one. Where they are looked for, and what kind each is:
//   wine     $WINEPREFIX, ~/.wine, and any prefix found below a folder given
//   proton   <Steam library>/steamapps/compatdata/<appid>/pfx, for every
//            library that libraryfolders.vdf of a Steam installation names
//            (~/.steam/steam, ~/.local/share/Steam, the Flatpak's); its name
//            is the game's, from the library's appmanifest_<appid>.acf
//   lutris   the "prefix:" of each Lutris game file (games/*.yml in Lutris'
//            folders, the Flatpak's too), named after the file, and ~/Games/*
//   bottles  ~/.local/share/bottles/bottles/* and the Flatpak's, named after
//            the bottle
// Every file read here is outside input: a damaged one costs only what it
// would have named.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace regclean {

struct FoundPrefix {
  std::string path;        // with every link resolved
  std::string kind;        // "wine", "proton", "lutris" or "bottles"
  std::string name;        // the game's or bottle's name; may be empty
  uint64_t hiveBytes = 0;  // system.reg, user.reg and userdef.reg together
  bool busy = false;       // a wineserver runs on it
};

// Whether folder (a host path) is a Wine prefix.
bool IsWinePrefix(const std::string& folder);

// The prefixes in folders, each a prefix itself or searched for prefixes
// down to kSearchDepth levels (links are not followed); with no folders, the
// places above below home. Each prefix once, in the order found; folders are
// read in name order. Read-only: nothing is changed.
std::vector<FoundPrefix> FindPrefixes(const std::vector<std::string>& folders,
                                      const std::string& home);

constexpr int kSearchDepth = 6;

// The prefix as the tables show it: its name (with its kind), else its path
// with home as "~".
std::string PrefixLabel(const FoundPrefix& prefix, const std::string& home);

}  // namespace regclean
