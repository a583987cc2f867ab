#ifndef _WIN32
#include "tests/tools/staged_regclean.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

// arg in single quotes, its own single quotes written as '\''.
std::string Quoted(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

RegcleanOutcome RunStagedRegclean(const std::filesystem::path& scratch,
                                  const std::vector<std::string>& args, const std::string& input,
                                  const std::string& program) {
  std::string command = Quoted(program);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  std::ofstream(scratch / "in") << input;
  command += " <" + Quoted((scratch / "in").string()) + " >" + Quoted((scratch / "out").string()) +
             " 2>" + Quoted((scratch / "err").string());
  RegcleanOutcome run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFileText(scratch / "out");
  run.err = ReadFileText(scratch / "err");
  return run;
}
#endif
