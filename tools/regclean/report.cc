#include "tools/regclean/report.h"

#include <cstdio>

#include "platform/system_text.h"
#include "support/json_value.h"

namespace regclean {
namespace {

std::string Ansi(std::u16string_view text) { return platform::U16ToAnsi(text); }

std::u16string Wide(std::string_view text) { return platform::AnsiToU16(text); }

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", value);
  return text;
}

std::string Plural(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

int CategoryCount(const LoggedCategory& category) {
  return category.count >= 0 ? category.count : static_cast<int>(category.problems.size());
}

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

std::string FormatResult(const RunOutcome& outcome) {
  std::string out = "Result: " + Ansi(outcome.text) + " (level " + Number(outcome.level) + ")\n";
  JsonValue subResults;
  if (subResults.Parse(outcome.subResultsJson) && subResults.array() != nullptr &&
      !subResults.array()->empty()) {
    out += "Sub-results:\n";
    for (JsonValue& item : *subResults.array()) {
      const std::u16string* text = item[u"SubResultText"].string();
      out += "  " + Number(item[u"SubResultLevel"].number()) + "  " +
             (text != nullptr ? Ansi(*text) : std::string()) + "\n";
    }
  } else {
    out += "Sub-results: none\n";
  }
  if (outcome.canceled) out += "The run was canceled; what it found so far is listed.\n";
  if (outcome.failed) {
    out += outcome.resolve ? "The run failed: nothing is counted as removed.\n"
                           : "The run failed: its findings are incomplete.\n";
  }

  bool any = false;
  for (const LoggedCategory& category : outcome.log.categories) {
    const int count = CategoryCount(category);
    if (count == 0 && category.problems.empty()) continue;
    any = true;
    out += "\n" + Ansi(CategoryHeading(category.name)) + " (" + Ansi(category.name) +
           "): " + std::to_string(count) + "\n";
    const std::u16string* lastKey = nullptr;
    const std::u16string* lastValue = nullptr;
    for (const LoggedProblem& problem : category.problems) {
      if (lastKey == nullptr || *lastKey != problem.key || *lastValue != problem.value) {
        out += "  " + Ansi(problem.key);
        if (!problem.value.empty()) out += "  [value " + Ansi(problem.value) + "]";
        out += "\n";
        lastKey = &problem.key;
        lastValue = &problem.value;
      }
      out += "      " + Ansi(problem.line) + "\n";
    }
    if (static_cast<int>(category.problems.size()) < count) {
      out += "  (" + std::to_string(count - static_cast<int>(category.problems.size())) +
             " more not named in the log: its DebugLevel is below 8)\n";
    }
  }
  const int count = ProblemCount(outcome);
  if (!any) {
    if (outcome.failed) {
      // The causes are said on their own; "nothing found" would not be true.
    } else if (outcome.canceled) {
      out += "\nNo problems were found before the run stopped.\n";
    } else if (count == 0) {
      out += outcome.resolve ? "\nNothing needed fixing.\n" : "\nNo problems found.\n";
    } else if (outcome.logFile.empty()) {
      out += "\nThe run left no log, so its problems cannot be listed.\n";
    }
  } else {
    out += "\n" + Plural(count, "problem", "problems") +
           (outcome.failed ? (outcome.resolve ? " handled before the failure; the registry may "
                                                "still hold them.\n"
                                              : " found before the failure.\n")
                           : (outcome.resolve ? " removed.\n" : " found.\n"));
  }
  if (!outcome.logFile.empty()) out += "Log: " + outcome.logFile + "\n";
  return out;
}

std::string FormatJson(const RunOutcome& outcome) {
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
    JsonValue& problems = item[u"problems"];
    problems = JsonValue(JsonKind::Array);
    for (const LoggedProblem& problem : category.problems) {
      JsonValue entry(JsonKind::Object);
      entry[u"key"] = problem.key;
      if (!problem.value.empty()) entry[u"value"] = problem.value;
      entry[u"problem"] = problem.line;
      if (!problem.missing.empty()) entry[u"missing"] = problem.missing;
      problems.array()->push_back(std::move(entry));
    }
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
  return Ansi(text) + "\n";
}

}  // namespace regclean
