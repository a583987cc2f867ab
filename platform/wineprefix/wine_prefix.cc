#include "platform/wineprefix/wine_prefix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/case_fold.h"
#include "platform/unicode.h"
#include "platform/wineprefix/dos_path.h"

namespace platform::posix {
namespace {

std::mutex g_prefixLock;
std::string g_prefix;
bool g_prefixSet = false;

// A lookup that failed for a reason other than "no such file or folder":
// the answer is not known.
bool Uncertain(int error) { return error != 0 && error != ENOENT && error != ENOTDIR; }

bool Exists(const std::string& path, struct stat* st = nullptr) {
  struct stat own;
  return lstat(path.c_str(), st != nullptr ? st : &own) == 0;
}

std::string Join(const std::string& folder, const std::string& name) {
  return (folder.empty() || folder.back() == '/') ? folder + name : folder + "/" + name;
}

// Folder listings, kept across lookups so that a name missing as written
// does not cost a read of its whole folder each time. A kept listing is used
// only while its folder's device, inode, mtime and ctime are unchanged, and
// it is kept only when the folder had not changed for a while (longer than
// one tick of the file system's clock) when it was read: a later change then
// gets a later time stamp, so it can never go unseen and an existing file is
// never called missing. Linux's own file systems stamp times from the
// kernel's coarse clock (one tick is 10 ms at most); others get two seconds
// (FAT's granularity); network and user-space file systems, whose times may
// come from elsewhere, are never kept.
// The kept listings hold at most 65,536 names (a name costs about 180 bytes
// with its index: some 12 MB), so that a check of a big machine, which
// lists every folder its registry names, stays close to the memory of its
// registry (the largest listing does not count, so one folder may be
// larger); past that they are dropped and read again when needed.
constexpr size_t kMaxListedNames = size_t{1} << 16;

// Linux's own file systems, whose times come from the kernel's coarse clock
// and whose every change passes through this kernel's calls.
constexpr int64_t kKernelFileSystemSettleNs = 50'000'000;

// 0: never keep listings of this file system.
int64_t SettleNs(const std::string& folder) {
  struct statfs fs;
  if (statfs(folder.c_str(), &fs) != 0) return 0;
  switch (static_cast<uint64_t>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x794C7630:  // overlayfs
    case 0xF2F52010:  // f2fs
      return kKernelFileSystemSettleNs;
    case 0x6969:      // nfs
    case 0xFF534D42:  // cifs
    case 0xFE534D42:  // smb2
    case 0x65735546:  // fuse
    case 0x01021997:  // 9p
    case 0x73757245:  // coda
    case 0x564C:      // ncp
    case 0x0BD00BD0:  // lustre
    case 0x19830326:  // fhgfs
    case 0x6B414653:  // afs
    case 0x5346414F:  // openafs
    case 0x00C36400:  // ceph
      return 0;
    default:
      return 2'000'000'000;
  }
}

// Folded names, found by a view of a folded name without a copy.
struct FoldedHash {
  using is_transparent = void;
  size_t operator()(std::u16string_view name) const {
    return std::hash<std::u16string_view>()(name);
  }
};
using NameIndex = std::unordered_multimap<std::u16string, uint32_t, FoldedHash, std::equal_to<>>;

// A name folded as the listings index it, on the stack (a name holds at
// most 255 characters; a longer text is folded on the heap).
class FoldedName {
 public:
  explicit FoldedName(std::u16string_view name) {
    if (name.size() > std::size(buffer_)) {
      heap_ = FoldCase(name);
      view_ = heap_;
      return;
    }
    for (size_t i = 0; i < name.size(); ++i) buffer_[i] = FoldCase(name[i]);
    view_ = std::u16string_view(buffer_, name.size());
  }
  FoldedName(const FoldedName&) = delete;
  FoldedName& operator=(const FoldedName&) = delete;
  std::u16string_view view() const { return view_; }

 private:
  char16_t buffer_[256];
  std::u16string heap_;
  std::u16string_view view_;
};

struct Listing {
  struct stat folder {};
  std::vector<std::string> names;  // in the folder's order; "" for one gone since
  // The entries per folded name, and per folded hashed short name of the
  // entries that are no 8.3 names themselves (made on first need).
  NameIndex byName;
  NameIndex byShortName;
  bool shortNamesIndexed = false;
  // A folder that was still changing when it was read is watched instead:
  // the watch was set before the read, and every change since comes as an
  // event that is applied before the listing answers again.
  int watch = -1;
  // The lookup round in which the folder was last seen unchanged (0: none).
  uint64_t seenIn = 0;
  // The chain epoch in which the folder was last seen unchanged with its
  // chain watched (0: none; see "Chained listings"); whether it cannot be.
  uint64_t chainedIn = 0;
  bool unchainable = false;
  int validations = 0;  // by a stat: a listing asked once is not worth a chain
  int chainWatch = -1;  // the chain watch of the folder itself
};

// Listings by folder, found by a part of a longer path without a copy.
struct PathHash {
  using is_transparent = void;
  size_t operator()(std::string_view path) const { return std::hash<std::string_view>()(path); }
};
std::mutex g_listingLock;
std::unordered_map<std::string, Listing, PathHash, std::equal_to<>> g_listings;
size_t g_listedNames = 0;
// The watched folders by watch; at most kMaxWatches.
std::unordered_map<int, std::string> g_watched;
constexpr size_t kMaxWatches = 64;
// A settled folder of at least this many names keeps the watch set for its
// read: another program may start changing it (a cache or downloads folder),
// and reading it again would cost more than its events.
constexpr size_t kWatchedNames = 1024;
int g_notify = -2;  // -2: not made yet; -1: none to be had

int64_t Nanoseconds(const timespec& t) { return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }

bool SameFolder(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         Nanoseconds(a.st_mtim) == Nanoseconds(b.st_mtim) &&
         Nanoseconds(a.st_ctim) == Nanoseconds(b.st_ctim);
}

// The folder (path, as stat gave it) has not changed for longer than its
// file system's settle time.
bool Settled(const std::string& path, const struct stat& folder) {
  const int64_t settle = SettleNs(path);
  if (settle == 0) return false;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t changed = std::max(Nanoseconds(folder.st_mtim), Nanoseconds(folder.st_ctim));
  return Nanoseconds(now) - changed > settle;
}

// A name on disk as the listings index it: UTF-16, case folded, one copy.
std::u16string Folded(std::string_view name) {
  std::u16string folded = Utf8ToU16(name);
  for (char16_t& c : folded) c = FoldCase(c);
  return folded;
}

void AddName(Listing* listing, std::string_view name) {
  const std::u16string folded = Folded(name);
  auto [from, to] = listing->byName.equal_range(folded);
  for (auto it = from; it != to; ++it)
    if (listing->names[it->second] == name) return;  // seen by the read as well
  const uint32_t index = static_cast<uint32_t>(listing->names.size());
  listing->names.emplace_back(name);
  listing->byName.emplace(folded, index);
  if (!listing->shortNamesIndexed) return;
  const std::u16string wide = Utf8ToU16(name);
  if (!IsLegal8Dot3Name(wide))
    listing->byShortName.emplace(FoldCase(HashShortFileName(wide)), index);
}

void EraseIndex(NameIndex* map, const std::u16string& key, uint32_t index) {
  auto [from, to] = map->equal_range(key);
  for (auto it = from; it != to; ++it) {
    if (it->second == index) {
      map->erase(it);
      return;
    }
  }
}

void RemoveName(Listing* listing, std::string_view name) {
  const std::u16string wide = Utf8ToU16(name);
  const std::u16string folded = FoldCase(wide);
  auto [from, to] = listing->byName.equal_range(folded);
  for (auto it = from; it != to; ++it) {
    const uint32_t index = it->second;
    if (listing->names[index] != name) continue;
    listing->byName.erase(it);
    if (listing->shortNamesIndexed && !IsLegal8Dot3Name(wide))
      EraseIndex(&listing->byShortName, FoldCase(HashShortFileName(wide)), index);
    listing->names[index].clear();
    return;
  }
}

size_t g_folderReads = 0;

bool ReadListing(const std::string& folder, Listing* listing) {
  ++g_folderReads;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  while (dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    const uint32_t index = static_cast<uint32_t>(listing->names.size());
    listing->names.emplace_back(name);
    listing->byName.emplace(Folded(name), index);
  }
  closedir(dir);
  return true;
}

// The first of the entries [from, to) in the folder's order; UINT32_MAX if none.
template <typename Range>
uint32_t First(Range range) {
  uint32_t best = UINT32_MAX;
  for (auto it = range.first; it != range.second; ++it) best = std::min(best, it->second);
  return best;
}

// The entry of the listing that name (folded: its folded form) stands for:
// the first whose name equals it ignoring case, or, when name is an 8.3
// name, the first whose hashed short name it is, whichever comes first.
// Null if none. A hashed short name always holds a "~" (see
// HashShortFileName): for a name without one the short names are not made.
// byName: the entries whose folded name is folded, when already found.
const std::string* Lookup(
    Listing* listing, std::u16string_view name, std::u16string_view folded,
    const std::pair<NameIndex::iterator, NameIndex::iterator>* byName = nullptr) {
  uint32_t best = First(byName != nullptr ? *byName : listing->byName.equal_range(folded));
  if (name.find(u'~') != std::u16string_view::npos && IsLegal8Dot3Name(name)) {
    if (!listing->shortNamesIndexed) {
      for (uint32_t i = 0; i < listing->names.size(); ++i) {
        if (listing->names[i].empty()) continue;
        const std::u16string wide = Utf8ToU16(listing->names[i]);
        if (!IsLegal8Dot3Name(wide))
          listing->byShortName.emplace(FoldCase(HashShortFileName(wide)), i);
      }
      listing->shortNamesIndexed = true;
    }
    best = std::min(best, First(listing->byShortName.equal_range(folded)));
  }
  return best == UINT32_MAX ? nullptr : &listing->names[best];
}

std::string Lookup(Listing* listing, std::u16string_view name) {
  const FoldedName folded(name);
  const std::string* match = Lookup(listing, name, folded.view());
  return match == nullptr ? std::string() : *match;
}

// Lookup rounds (see BeginLookupRound): a listing whose folder was seen
// unchanged in the round that runs on this thread answers for the rest of it
// without another stat of the folder.
std::atomic<uint64_t> g_rounds{0};
thread_local uint64_t t_round = 0;
thread_local int t_roundDepth = 0;

bool SeenThisRound(const Listing& listing) { return t_round != 0 && listing.seenIn == t_round; }

// Forgets a kept listing and its watch.
void ForgetChainedFolder(int watch);

void Drop(decltype(g_listings)::iterator kept) {
  if (kept->second.watch >= 0) {
    inotify_rm_watch(g_notify, kept->second.watch);
    g_watched.erase(kept->second.watch);
  }
  ForgetChainedFolder(kept->second.chainWatch);
  g_listedNames -= kept->second.names.size();
  g_listings.erase(kept);
}

void DropWatched(int watch) {
  const auto folder = g_watched.find(watch);
  if (folder == g_watched.end()) return;
  const auto kept = g_listings.find(folder->second);
  if (kept != g_listings.end()) Drop(kept);
}

// A watch on folder set before its listing is read; -1 when none can be had
// (the file system's changes may come from elsewhere, or too many watches).
int Watch(const std::string& folder) {
  if (SettleNs(folder) == 0 || g_watched.size() >= kMaxWatches) return -1;
  if (g_notify == -2) g_notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (g_notify < 0) return -1;
  const int watch = inotify_add_watch(g_notify, folder.c_str(),
                                      IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                          IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
  // The same folder under another path already has this watch.
  if (watch < 0 || g_watched.count(watch) != 0) return -1;
  g_watched.emplace(watch, folder);
  return watch;
}

void Unwatch(int* watch) {
  if (*watch < 0) return;
  inotify_rm_watch(g_notify, *watch);
  g_watched.erase(*watch);
  *watch = -1;
}

// Applies every change the watches have seen so far to their listings. An
// event is queued before the call that made the change returns, so once
// this has run every change made before it started is in the listings. A
// lost event (the queue ran over) drops every watched listing.
void CatchUp() {
  if (g_notify < 0 || g_watched.empty()) return;
  alignas(inotify_event) char buffer[64 << 10];
  for (;;) {
    const ssize_t n = read(g_notify, buffer, sizeof(buffer));
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        while (!g_watched.empty()) DropWatched(g_watched.begin()->first);
        continue;
      }
      if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
        DropWatched(event->wd);
        continue;
      }
      const auto folder = g_watched.find(event->wd);
      if (folder == g_watched.end() || event->len == 0) continue;
      const auto kept = g_listings.find(folder->second);
      if (kept == g_listings.end()) continue;
      Listing& listing = kept->second;
      const std::string_view name(event->name, strnlen(event->name, event->len));
      const size_t before = listing.names.size();
      if (event->mask & (IN_CREATE | IN_MOVED_TO)) AddName(&listing, name);
      if (event->mask & (IN_DELETE | IN_MOVED_FROM)) RemoveName(&listing, name);
      g_listedNames += listing.names.size() - before;
    }
  }
}

// Chained listings: a kept listing whose folder, and every folder on the
// way to it from the root, is watched answers without the stat that would
// validate it. The way is plain folders (no link on it, so no other folder
// decides where it leads), checked once the watches are set; a name made,
// deleted or moved in the listing's folder, a folder on the way made,
// deleted or moved (an event of its parent's watch or its own), a watch the
// kernel ends, a lost event, or any change of the mount table (the table is
// polled) starts a new epoch, and a listing seen in an older epoch is
// validated by its stat again. An event is queued, and the mount table's
// change counted, before the call that made the change returns: a change
// made before a lookup started is seen by it. Only on the file systems whose
// changes all pass through this kernel; at most kMaxChainWatches watches.
constexpr size_t kMaxChainWatches = 256;
// No IN_ATTRIB: it is also an event of every entry, and a watch asking for
// it has the kernel mark each name of the folder it holds in memory (23 ms
// for /tmp here). A folder's rights do not move its names: a listing kept
// current by the events still tells what is there.
constexpr uint32_t kChainEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
struct ChainWatch {
  int listings = 0;                // of this folder, chained: its names matter
  std::set<std::string> children;  // the names on the way below this folder
};
int g_chainNotify = -2;  // -2: not made yet; -1: none to be had
int g_mountTable = -1;
std::unordered_map<int, ChainWatch> g_chainWatches;
// Whether a folder's file system is one to chain on, while the mount table
// is unchanged.
std::unordered_map<std::string, bool> g_chainableFolders;
// The chain watches by folder path, while the epoch they were set in runs.
std::unordered_map<std::string, int> g_watchedPaths;
uint64_t g_watchedPathsEpoch = 0;
uint64_t g_chainEpoch = 1;
size_t g_chainedAnswers = 0;

bool ChainsAvailable() {
  if (g_chainNotify == -2) {
    g_chainNotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    g_mountTable = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (g_chainNotify < 0 || g_mountTable < 0) {
      if (g_chainNotify >= 0) close(g_chainNotify);
      if (g_mountTable >= 0) close(g_mountTable);
      g_chainNotify = g_mountTable = -1;
    }
  }
  return g_chainNotify >= 0;
}

// The file systems whose every change passes through this kernel's calls.
bool ChainableFileSystem(const std::string& folder) {
  const auto known = g_chainableFolders.find(folder);
  if (known != g_chainableFolders.end()) return known->second;
  const bool chainable = SettleNs(folder) == kKernelFileSystemSettleNs;
  if (g_chainableFolders.size() >= kMaxChainWatches) g_chainableFolders.clear();
  g_chainableFolders.emplace(folder, chainable);
  return chainable;
}

// A dropped or moved listing's folder: its names matter to one chain fewer.
void ForgetChainedFolder(int watch) {
  const auto chained = g_chainWatches.find(watch);
  if (chained != g_chainWatches.end() && chained->second.listings > 0) --chained->second.listings;
}

// Reads what the chain watches and the mount table have seen since the last
// call; a change that may concern a chained listing starts a new epoch.
void CatchUpChains() {
  if (g_chainNotify < 0) return;
  pollfd ready[2] = {{g_mountTable, POLLPRI, 0}, {g_chainNotify, POLLIN, 0}};
  const int polled = poll(ready, 2, 0);
  if (polled < 0) {
    ++g_chainEpoch;  // not known: nothing is trusted
    return;
  }
  if (polled == 0) return;
  if (ready[0].revents != 0) {  // the mount table changed (or cannot tell)
    ++g_chainEpoch;
    g_chainableFolders.clear();
  }
  if (ready[1].revents & ~POLLIN) ++g_chainEpoch;
  if (!(ready[1].revents & POLLIN)) return;
  alignas(inotify_event) char buffer[16 << 10];
  for (;;) {
    const ssize_t n = read(g_chainNotify, buffer, sizeof(buffer));
    if (n <= 0) {
      if (n < 0 && errno != EAGAIN && errno != EINTR) ++g_chainEpoch;
      return;
    }
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        ++g_chainEpoch;
        continue;
      }
      const auto watch = g_chainWatches.find(event->wd);
      if (watch == g_chainWatches.end()) continue;
      if (event->mask & IN_IGNORED) {
        ++g_chainEpoch;
        g_chainWatches.erase(watch);
        continue;
      }
      const std::string_view name(event->name,
                                  event->len == 0 ? 0 : strnlen(event->name, event->len));
      if (name.empty()) {
        ++g_chainEpoch;  // the folder itself: moved or deleted
      } else if (watch->second.children.count(std::string(name)) != 0) {
        ++g_chainEpoch;  // a folder on the way
      } else if (watch->second.listings > 0) {
        ++g_chainEpoch;  // a name of a chained listing
      }
    }
  }
}

// Watches path for a chain: above the name child of the way, or (child
// empty) as a chained listing's own folder.
bool AddChainWatch(const std::string& path, std::string_view child, int* added = nullptr) {
  // A folder watched in the running epoch still is the one its path names:
  // a change would have started a new epoch.
  if (g_watchedPathsEpoch != g_chainEpoch) {
    g_watchedPaths.clear();
    g_watchedPathsEpoch = g_chainEpoch;
  }
  int wd = -1;
  const auto known = g_watchedPaths.find(path);
  if (known != g_watchedPaths.end() && g_chainWatches.count(known->second) != 0) {
    wd = known->second;
  } else {
    if (!ChainableFileSystem(path)) return false;
    wd = inotify_add_watch(g_chainNotify, path.c_str(), kChainEvents);
    if (wd < 0) return false;
  }
  auto watch = g_chainWatches.find(wd);
  if (watch == g_chainWatches.end()) {
    if (g_chainWatches.size() >= kMaxChainWatches) {
      inotify_rm_watch(g_chainNotify, wd);
      return false;
    }
    watch = g_chainWatches.emplace(wd, ChainWatch{}).first;
  }
  if (!child.empty()) watch->second.children.emplace(child);
  if (added != nullptr) *added = wd;
  g_watchedPaths[path] = wd;
  return true;
}

// Watches folder (an absolute path) and every folder above it, then checks
// that the way to it holds no link: *reached is the folder it leads to,
// *watch the folder's own watch.
bool Chain(const std::string& folder, struct stat* reached, int* watch) {
  if (!ChainsAvailable() || folder.size() < 2 || folder[0] != '/' || folder.back() == '/')
    return false;
  std::string above = "/";
  for (size_t start = 1;;) {
    const size_t end = folder.find('/', start);
    const std::string_view name = std::string_view(folder).substr(
        start, (end == std::string::npos ? folder.size() : end) - start);
    if (name.empty() || name == "." || name == ".." || !AddChainWatch(above, name)) return false;
    if (end == std::string::npos) break;
    above = folder.substr(0, end);
    start = end + 1;
  }
  if (!AddChainWatch(folder, {}, watch)) return false;
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const int fd =
      static_cast<int>(syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof(how)));
  if (fd < 0) {
    // A kernel without the call (or a sandbox that refuses it) chains nothing.
    if (errno == ENOSYS || errno == EPERM) {
      close(g_chainNotify);
      close(g_mountTable);
      g_chainNotify = g_mountTable = -1;
      g_chainWatches.clear();
      ++g_chainEpoch;
    }
    return false;
  }
  const int got = fstat(fd, reached);
  close(fd);
  return got == 0;
}

// Whether listing holds without a stat: it was seen unchanged in the
// running chain epoch.
bool ChainHolds(Listing* listing) {
  if (listing->chainedIn == 0) return false;
  CatchUpChains();
  if (listing->chainedIn == g_chainEpoch) {
    ++g_chainedAnswers;
    return true;
  }
  listing->chainedIn = 0;
  return false;
}

// The entry of folder that name stands for (see Lookup). The exact name has
// been tried before. A folder read while it was still changing, or a big
// one, is watched, so that its listing is read once however often it changes.
// *error becomes the errno of a folder that cannot be read (0 otherwise).
std::string FindEntry(const std::string& folder, std::u16string_view name,
                      const struct stat* folderStat, int* error, bool* empty = nullptr) {
  *error = 0;
  if (empty != nullptr) *empty = false;
  // Whether the listing that answered holds no entries at all.
  auto noted = [empty](const Listing& listing) {
    if (empty != nullptr)
      *empty = std::all_of(listing.names.begin(), listing.names.end(),
                           [](const std::string& n) { return n.empty(); });
  };
  struct stat st;
  if (folderStat != nullptr) {
    st = *folderStat;
  } else if (stat(folder.c_str(), &st) != 0) {
    if (Uncertain(errno)) *error = errno;
    return {};
  }
  if (!S_ISDIR(st.st_mode)) return {};
  std::lock_guard<std::mutex> hold(g_listingLock);
  auto kept = g_listings.find(folder);
  // Only a watched listing needs the events queued so far.
  if (kept != g_listings.end() && kept->second.watch >= 0) {
    CatchUp();
    kept = g_listings.find(folder);
  }
  if (kept != g_listings.end()) {
    const Listing& listing = kept->second;
    const bool same = listing.watch >= 0
                          ? listing.folder.st_dev == st.st_dev && listing.folder.st_ino == st.st_ino
                          : SameFolder(listing.folder, st);
    if (same) {
      kept->second.seenIn = t_round;
      noted(listing);
      return Lookup(&kept->second, name);
    }
    Drop(kept);
  }
  // Stat (or watch) before reading: a change while reading shows as a new
  // time stamp (or an event).
  Listing listing;
  listing.folder = st;
  listing.seenIn = t_round;
  const bool settled = Settled(folder, st);
  listing.watch = Watch(folder);
  if (!ReadListing(folder, &listing)) {
    *error = Uncertain(errno) ? errno : 0;
    Unwatch(&listing.watch);
    return {};
  }
  // A small settled folder is cheap to read again: its time stamps tell.
  if (settled && listing.names.size() < kWatchedNames) Unwatch(&listing.watch);
  noted(listing);
  const std::string match = Lookup(&listing, name);
  if (settled || listing.watch >= 0) {
    if (g_listedNames + listing.names.size() > kMaxListedNames) {
      // The largest listing (kept or new) does not count against the bound:
      // a big folder named between small ones is not read again each time.
      auto largest = g_listings.end();
      for (auto it = g_listings.begin(); it != g_listings.end(); ++it)
        if (largest == g_listings.end() || it->second.names.size() > largest->second.names.size())
          largest = it;
      const size_t big = largest == g_listings.end() ? 0 : largest->second.names.size();
      if (g_listedNames + listing.names.size() - std::max(big, listing.names.size()) >
          kMaxListedNames) {
        const std::string keep = big > listing.names.size() ? largest->first : std::string();
        for (auto it = g_listings.begin(); it != g_listings.end();) {
          const auto next = std::next(it);
          if (it->first != keep) Drop(it);
          it = next;
        }
      }
    }
    g_listedNames += listing.names.size();
    g_listings.emplace(folder, std::move(listing));
  }
  return match;
}

enum class Known { kNotKnown, kFound, kMissing };

// A list that holds a usual path's names without a heap allocation.
template <typename T>
class ShortList {
 public:
  void push_back(T item) {
    if (size_ < std::size(inline_)) {
      inline_[size_++] = item;
      return;
    }
    if (more_.empty()) more_.assign(inline_, inline_ + size_);
    more_.push_back(item);
    ++size_;
  }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T& operator[](size_t i) const { return more_.empty() ? inline_[i] : more_[i]; }
  const T& back() const { return (*this)[size_ - 1]; }
  const T* begin() const { return more_.empty() ? inline_ : more_.data(); }
  const T* end() const { return begin() + size_; }

 private:
  T inline_[32];
  std::vector<T> more_;
  size_t size_ = 0;
};

// What the kept listings tell of a path before the path itself is looked up.
// path is the path as written: its root (rootLength characters), then the
// names parts, each ending at ends[i]; when the listings answer, it is
// taken for the answer's path. The deepest kept listing on the way
// answers, once a stat of its folder shows it unchanged (no stat when that
// was seen in the running lookup round): a listing that lacks the next name
// in any letter case proves the path missing (as the walk would, a drive or
// share holding nothing at all is not there), and the listing of the path's
// own folder that holds its name finds it. A name the listing holds as
// written is left to its own lookup (one stat, which also gives its
// attributes), and so is anything the listings do not settle.
Known FromKeptListings(std::string* path, size_t rootLength,
                       const ShortList<std::u16string_view>& parts, const ShortList<size_t>& ends,
                       size_t driveParts, UnixPath* result) {
  std::lock_guard<std::mutex> hold(g_listingLock);
  if (g_listings.empty()) return Known::kNotKnown;
  for (size_t k = parts.size(); k-- > driveParts;) {
    const size_t folderEnd = k == 0 ? rootLength : ends[k - 1];
    const std::string_view folder(path->data(), folderEnd);
    const size_t nameStart = (*path)[folderEnd] == '/' ? folderEnd + 1 : folderEnd;
    const std::string_view written(path->data() + nameStart, ends[k] - nameStart);
    auto kept = g_listings.find(folder);
    if (kept == g_listings.end()) continue;
    if (kept->second.watch >= 0) {
      CatchUp();  // the events may drop it
      kept = g_listings.find(folder);
      if (kept == g_listings.end()) return Known::kNotKnown;
    }
    Listing& listing = kept->second;
    const bool last = k + 1 == parts.size();
    // The name as written wins over one that differs in case only.
    bool exact = false;
    const FoldedName folded(parts[k]);
    const auto byName = listing.byName.equal_range(folded.view());
    for (auto it = byName.first; it != byName.second && !exact; ++it)
      exact = listing.names[it->second] == written;
    const std::string* match = exact ? nullptr : Lookup(&listing, parts[k], folded.view(), &byName);
    const bool there = exact || match != nullptr;
    // A folder on the way that is there, but not kept: the lookups tell.
    if (there && !last) return Known::kNotKnown;
    if (exact && !SeenThisRound(listing)) return Known::kNotKnown;
    if (match != nullptr && !SeenThisRound(listing)) {
      // Found in another letter case: a stat of that name shows it still
      // there and gives its attributes, in place of the stat that would
      // validate the listing. Gone since, the listing is validated below.
      std::string found = Join(std::string(folder), *match);
      struct stat st;
      if (stat(found.c_str(), &st) == 0) {
        result->path = std::move(found);
        result->found = result->parentFound = true;
        result->mode = st.st_mode;
        return Known::kFound;
      }
    }
    // Seen unchanged in this lookup round, or its way watched since it was.
    bool holds = SeenThisRound(listing);
    if (!holds && ChainHolds(&listing)) {
      holds = true;
      listing.seenIn = t_round;
    }
    if (!holds) {
      // A settled listing's chain is watched first (again after a change
      // on it), so that a change after its stat below shows as an event.
      uint64_t epoch = 0;
      struct stat reached;
      if (listing.watch < 0 && !listing.unchainable && ++listing.validations >= 2) {
        // Every event so far read first: the watches taken again from the
        // running epoch name the folders their paths name now. The chain
        // holds only if nothing else happens until the stat below is made.
        CatchUpChains();
        const uint64_t before = g_chainEpoch;
        int watch = -1;
        if (Chain(std::string(folder), &reached, &watch)) {
          if (watch != listing.chainWatch) {
            ForgetChainedFolder(listing.chainWatch);
            ++g_chainWatches[watch].listings;
            listing.chainWatch = watch;
          }
          epoch = before;
        } else {
          listing.unchainable = true;
        }
      }
      // The folder's path ends where the separator before the name is: it
      // is stat'ed in place, the separator turned into the end for the call.
      struct stat st;
      const char separator = (*path)[folderEnd];
      (*path)[folderEnd] = '\0';
      const int failed = stat(path->c_str(), &st);
      (*path)[folderEnd] = separator;
      if (failed != 0 || !S_ISDIR(st.st_mode)) return Known::kNotKnown;
      const bool same = listing.watch >= 0 ? listing.folder.st_dev == st.st_dev &&
                                                 listing.folder.st_ino == st.st_ino
                                           : SameFolder(listing.folder, st);
      if (!same) {
        Drop(kept);
        return Known::kNotKnown;
      }
      listing.seenIn = t_round;
      // The way without links led to this folder: it holds until the next epoch.
      if (epoch != 0 && reached.st_dev == st.st_dev && reached.st_ino == st.st_ino) {
        CatchUpChains();
        if (g_chainEpoch == epoch) listing.chainedIn = epoch;
      }
    }
    if (there) {
      // The path as written, its name replaced by the one on disk.
      if (!exact) {
        path->resize(nameStart);
        path->append(*match);
      }
      result->path = std::move(*path);
      result->found = result->parentFound = true;
      result->mode = 0;
      return Known::kFound;
    }
    result->path = std::move(*path);
    result->found = false;
    result->parentFound = last;
    if (k == driveParts && std::all_of(listing.names.begin(), listing.names.end(),
                                       [](const std::string& n) { return n.empty(); }))
      result->error = ENODEV;
    return Known::kMissing;
  }
  return Known::kNotKnown;
}

std::string WorkingDirectory() {
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof(cwd)) == nullptr) return "/";
  return cwd;
}

}  // namespace

std::string PrefixDirectory() {
  std::lock_guard<std::mutex> lock(g_prefixLock);
  if (!g_prefixSet) {
    const char* env = getenv("WINEPREFIX");
    if (env != nullptr && env[0] == '/') {
      g_prefix = env;
    } else {
      const char* home = getenv("HOME");
      g_prefix = std::string(home != nullptr ? home : "") + "/.wine";
    }
    while (g_prefix.size() > 1 && g_prefix.back() == '/') g_prefix.pop_back();
    g_prefixSet = true;
  }
  return g_prefix;
}

namespace {
// Changes whenever the prefix directory is set: what was found below the
// last one is known to be its own without comparing the paths.
std::atomic<uint64_t> g_prefixGeneration{1};
}  // namespace

void SetPrefixDirectory(std::string directory) {
  std::lock_guard<std::mutex> lock(g_prefixLock);
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  g_prefix = std::move(directory);
  g_prefixSet = true;
  ++g_prefixGeneration;
}

namespace {

// The drive folders found so far, kept while the prefix's dosdevices folder
// is unchanged (and had settled when it was looked at, as for listings).
struct DriveMap {
  uint64_t generation = 0;  // of the prefix directory
  std::string prefix;
  struct stat devices {};
  int64_t checkedNs = 0;  // when dosdevices was last seen unchanged (monotonic)
  std::string roots[26];
  bool known[26] = {};
};
// How long a look at dosdevices holds: a drive remapped while a scan runs is
// seen within this time, as a file made while it runs is seen when it is
// looked up next.
constexpr int64_t kDriveCheckNs = 100'000'000;

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return Nanoseconds(now);
}
std::mutex g_driveLock;
DriveMap g_drives;

std::string FindDriveRoot(char16_t lower);
std::string FreshDriveRoot(char16_t lower, uint64_t generation, int index);

}  // namespace

std::string DriveRoot(char16_t letter) {
  std::string root;
  AppendDriveRoot(letter, &root);
  return root;
}

void AppendDriveRoot(char16_t letter, std::string* out) {
  const char16_t lower = AsciiLower(letter);
  if (lower < u'a' || lower > u'z') return;
  const uint64_t generation = g_prefixGeneration.load();
  const int index = lower - u'a';
  {
    std::lock_guard<std::mutex> hold(g_driveLock);
    if (g_drives.generation == generation && g_drives.known[index] &&
        MonotonicNs() - g_drives.checkedNs < kDriveCheckNs) {
      *out += g_drives.roots[index];
      return;
    }
  }
  *out += FreshDriveRoot(lower, generation, index);
}

namespace {

// DriveRoot when the drive map cannot answer at once.
std::string FreshDriveRoot(char16_t lower, uint64_t generation, int index) {
  const std::string prefix = PrefixDirectory();
  struct stat devices;
  if (stat((prefix + "/dosdevices").c_str(), &devices) != 0) return FindDriveRoot(lower);
  std::lock_guard<std::mutex> hold(g_driveLock);
  g_drives.checkedNs = MonotonicNs();
  if (g_drives.generation != generation || g_drives.prefix != prefix ||
      !SameFolder(g_drives.devices, devices)) {
    g_drives = DriveMap{};
    g_drives.generation = generation;
    g_drives.prefix = prefix;
    g_drives.devices = devices;
  }
  if (g_drives.known[index]) return g_drives.roots[index];
  std::string root = FindDriveRoot(lower);
  if (Settled(prefix + "/dosdevices", devices)) {
    g_drives.roots[index] = root;
    g_drives.known[index] = true;
  }
  return root;
}

std::string FindDriveRoot(char16_t lower) {
  const std::string devices = PrefixDirectory() + "/dosdevices/";
  const std::string entry = devices + static_cast<char>(lower) + ":";
  std::string root;
  char target[PATH_MAX];
  const ssize_t n = readlink(entry.c_str(), target, sizeof(target) - 1);
  if (n > 0) {
    target[n] = 0;
    root = target[0] == '/' ? std::string(target) : devices + target;
    // "../drive_c" from a real dosdevices folder is the prefix's drive_c:
    // written so, every lookup below the drive walks two names fewer.
    struct stat folder;
    if (std::strncmp(target, "../", 3) == 0 && lstat(devices.c_str(), &folder) == 0 &&
        S_ISDIR(folder.st_mode))
      root = PrefixDirectory() + "/" + (target + 3);
  } else if (Exists(entry)) {
    root = entry;  // a folder standing in for the link
  } else if (lower == u'c') {
    root = PrefixDirectory() + "/drive_c";
  } else if (lower == u'z') {
    root = "/";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  struct stat st;
  if (root.empty() || stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return root;
}

}  // namespace

uint32_t DriveMask() {
  uint32_t mask = 0;
  for (char16_t letter = u'a'; letter <= u'z'; ++letter)
    if (!DriveRoot(letter).empty()) mask |= 1u << (letter - u'a');
  return mask;
}

namespace {

// Windows names are at most 255 characters: a longer one names nothing.
constexpr size_t kLongestName = 255;

}  // namespace

UnixPath ToUnixPath(std::u16string_view path) {
  UnixPath result;
  // Most paths are drive paths looked up as they come (one scan tells);
  // a copy only for what changes.
  PathForm form = DrivePathForm(path);
  std::u16string copy;
  std::u16string_view text = path;
  if (form == PathForm::kCollapse) {
    if (text.find(u'/') != std::u16string_view::npos) {
      copy = path;
      for (char16_t& c : copy)
        if (c == u'/') c = u'\\';
      text = copy;
    }
    if (text.starts_with(u"\\\\?\\") || text.starts_with(u"\\??\\") ||
        text.starts_with(u"\\\\.\\")) {
      text.remove_prefix(4);
      // "\\?\UNC\server\share" is "\\server\share".
      if (text.size() > 4 && EqualsIgnoreCase(text.substr(0, 4), u"UNC\\")) {
        std::u16string share = u"\\" + std::u16string(text.substr(3));
        copy = std::move(share);
        text = copy;
      }
    }
    form = DrivePathForm(text);
  }
  // Only a path without its drive's root needs the current folder.
  const bool unc = text.size() > 2 && text[0] == u'\\' && text[1] == u'\\';
  const bool rooted = unc || (text.size() >= 3 && text[1] == u':' && text[2] == u'\\');
  // Characters no Windows name can hold: such a path names nothing, as
  // Wine answers without looking (a command line tried as a path has them).
  if (form == PathForm::kBadCharacter) return result;
  const bool asWritten = form == PathForm::kClean;
  std::u16string collapsed;
  if (!asWritten) collapsed = FullPathName(text, rooted ? std::u16string() : CurrentDirectory());
  const std::u16string_view full = asWritten ? text : std::u16string_view(collapsed);
  if (!unc && (full.size() < 3 || full[1] != u':')) return result;  // no drive: nothing
  for (size_t i = unc ? 2 : 3; i < full.size() && !asWritten; ++i) {
    switch (full[i]) {
      case u'"':
      case u'*':
      case u'<':
      case u'>':
      case u'?':
      case u'|':
        return result;
      default:
        break;
    }
  }

  // The names of the path, and where each ends in its Unix form.
  ShortList<std::u16string_view> parts;
  ShortList<size_t> ends;
  for (size_t start = unc ? 2 : 3; start < full.size();) {
    size_t end = FindUnit(full, u'\\', start);
    if (end == std::u16string::npos) end = full.size();
    if (end - start > kLongestName) return result;
    if (end > start) parts.push_back(full.substr(start, end - start));
    start = end + 1;
  }
  // A share is reached through dosdevices/unc/<server>/<share>: the server
  // and the share are the drive's first two names.
  const size_t driveParts = unc ? 2 : 0;
  // The Unix path: the drive's root, then (below) the names.
  std::string path;
  path.reserve(full.size() + 256);
  if (unc)
    path = PrefixDirectory() + "/dosdevices/unc";
  else
    AppendDriveRoot(full[0], &path);
  const size_t rootLength = path.size();
  if (rootLength == 0 || parts.size() < driveParts) {
    result.error = ENODEV;  // the drive is not there
    return result;
  }

  // The common cases first, as Wine looks names up: the whole path as
  // written, then its folder as written with the last name looked up in it.
  const bool sysnative = !unc && parts.size() >= 2 && EqualsIgnoreCase(parts[1], u"sysnative");
  if (!sysnative && parts.size() > driveParts) {
    size_t folderLength = path.size();
    if (asWritten) {
      // The names in one pass, a trailing separator left out: each
      // backslash ends a name. An ASCII start is copied as it is; the rest
      // is converted as a whole (no UTF-8 sequence holds a backslash byte).
      std::u16string_view names = full.substr(3);
      if (names.back() == u'\\') names.remove_suffix(1);
      if (path.empty() || path.back() != '/') path += '/';
      const size_t namesStart = path.size();
      path.resize(namesStart + names.size());
      // Plain pointers: a write through char may alias anything, which
      // would make the compiler read the view again for every character.
      const char16_t* from = names.data();
      const size_t count = names.size();
      char* to = path.data() + namesStart;
      size_t ascii = 0;
      static_assert(std::endian::native == std::endian::little, "units are read as words");
      for (; ascii + 4 <= count; ascii += 4) {  // four units at a time, one store
        uint64_t four;
        std::memcpy(&four, from + ascii, sizeof(four));
        if ((four & 0xFF80FF80FF80FF80u) != 0) break;
        const uint32_t bytes =
            static_cast<uint32_t>((four & 0xFF) | ((four >> 8) & 0xFF00) |
                                  ((four >> 16) & 0xFF0000) | ((four >> 24) & 0xFF000000));
        std::memcpy(to + ascii, &bytes, sizeof(bytes));
      }
      for (; ascii < count && from[ascii] < 0x80; ++ascii)
        to[ascii] = static_cast<char>(from[ascii]);
      if (ascii < count) {
        path.resize(namesStart + ascii);
        AppendUtf8(&path, names.substr(ascii));
      }
      char* const out = path.data();
      char* const end = out + path.size();
      for (char* at = out + namesStart;
           (at = static_cast<char*>(std::memchr(at, '\\', end - at))) != nullptr; ++at) {
        *at = '/';
        folderLength = at - out;
        ends.push_back(at - out);
      }
      ends.push_back(path.size());
    } else {
      for (const std::u16string_view part : parts) {
        folderLength = path.size();
        if (path.empty() || path.back() != '/') path += '/';
        AppendUtf8(&path, part);
        ends.push_back(path.size());
      }
    }
    if (FromKeptListings(&path, rootLength, parts, ends, driveParts, &result) != Known::kNotKnown)
      return result;
    struct stat st;
    if (Exists(path, &st)) {
      result.found = result.parentFound = true;
      if (!S_ISLNK(st.st_mode)) result.mode = st.st_mode;
      result.path = std::move(path);
      return result;
    }
    if (Uncertain(errno)) {
      result.error = errno;
      result.path = std::move(path);
      return result;
    }
    const std::string folder = path.substr(0, folderLength);
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && parts.size() > driveParts + 1) {
      int error = 0;
      const std::string match = FindEntry(folder, parts.back(), &st, &error);
      result.found = !match.empty();
      result.error = result.found ? 0 : error;
      result.path = result.found ? Join(folder, match) : std::move(path);
      result.parentFound = true;
      return result;
    }
  }

  std::string current = path.substr(0, rootLength);
  bool found = true;
  result.parentFound = true;
  // The stat of current, when a lookup on the way gave it: the lstat of a
  // name that is no link tells a folder, and validates its listing next.
  struct stat folder {};
  bool folderKnown = false;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i + 1 == parts.size()) result.parentFound = found;
    std::u16string_view part = parts[i];
    // The module switches file-system redirection off, so sysnative is
    // simply another name of system32.
    if (i == 1 && !unc && AsciiLower(full[0]) == u'c' && EqualsIgnoreCase(parts[0], u"windows") &&
        EqualsIgnoreCase(part, u"sysnative"))
      part = u"system32";
    std::string name = U16ToUtf8(part);
    struct stat entry;
    bool entryKnown = found;
    if (found && !Exists(Join(current, name), &entry)) {
      entryKnown = false;
      int error = Uncertain(errno) ? errno : 0;
      bool empty = false;  // a folder with no entries at all: a mount point with nothing mounted
      const std::string match =
          error != 0 ? std::string()
                     : FindEntry(current, part, folderKnown ? &folder : nullptr, &error, &empty);
      if (match.empty()) {
        found = false;
        // What cannot be read might hold it; a share or a drive that holds
        // nothing (an unreachable server, an empty mount point) is not there.
        if (error != 0)
          result.error = error;
        else if (i < driveParts || (i == driveParts && empty))
          result.error = ENODEV;
      } else {
        name = match;
      }
    }
    current = Join(current, name);
    folderKnown = false;
    if (found && i + 1 < parts.size()) {
      if (entryKnown && !S_ISLNK(entry.st_mode)) {
        folder = entry;
      } else if (stat(current.c_str(), &folder) != 0) {
        if (Uncertain(errno)) result.error = errno;
        found = false;
        continue;
      }
      found = S_ISDIR(folder.st_mode);
      folderKnown = found;
    }
  }
  result.path = current;
  result.found = found;
  return result;
}

void BeginLookupRound() {
  if (t_roundDepth++ == 0) t_round = ++g_rounds;
}

void EndLookupRound() {
  if (t_roundDepth > 0 && --t_roundDepth == 0) t_round = 0;
}

int64_t ListingSettleNanoseconds(const std::string& folder) { return SettleNs(folder); }

size_t FolderReadCount() {
  std::lock_guard<std::mutex> hold(g_listingLock);
  return g_folderReads;
}

void ForgetKeptListings() {
  std::lock_guard<std::mutex> hold(g_listingLock);
  // The notifiers are closed, not emptied: a forked child shares them with
  // its parent.
  if (g_notify >= 0) close(g_notify);
  g_notify = -2;
  g_watched.clear();
  if (g_chainNotify >= 0) close(g_chainNotify);
  if (g_mountTable >= 0) close(g_mountTable);
  g_chainNotify = -2;
  g_mountTable = -1;
  g_chainWatches.clear();
  g_chainableFolders.clear();
  g_watchedPaths.clear();
  ++g_chainEpoch;
  g_listings.clear();
  g_listedNames = 0;
}

size_t ChainedAnswerCount() {
  std::lock_guard<std::mutex> hold(g_listingLock);
  return g_chainedAnswers;
}

size_t KeptListingCount() {
  std::lock_guard<std::mutex> hold(g_listingLock);
  return g_listings.size();
}

std::u16string ToWindowsPath(std::string_view unixPath) {
  std::string absolute(unixPath);
  if (absolute.empty() || absolute[0] != '/') absolute = Join(WorkingDirectory(), absolute);
  std::u16string rest = Utf8ToU16(absolute);
  for (char16_t& c : rest)
    if (c == u'/') c = u'\\';
  return u"Z:" + rest;
}

std::u16string CurrentDirectory() { return ToWindowsPath(WorkingDirectory()); }

}  // namespace platform::posix
