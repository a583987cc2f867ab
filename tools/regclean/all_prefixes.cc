#include "tools/regclean/all_prefixes.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/console.h"
#include "platform/host.h"
#include "platform/system.h"
#include "platform/system_text.h"
#include "support/json_value.h"
#include "tools/regclean/clean_command.h"
#include "tools/regclean/prefix_finder.h"
#include "tools/regclean/progress_display.h"

namespace regclean {

const char kPrefixesUsage[] =
    "Usage: regclean prefixes [DIR...]\n"
    "Lists the Wine prefixes found below each DIR (a prefix itself, or searched\n"
    "six levels down), by default in the usual places: $WINEPREFIX, ~/.wine,\n"
    "Steam's libraries (compatdata/*/pfx, named after their game), Lutris' games\n"
    "and ~/Games/*, Bottles' bottles (Flatpak installations too). Each line:\n"
    "path, kind and name, size of the hives, whether a wineserver runs on it.\n"
    "\"regclean check --all [DIR...]\" checks them all; \"resolve --all\" cleans them.\n";

namespace {

std::string Ansi(std::u16string_view text) { return platform::U16ToAnsi(text); }
std::u16string Wide(std::string_view text) { return platform::AnsiToU16(text); }

std::string Size(uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof(text), "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof(text), "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(text, sizeof(text), "%.1f MiB", bytes / (1024.0 * 1024.0));
  }
  return text;
}

std::string Seconds(uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f s", ms / 1000.0);
  return text;
}

std::string Padded(const std::string& text, size_t width, bool right = false) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The short column heading of a category of the module.
std::string ColumnOf(const std::u16string& category) {
  static const std::pair<const char16_t*, const char*> kColumns[] = {
      {u"UninstallInvalidProblems", "Uninstall"},
      {u"SharedDllMissingProblems", "SharedDLLs"},
      {u"UnusedFileTypeExtensions", "FileTypes"},
      {u"UnusedExplorerFileExtensions", "Explorer"},
      {u"InstallerFolderEmptyProblems", "InstFolders"},
      {u"InstallerUserDataProblems", "InstComps"},
      {u"InprocServer32Problems", "COM"},
  };
  for (const auto& [name, column] : kColumns)
    if (category == name) return column;
  return Ansi(category);
}

struct PrefixRun {
  FoundPrefix prefix;
  enum class State { kNotRun, kDone, kFailed, kSkipped } state = State::kNotRun;
  int status = -1;
  uint64_t ms = 0;
  std::string reason;  // why it failed or was skipped
  JsonValue outcome;   // what its own regclean reported (--json); null when nothing
  std::vector<std::pair<std::u16string, int>> counts;
  int total = 0;
  std::string backupFolder;
};

// The first cause a regclean names on its standard error.
std::string FirstCause(const std::string& err) {
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    if (err.compare(start, 10, "regclean: ") == 0) return err.substr(start + 10, end - start - 10);
    start = end + 1;
  }
  return {};
}

void RunOne(const std::string& self, bool resolve, PrefixRun* run) {
  std::vector<std::string> arguments = {self, "--prefix", run->prefix.path,
                                        resolve ? "resolve" : "check", "--json"};
  if (resolve) arguments.push_back("--yes");
  platform::System* system = platform::System::Default();
  const uint64_t start = system->GetTickCount64();
  platform::HostRun child;
  std::string error;
  const bool started = platform::RunHostProgram(arguments, &child, &error);
  run->ms = system->GetTickCount64() - start;
  if (!started) {
    run->state = PrefixRun::State::kFailed;
    run->reason = error;
    return;
  }
  run->status = child.exitCode;
  // One JSON object, then a line end (the reader takes line ends only as
  // raw control characters).
  std::string_view text = child.out;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  const bool read = !text.empty() && run->outcome.Parse(Wide(text), JsonFlags::RawControlChars) &&
                    run->outcome.object() != nullptr;
  if (!read) run->outcome = JsonValue();
  if (read) {
    if (const std::u16string* folder = run->outcome[u"backupFolder"].string())
      run->backupFolder = Ansi(*folder);
    if (JsonArray* categories = run->outcome[u"categories"].array()) {
      for (JsonValue& category : *categories) {
        const std::u16string* name = category[u"name"].string();
        const int count = static_cast<int>(category[u"count"].integer());
        if (name != nullptr) run->counts.emplace_back(*name, count);
        run->total += count;
      }
    }
  }
  if (read && (child.exitCode == kNothingFound || child.exitCode == kProblemsFound)) {
    run->state = PrefixRun::State::kDone;
    return;
  }
  run->state = PrefixRun::State::kFailed;
  run->reason = FirstCause(child.err);
  if (run->reason.empty()) {
    run->reason = child.exitCode < 0 ? "its regclean ended abnormally"
                                     : "its regclean ended with status " +
                                           std::to_string(child.exitCode) + " and no outcome";
  }
}

// Runs every prefix that is still to run, jobs at a time, showing the
// share done on err. A Ctrl-C lets the runs under way end (each regclean
// gets it too and stops) and starts no more.
void RunAll(std::vector<PrefixRun>* runs, bool resolve, unsigned jobs, std::ostream& err) {
  std::vector<PrefixRun*> todo;
  for (PrefixRun& run : *runs)
    if (run.state == PrefixRun::State::kNotRun) todo.push_back(&run);
  if (todo.empty()) return;
  const std::string self = platform::HostProgramFile();
  const int columns = platform::TerminalColumns();
  ProgressDisplay display(
      err, platform::IsTerminal(platform::StandardStream::kError), columns > 0 ? columns : 80,
      std::string(resolve ? "Cleaning " : "Checking ") + std::to_string(todo.size()) +
          (todo.size() == 1 ? " prefix" : " prefixes"));
  platform::System* system = platform::System::Default();
  const uint64_t start = system->GetTickCount64();
  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  platform::CatchInterrupt();
  display.Update(0, 0);
  const auto work = [&] {
    for (;;) {
      if (platform::InterruptRequested()) return;
      const size_t i = next++;
      if (i >= todo.size()) return;
      RunOne(self, resolve, todo[i]);
      display.Update(100.0 * static_cast<double>(++done) / static_cast<double>(todo.size()),
                     system->GetTickCount64() - start);
    }
  };
  const size_t count = std::min<size_t>(std::max(jobs, 1u), todo.size());
  std::vector<std::thread> workers;
  for (size_t i = 1; i < count; ++i) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  display.Finish();
  for (PrefixRun* run : todo) {
    if (run->state == PrefixRun::State::kNotRun) {
      run->state = PrefixRun::State::kFailed;
      run->reason = "not run: canceled";
    }
  }
}

std::string FormatTable(const std::vector<PrefixRun>& runs, bool resolve, const std::string& home) {
  std::vector<std::u16string> categories;
  for (const PrefixRun& run : runs)
    for (const auto& [name, count] : run.counts)
      if (std::find(categories.begin(), categories.end(), name) == categories.end())
        categories.push_back(name);
  std::vector<std::string> labels;
  size_t labelWidth = 6;
  for (const PrefixRun& run : runs) {
    labels.push_back(PrefixLabel(run.prefix, home));
    labelWidth = std::max(labelWidth, labels.back().size());
  }
  std::string out = Padded("Prefix", labelWidth);
  for (const std::u16string& category : categories) out += "  " + ColumnOf(category);
  out += "  Total     Time\n";
  int problems = 0, withProblems = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    const PrefixRun& run = runs[i];
    out += Padded(labels[i], labelWidth);
    if (run.state == PrefixRun::State::kSkipped || run.state == PrefixRun::State::kFailed) {
      out += std::string("  ") +
             (run.state == PrefixRun::State::kSkipped ? "skipped: " : "failed: ") + run.reason +
             "\n";
      continue;
    }
    for (const std::u16string& category : categories) {
      int count = 0;
      for (const auto& [name, n] : run.counts)
        if (name == category) count = n;
      out += "  " + Padded(std::to_string(count), ColumnOf(category).size(), true);
    }
    out += "  " + Padded(std::to_string(run.total), 5, true) + "  " +
           Padded(Seconds(run.ms), 7, true) + "\n";
    problems += run.total;
    if (run.total > 0) ++withProblems;
  }
  out += "\n" + std::to_string(problems) + (problems == 1 ? " problem " : " problems ") +
         (resolve ? "removed" : "found") + " in " + std::to_string(withProblems) + " of " +
         std::to_string(runs.size()) + (runs.size() == 1 ? " prefix.\n" : " prefixes.\n");
  for (const PrefixRun::State state : {PrefixRun::State::kFailed, PrefixRun::State::kSkipped}) {
    bool first = true;
    for (const PrefixRun& run : runs) {
      if (run.state != state) continue;
      if (first) {
        out += state == PrefixRun::State::kFailed
                   ? (resolve ? "Not resolved:\n" : "Not checked:\n")
                   : "Skipped, stop its wineserver first (WINEPREFIX=DIR wineserver -k):\n";
      }
      first = false;
      out += "  " + run.prefix.path + ": " + run.reason + "\n";
    }
  }
  bool first = true;
  for (const PrefixRun& run : runs) {
    if (run.backupFolder.empty()) continue;
    if (first) out += "To put the removed entries back:\n";
    first = false;
    out += "  regclean --prefix " + Quoted(run.prefix.path) + " restore " +
           Quoted(run.backupFolder) + "\n";
  }
  return out;
}

std::string FormatAllJson(std::vector<PrefixRun>& runs, bool resolve) {
  JsonValue root(JsonKind::Object);
  root[u"command"] = resolve ? u"resolve" : u"check";
  JsonValue& list = root[u"prefixes"];
  list = JsonValue(JsonKind::Array);
  int problems = 0, failed = 0, skipped = 0;
  for (PrefixRun& run : runs) {
    JsonValue item(JsonKind::Object);
    item[u"prefix"] = Wide(run.prefix.path);
    item[u"kind"] = Wide(run.prefix.kind);
    item[u"name"] = Wide(run.prefix.name);
    item[u"hiveBytes"] = run.prefix.hiveBytes;
    item[u"busy"] = run.prefix.busy;
    const char16_t* state = run.state == PrefixRun::State::kDone      ? u"done"
                            : run.state == PrefixRun::State::kSkipped ? u"skipped"
                                                                      : u"failed";
    item[u"state"] = state;
    item[u"exitStatus"] = static_cast<int32_t>(run.status);
    item[u"seconds"] = static_cast<double>(run.ms) / 1000.0;
    if (run.state == PrefixRun::State::kDone) {
      item[u"problemCount"] = static_cast<int32_t>(run.total);
      problems += run.total;
    } else {
      item[u"problemCount"] = JsonValue();
      item[u"reason"] = Wide(run.reason);
      (run.state == PrefixRun::State::kSkipped ? skipped : failed) += 1;
    }
    JsonValue& counts = item[u"counts"];
    counts = JsonValue(JsonKind::Object);
    for (const auto& [name, count] : run.counts) counts[name] = static_cast<int32_t>(count);
    item[u"outcome"] = std::move(run.outcome);
    list.array()->push_back(std::move(item));
  }
  root[u"problemCount"] = static_cast<int32_t>(problems);
  root[u"failed"] = static_cast<int32_t>(failed);
  root[u"skipped"] = static_cast<int32_t>(skipped);
  std::u16string text;
  root.ToText(text, JsonFlags::PrettySpaces);
  std::erase(text, u'\r');
  return Ansi(text) + "\n";
}

// Every folder given is there; otherwise each that is not is named on err.
bool FoldersThere(const std::vector<std::string>& folders, std::ostream& err) {
  bool there = true;
  for (const std::string& folder : folders) {
    if (platform::HostFileKindOf(folder) == platform::HostFileKind::kFolder) continue;
    err << "regclean: no folder " << folder << "\n";
    there = false;
  }
  return there;
}

}  // namespace

int RunPrefixes(const std::vector<std::string>& folders, std::ostream& out, std::ostream& err) {
  if (!FoldersThere(folders, err)) return kFailed;
  const std::vector<FoundPrefix> found = FindPrefixes(folders, platform::HostHomeFolder());
  if (found.empty()) {
    err << "regclean: no Wine prefix found"
        << (folders.empty() ? " in the usual places; give the folders to search: "
                              "regclean prefixes DIR...\n"
                            : "\n");
    return 0;
  }
  size_t pathWidth = 4, kindWidth = 4, sizeWidth = 5;
  for (const FoundPrefix& prefix : found) {
    pathWidth = std::max(pathWidth, prefix.path.size());
    kindWidth = std::max(kindWidth,
                         prefix.kind.size() + (prefix.name.empty() ? 0 : prefix.name.size() + 3));
    sizeWidth = std::max(sizeWidth, Size(prefix.hiveBytes).size());
  }
  out << Padded("Path", pathWidth) << "  " << Padded("Kind", kindWidth) << "  "
      << Padded("Hives", sizeWidth, true) << "  Wineserver\n";
  for (const FoundPrefix& prefix : found) {
    const std::string kind =
        prefix.kind + (prefix.name.empty() ? std::string() : " \"" + prefix.name + "\"");
    out << Padded(prefix.path, pathWidth) << "  " << Padded(kind, kindWidth) << "  "
        << Padded(Size(prefix.hiveBytes), sizeWidth, true) << "  "
        << (prefix.busy ? "running" : "-") << "\n";
  }
  return 0;
}

int RunAllPrefixes(const AllOptions& options, std::istream& in, std::ostream& out,
                   std::ostream& err) {
  if (!FoldersThere(options.folders, err)) return kFailed;
  const std::string home = platform::HostRealPath(platform::HostHomeFolder());
  std::vector<PrefixRun> runs;
  for (FoundPrefix& prefix : FindPrefixes(options.folders, platform::HostHomeFolder())) {
    runs.emplace_back();
    runs.back().prefix = std::move(prefix);
  }
  if (runs.empty()) {
    err << "regclean: no Wine prefix found; nothing to " << (options.resolve ? "resolve" : "check")
        << " (see regclean prefixes --help)\n";
    if (options.json) out << FormatAllJson(runs, options.resolve);
    return kNothingFound;
  }
  if (options.resolve) {
    // A wineserver owns the registry of its prefix: those are left alone.
    for (PrefixRun& run : runs) {
      if (!run.prefix.busy) continue;
      run.state = PrefixRun::State::kSkipped;
      run.reason = "a wineserver is running on it";
    }
    if (!options.yes) {
      std::ostream& ask = options.json ? err : out;
      size_t count = 0;
      for (const PrefixRun& run : runs) {
        ask << (run.state == PrefixRun::State::kSkipped ? "  skipped (a wineserver runs on it): "
                                                        : "  ")
            << run.prefix.path << "\n";
        if (run.state != PrefixRun::State::kSkipped) ++count;
      }
      if (count == 0) {
        ask << "Every prefix found is busy; nothing was changed.\n";
        return kFailed;
      }
      ask << "Remove the problems found in the registries of these " << count
          << (count == 1 ? " Wine prefix" : " Wine prefixes")
          << "?\nA backup of every removed entry is written first, in its prefix. [y/N] "
          << std::flush;
      std::string answer;
      if (!std::getline(in, answer)) {
        err << "\nregclean: no answer; nothing was changed (add --yes to resolve without asking)\n";
        return kFailed;
      }
      if (answer.empty() || (answer[0] != 'y' && answer[0] != 'Y')) {
        ask << "Nothing was changed.\n";
        return kNothingFound;
      }
    }
  }
  RunAll(&runs, options.resolve, options.jobs > 0 ? options.jobs : platform::HostProcessorCount(),
         err);
  bool failed = false;
  int problems = 0;
  for (const PrefixRun& run : runs) {
    failed = failed || run.state != PrefixRun::State::kDone;
    problems += run.total;
  }
  if (options.json) {
    out << FormatAllJson(runs, options.resolve);
  } else {
    out << FormatTable(runs, options.resolve, home);
  }
  if (failed) return kFailed;
  if (options.resolve) return kNothingFound;
  return problems > 0 ? kProblemsFound : kNothingFound;
}

}  // namespace regclean
