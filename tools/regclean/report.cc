#include "tools/regclean/report.h"

#include <cstdio>
#include <sstream>

#include "platform/system_text.h"
#include "support/json_value.h"

namespace regclean {
namespace {

std::string Ansi(std::u16string_view text) { return platform::U16ToAnsi(text); }

std::u16string Wide(std::string_view text) { return platform::AnsiToU16(text); }

// The value a category's problems stand as until they are written.
constexpr char16_t kProblemsMark[] = u"\x01";

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", value);
  return text;
}

std::string Plural(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

int CategoryCount(const LoggedCategory& category) {
  return category.count >= 0 ? category.count : category.named;
}

// Walks the categories of a log in order while the problems arrive: before
// a problem of category c, every category before c is finished and c is
// begun; Finish ends the rest. Categories without problems are begun and
// finished too.
class CategoryWalk {
 public:
  CategoryWalk(size_t count, std::function<void(size_t)> begin, std::function<void(size_t)> end)
      : count_(count), begin_(std::move(begin)), end_(std::move(end)) {}
  // False for a category out of order (a log that changed while it was read).
  bool Reach(size_t c) {
    if (c >= count_ || c < done_) return false;
    while (done_ < c) Next();
    if (!begun_) {
      begin_(done_);
      begun_ = true;
    }
    return true;
  }
  void Finish() {
    while (done_ < count_) Next();
  }

 private:
  void Next() {
    if (!begun_) begin_(done_);
    end_(done_);
    ++done_;
    begun_ = false;
  }
  size_t count_;
  size_t done_ = 0;
  bool begun_ = false;
  std::function<void(size_t)> begin_, end_;
};

}  // namespace

std::string WrapText(std::string_view text, int width) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view paragraph = text.substr(start, end - start);
    std::string line;
    size_t at = 0;
    while (at < paragraph.size()) {
      const size_t blank = paragraph.find(' ', at);
      const size_t stop = blank == std::string_view::npos ? paragraph.size() : blank;
      const std::string_view word = paragraph.substr(at, stop - at);
      if (!line.empty() && static_cast<int>(line.size() + 1 + word.size()) > width) {
        out += line + "\n";
        line.clear();
      }
      if (!word.empty()) line += (line.empty() ? "" : " ") + std::string(word);
      at = stop + 1;
    }
    out += line;
    if (end < text.size()) out += "\n";
    start = end + 1;
  }
  return out;
}

std::string FormatHeading(const RunOutcome& outcome, int width) {
  const std::string title = Ansi(outcome.title);
  std::string out = title + "\n" + std::string(title.size(), '=') + "\n";
  if (!outcome.description.empty()) out += WrapText(Ansi(outcome.description), width) + "\n";
  return out + "\n";
}

void ReadFailures(RunOutcome* outcome) {
  outcome->failed = outcome->level < 0.0;
  outcome->failures.clear();
  JsonValue subResults;
  if (!subResults.Parse(outcome->subResultsJson) || subResults.array() == nullptr) return;
  for (JsonValue& item : *subResults.array()) {
    if (item[u"SubResultLevel"].number() >= 0.0) continue;
    outcome->failed = true;
    const std::u16string* text = item[u"SubResultText"].string();
    if (text != nullptr) outcome->failures.push_back(*text);
  }
}

int ProblemCount(const RunOutcome& outcome) {
  if (!outcome.log.categories.empty()) {
    int sum = 0;
    for (const LoggedCategory& category : outcome.log.categories) sum += CategoryCount(category);
    return sum;
  }
  if (outcome.log.total >= 0) return outcome.log.total;
  // Without a log the level tells whether there was something: it is above
  // 0 exactly when problems were counted.
  return outcome.level > 0.0 ? -1 : 0;
}

ProblemSource KeptProblems(const RunOutcome& outcome) {
  return [&outcome](const ProblemSink& sink) {
    for (size_t c = 0; c < outcome.log.categories.size(); ++c)
      for (const LoggedProblem& problem : outcome.log.categories[c].problems) sink(c, problem);
  };
}

void WriteResult(const RunOutcome& outcome, const ProblemSource& problems, std::ostream& out) {
  out << "Result: " << Ansi(outcome.text) << " (level " << Number(outcome.level) << ")\n";
  JsonValue subResults;
  if (subResults.Parse(outcome.subResultsJson) && subResults.array() != nullptr &&
      !subResults.array()->empty()) {
    out << "Sub-results:\n";
    for (JsonValue& item : *subResults.array()) {
      const std::u16string* text = item[u"SubResultText"].string();
      out << "  " << Number(item[u"SubResultLevel"].number()) << "  "
          << (text != nullptr ? Ansi(*text) : std::string()) << "\n";
    }
  } else {
    out << "Sub-results: none\n";
  }
  if (outcome.canceled) out << "The run was canceled; what it found so far is listed.\n";
  if (outcome.failed) {
    out << (outcome.resolve ? "The run failed: nothing is counted as removed.\n"
                            : "The run failed: its findings are incomplete.\n");
  }

  const std::vector<LoggedCategory>& categories = outcome.log.categories;
  auto listed = [&](size_t c) {
    return CategoryCount(categories[c]) != 0 || categories[c].named != 0;
  };
  bool any = false;
  std::u16string lastKey, lastValue;
  bool keyShown = false;
  CategoryWalk walk(
      categories.size(),
      [&](size_t c) {
        if (!listed(c)) return;
        any = true;
        keyShown = false;
        out << "\n"
            << Ansi(CategoryHeading(categories[c].name)) << " (" << Ansi(categories[c].name)
            << "): " << CategoryCount(categories[c]) << "\n";
      },
      [&](size_t c) {
        const int count = CategoryCount(categories[c]);
        if (listed(c) && categories[c].named < count) {
          out << "  (" << count - categories[c].named
              << " more not named in the log: its DebugLevel is below 8)\n";
        }
      });
  problems([&](size_t c, const LoggedProblem& problem) {
    if (!walk.Reach(c)) return;
    if (!keyShown || lastKey != problem.key || lastValue != problem.value) {
      out << "  " << Ansi(problem.key);
      if (!problem.value.empty()) out << "  [value " << Ansi(problem.value) << "]";
      out << "\n";
      lastKey = problem.key;
      lastValue = problem.value;
      keyShown = true;
    }
    out << "      " << Ansi(problem.line) << "\n";
  });
  walk.Finish();

  const int count = ProblemCount(outcome);
  if (!any) {
    if (outcome.failed) {
      // The causes are said on their own; "nothing found" would not be true.
    } else if (outcome.canceled) {
      out << "\nNo problems were found before the run stopped.\n";
    } else if (count == 0) {
      out << (outcome.resolve ? "\nNothing needed fixing.\n" : "\nNo problems found.\n");
    } else if (outcome.logFile.empty()) {
      out << "\nThe run left no log, so its problems cannot be listed.\n";
    }
  } else {
    out << "\n"
        << Plural(count, "problem", "problems")
        << (outcome.failed ? (outcome.resolve ? " handled before the failure; the registry may "
                                                "still hold them.\n"
                                              : " found before the failure.\n")
                           : (outcome.resolve ? " removed.\n" : " found.\n"));
  }
  if (!outcome.logFile.empty()) out << "Log: " << outcome.logFile << "\n";
}

std::string FormatResult(const RunOutcome& outcome) {
  std::ostringstream out;
  WriteResult(outcome, KeptProblems(outcome), out);
  return out.str();
}

void WriteJson(const RunOutcome& outcome, const ProblemSource& problems, std::ostream& out) {
  JsonValue root(JsonKind::Object);
  root[u"command"] = outcome.resolve ? u"resolve" : u"check";
  root[u"module"] = outcome.title;
  if (!outcome.machine.empty()) root[u"prefix"] = std::u16string_view(Wide(outcome.machine));
  root[u"level"] = outcome.level;
  root[u"text"] = outcome.text;
  JsonValue& subResults = root[u"subResults"];
  if (!subResults.Parse(outcome.subResultsJson)) subResults = JsonValue(JsonKind::Array);
  root[u"canceled"] = outcome.canceled;
  root[u"failed"] = outcome.failed;
  JsonValue& failures = root[u"failures"];
  failures = JsonValue(JsonKind::Array);
  for (const std::u16string& failure : outcome.failures)
    failures.array()->push_back(JsonValue(std::u16string_view(failure)));
  const int count = ProblemCount(outcome);
  if (count >= 0) {
    root[u"problemCount"] = count;
  } else {
    root[u"problemCount"] = JsonValue();
  }
  JsonValue& categories = root[u"categories"];
  categories = JsonValue(JsonKind::Array);
  for (const LoggedCategory& category : outcome.log.categories) {
    JsonValue item(JsonKind::Object);
    item[u"name"] = category.name;
    item[u"heading"] = CategoryHeading(category.name);
    item[u"count"] = CategoryCount(category);
    // Stands for the problems, which are written into its place as they come.
    item[u"problems"] = kProblemsMark;
    categories.array()->push_back(std::move(item));
  }
  if (outcome.logFile.empty()) {
    root[u"logFile"] = JsonValue();
  } else {
    root[u"logFile"] = std::u16string_view(Wide(outcome.logFile));
  }
  if (outcome.resolve) {
    if (outcome.backupFolder.empty()) {
      root[u"backupFolder"] = JsonValue();
    } else {
      root[u"backupFolder"] = std::u16string_view(Wide(outcome.backupFolder));
    }
  }
  std::u16string text;
  root.ToText(text, JsonFlags::PrettySpaces);
  // The writer ends its lines with CR LF; a terminal program's lines end in LF.
  std::erase(text, u'\r');
  const std::string whole = Ansi(text);

  // The text up to each category's mark, then its problems laid out as the
  // writer lays out an array at the mark's level: [] when empty, a single
  // element on the bracket's line, more on lines of their own.
  const std::string mark = "\"problems\": \"\x01\"";
  size_t at = 0;       // the text written so far
  uint32_t level = 0;  // the level of the current problems array
  int written = 0;
  const std::vector<LoggedCategory>& logged = outcome.log.categories;
  auto indent = [](uint32_t units) { return std::string(units * 2, ' '); };
  CategoryWalk walk(
      logged.size(),
      [&](size_t) {
        const size_t found = whole.find(mark, at);
        const size_t lineStart = whole.rfind('\n', found) + 1;
        level = static_cast<uint32_t>((found - lineStart) / 2);
        out.write(whole.data() + at, static_cast<std::streamsize>(found + mark.size() - 3 - at));
        at = found + mark.size();
        written = 0;
        out << "[";
      },
      [&](size_t c) {
        if (written > 1 || (written == 1 && logged[c].named > 1)) out << "\n" << indent(level);
        out << "]";
      });
  problems([&](size_t c, const LoggedProblem& problem) {
    // More problems than were counted (a log that grew) would not fit the form.
    if (!walk.Reach(c) || written >= logged[c].named) return;
    JsonValue entry(JsonKind::Object);
    entry[u"key"] = problem.key;
    if (!problem.value.empty()) entry[u"value"] = problem.value;
    entry[u"problem"] = problem.line;
    if (!problem.missing.empty()) entry[u"missing"] = problem.missing;
    const bool single = logged[c].named == 1;
    JsonWriteOptions options;
    options.level = single ? level : level + 1;
    std::u16string piece;
    entry.ToText(piece, JsonFlags::PrettySpaces, &options);
    std::erase(piece, u'\r');
    if (written++ > 0) out << ",";
    if (!single) out << "\n" << indent(level + 1);
    out << Ansi(piece);
  });
  walk.Finish();
  out.write(whole.data() + at, static_cast<std::streamsize>(whole.size() - at));
  out << "\n";
}

std::string FormatJson(const RunOutcome& outcome) {
  std::ostringstream out;
  WriteJson(outcome, KeptProblems(outcome), out);
  return out.str();
}

}  // namespace regclean
