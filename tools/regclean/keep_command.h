// "regclean keep": the black list of the module, the list of entries a check
// never reports and a resolve never removes. It lives in the module's
// content folder as BlackList.cfg, UTF-16 LE text in the list format the
// module reads (reg_list_text.h); keep edits it line by line and leaves the
// rest of the file (comments, other entries, their parameters) as it was.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace regclean {

extern const char kKeepUsage[];

// The module's folder of lists, logs and backups on the machine chosen
// ("...\RegCleanerDll"), by the module's own rule for the staged or
// installed module beside this program.
std::u16string ModuleContentFolder();

// The black list file: its text and how to write it back.
class BlackListFile {
 public:
  // Reads path; a file that is not there (or empty) is an empty list. False,
  // with the reason in *error, when the file is there but is not a list the
  // module reads. A block a stopped "resolve --only" left at the end is
  // dropped.
  bool Load(const std::u16string& path, std::string* error);

  // The entry lines, as (key, value) with "*" read as no value, and their
  // parameters.
  struct Entry {
    std::u16string key, value, parameter;
  };
  std::vector<Entry> Entries() const;

  // Appends entry lines (from FormatRegListEntry), the section line first
  // when the file has none. temporary: below a comment that marks them as
  // one resolve's, for Load to drop when the resolve could not take them out.
  void Append(const std::vector<std::u16string>& lines, bool temporary);
  // Removes the entry lines of key and value; the number removed.
  int Remove(std::u16string_view key, std::u16string_view value);

  // Writes the text (through a new file renamed over the old one). False
  // with the reason in *error.
  bool Save(std::string* error) const;
  // Puts back the file as Load found it (removing it when there was none).
  bool Restore(std::string* error) const;

  const std::u16string& path() const { return path_; }

 private:
  bool WriteBytes(const std::string& bytes, std::string* error) const;

  std::u16string path_;
  bool existed_ = false;
  std::string original_;  // the bytes Load read
  bool byteOrderMark_ = true;
  std::u16string text_;
};

// The key as the module names entries (the full root name first) and the
// value, from what a person typed: a short root (HKLM) is written out, a COM
// server key "...\InprocServer32" stands for its class (the cleaner keeps or
// removes a class whole), "(default)" is no value. False with *error when
// the key names no root.
bool EntryFromArguments(const std::string& key, const std::string& value, std::u16string* entryKey,
                        std::u16string* entryValue, std::string* error);

// regclean keep KEY [VALUE] | --list | --remove KEY [VALUE], after the
// options were read: the machine is chosen. 0 done, 2 error (a wrong key, a
// list that cannot be read or written); nothing changes on an error.
int RunKeep(const std::vector<std::string>& operands, bool list, bool remove, std::ostream& out,
            std::ostream& err);

// The whole command: args are those after "keep"; prefix is a --prefix
// given before it.
int RunKeepCommand(std::string prefix, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err);

}  // namespace regclean
