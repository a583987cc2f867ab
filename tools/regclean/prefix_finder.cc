#include "tools/regclean/prefix_finder.h"

#include <map>
#include <set>

#include "platform/host.h"
#include "platform/machine.h"
#include "tools/regclean/lutris_config.h"
#include "tools/regclean/vdf_text.h"

namespace regclean {
namespace {

using platform::HostFileKind;
using platform::HostFileKindOf;

// Steam's and Lutris' files are small; anything larger is not theirs.
constexpr size_t kConfigLimit = 4 << 20;

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() &&
         text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

std::string Parent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

std::vector<platform::HostEntry> List(const std::string& folder) {
  std::vector<platform::HostEntry> entries;
  platform::ListHostFolder(folder, &entries);
  return entries;
}

bool ReadVdf(const std::string& path, VdfNode* root) {
  std::string bytes, error;
  if (!platform::ReadHostFile(path, kConfigLimit, &bytes)) return false;
  ParseVdf(bytes, root, &error);  // what was read before a fault still counts
  return true;
}

// The game's name from <library>/steamapps/appmanifest_<appid>.acf.
std::string SteamGameName(const std::string& steamapps, const std::string& appid) {
  VdfNode root;
  if (!ReadVdf(steamapps + "/appmanifest_" + appid + ".acf", &root)) return {};
  const VdfNode* state = root.Find("AppState");
  const VdfNode* name = state != nullptr ? state->Find("name") : nullptr;
  return name != nullptr && !name->block ? name->value : std::string();
}

// The library folders a Steam installation names: the blocks of
// "libraryfolders" with their "path", or (the older form) numbered values
// that are paths themselves; the installation is a library too.
std::vector<std::string> SteamLibraries(const std::string& steam) {
  std::vector<std::string> libraries = {steam};
  VdfNode root;
  if (!ReadVdf(steam + "/steamapps/libraryfolders.vdf", &root)) return libraries;
  const VdfNode* folders = root.Find("libraryfolders");
  if (folders == nullptr) return libraries;
  for (const VdfNode& entry : folders->children) {
    if (!AllDigits(entry.key)) continue;
    const VdfNode* path = entry.block ? entry.Find("path") : &entry;
    if (path != nullptr && !path->block && !path->value.empty()) libraries.push_back(path->value);
  }
  return libraries;
}

class Finder {
 public:
  explicit Finder(std::string home) : home_(std::move(home)) {}

  void Add(const std::string& folder, const std::string& kind, const std::string& name) {
    if (!IsWinePrefix(folder)) return;
    FoundPrefix prefix;
    prefix.path = platform::HostRealPath(folder);
    if (prefix.path.empty() || !seen_.insert(prefix.path).second) return;
    prefix.kind = kind;
    prefix.name = name;
    for (const char* hive : {"/system.reg", "/user.reg", "/userdef.reg"}) {
      uint64_t size = 0;
      if (HostFileKindOf(prefix.path + hive, &size) == HostFileKind::kFile)
        prefix.hiveBytes += size;
    }
    prefix.busy = platform::PrefixRegistryLocked(prefix.path);
    found_.push_back(std::move(prefix));
  }

  // A prefix found in a folder given: its kind from where it lies.
  void AddByPlace(const std::string& folder) {
    const std::string parent = Parent(folder);
    const std::string compatdata = Parent(parent);
    if (BaseName(folder) == "pfx" && AllDigits(BaseName(parent)) &&
        BaseName(compatdata) == "compatdata") {
      Add(folder, "proton", SteamGameName(Parent(compatdata), BaseName(parent)));
    } else if (HostFileKindOf(folder + "/bottle.yml") == HostFileKind::kFile) {
      Add(folder, "bottles", BaseName(folder));
    } else {
      Add(folder, "wine", {});
    }
  }

  void Search(const std::string& folder, int depth) {
    if (IsWinePrefix(folder)) {
      AddByPlace(folder);
      return;  // a prefix's drive_c holds no further prefixes worth a walk
    }
    if (depth == 0) return;
    for (const platform::HostEntry& entry : List(folder)) {
      if (entry.folder && !entry.link) Search(folder + "/" + entry.name, depth - 1);
    }
  }

  void Steam(const std::vector<std::string>& installations) {
    std::set<std::string> libraries;
    std::vector<std::string> order;
    for (const std::string& steam : installations) {
      if (HostFileKindOf(steam) != HostFileKind::kFolder) continue;
      for (const std::string& library : SteamLibraries(steam)) {
        const std::string real = platform::HostRealPath(library);
        if (!real.empty() && libraries.insert(real).second) order.push_back(real);
      }
    }
    // A game's prefix may lie in another library than its manifest.
    std::map<std::string, std::string> names;
    for (const std::string& library : order) {
      for (const platform::HostEntry& entry : List(library + "/steamapps")) {
        const std::string& file = entry.name;
        if (file.compare(0, 12, "appmanifest_") == 0 && EndsWith(file, ".acf")) {
          const std::string appid = file.substr(12, file.size() - 16);
          const std::string name = SteamGameName(library + "/steamapps", appid);
          if (AllDigits(appid) && !name.empty()) names.emplace(appid, name);
        }
      }
    }
    for (const std::string& library : order) {
      const std::string compatdata = library + "/steamapps/compatdata";
      for (const platform::HostEntry& entry : List(compatdata)) {
        if (!entry.folder || !AllDigits(entry.name)) continue;
        const auto name = names.find(entry.name);
        Add(compatdata + "/" + entry.name + "/pfx", "proton",
            name != names.end() ? name->second : std::string());
      }
    }
  }

  void Lutris(const std::vector<std::string>& gameFolders) {
    for (const std::string& folder : gameFolders) {
      for (const platform::HostEntry& entry : List(folder)) {
        if (entry.folder || !EndsWith(entry.name, ".yml")) continue;
        std::string bytes;
        if (!platform::ReadHostFile(folder + "/" + entry.name, kConfigLimit, &bytes)) continue;
        const std::string prefix = LutrisPrefix(bytes, home_);
        if (prefix.empty()) continue;
        // Lutris names its game files <slug>-<install time>.yml.
        std::string slug = entry.name.substr(0, entry.name.size() - 4);
        const size_t dash = slug.find_last_of('-');
        if (dash != std::string::npos && dash > 0 && AllDigits(slug.substr(dash + 1)))
          slug.resize(dash);
        Add(prefix, "lutris", slug);
      }
    }
  }

  void Children(const std::string& folder, const std::string& kind, bool named) {
    for (const platform::HostEntry& entry : List(folder))
      if (entry.folder) Add(folder + "/" + entry.name, kind, named ? entry.name : std::string());
  }

  std::vector<FoundPrefix> Take() { return std::move(found_); }

 private:
  std::string home_;
  std::set<std::string> seen_;
  std::vector<FoundPrefix> found_;
};

}  // namespace

bool IsWinePrefix(const std::string& folder) {
  return !folder.empty() && HostFileKindOf(folder + "/system.reg") == HostFileKind::kFile &&
         HostFileKindOf(folder + "/dosdevices") == HostFileKind::kFolder;
}

std::vector<FoundPrefix> FindPrefixes(const std::vector<std::string>& folders,
                                      const std::string& home) {
  Finder finder(home);
  if (!folders.empty()) {
    for (const std::string& folder : folders) finder.Search(folder, kSearchDepth);
    return finder.Take();
  }
  const std::string winePrefix = platform::HostEnvironmentVariable("WINEPREFIX");
  if (!winePrefix.empty()) finder.Add(winePrefix, "wine", {});
  if (home.empty()) return finder.Take();
  finder.Add(home + "/.wine", "wine", {});
  const std::string flatpak = home + "/.var/app/";
  finder.Steam({home + "/.steam/steam", home + "/.local/share/Steam",
                flatpak + "com.valvesoftware.Steam/.local/share/Steam",
                flatpak + "com.valvesoftware.Steam/data/Steam"});
  finder.Lutris({home + "/.config/lutris/games", home + "/.local/share/lutris/games",
                 flatpak + "net.lutris.Lutris/config/lutris/games",
                 flatpak + "net.lutris.Lutris/data/lutris/games"});
  finder.Children(home + "/Games", "lutris", true);
  finder.Children(home + "/.local/share/bottles/bottles", "bottles", true);
  finder.Children(flatpak + "com.usebottles.bottles/data/bottles/bottles", "bottles", true);
  return finder.Take();
}

std::string PrefixLabel(const FoundPrefix& prefix, const std::string& home) {
  if (!prefix.name.empty()) return prefix.name + " (" + prefix.kind + ")";
  if (!home.empty() && prefix.path.compare(0, home.size() + 1, home + "/") == 0)
    return "~" + prefix.path.substr(home.size());
  return prefix.path;
}

}  // namespace regclean
