// Entry point of the test program, natively and under wine64. The program
// also plays the small child processes that the process tests start:
//   --sleep-ms N          sleep N milliseconds, then exit with code 3
//   --spawn-child N       start "--sleep-ms N" of this program, exit at once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/environment.h"
#include "platform/system.h"
#ifndef _WIN32
#include "platform/wineprefix/wine_prefix.h"
#include "tests/platform/temp_tree.h"
#endif

namespace {

namespace fs = std::filesystem;

int RunChildMode(int argc, char** argv) {
  platform::System* system = platform::System::Default();
  if (argc == 3 && std::strcmp(argv[1], "--sleep-ms") == 0) {
    system->Sleep(static_cast<uint32_t>(std::atoi(argv[2])));
    return 3;
  }
  if (argc == 3 && std::strcmp(argv[1], "--spawn-child") == 0) {
    std::u16string line = u"\"" + system->GetHostFileName() + u"\" --sleep-ms ";
    for (const char* c = argv[2]; *c; ++c) line.push_back(static_cast<char16_t>(*c));
    uint32_t error = 0;
    platform::ProcessHandle child = system->CreateProcess(line, u"", true, false, &error);
    if (child == nullptr) return 1;
    system->CloseProcessHandle(child);
    return 0;
  }
  return -1;
}

// Each test process works in a folder of its own (the module's content folder
// goes below it) and, on POSIX, on a prefix of its own, never ~/.wine.
fs::path g_folders[2];

void RemoveFolders() {
  std::error_code ignored;
  fs::current_path(fs::temp_directory_path(), ignored);
  for (const fs::path& folder : g_folders)
    if (!folder.empty()) fs::remove_all(folder, ignored);
}

fs::path FreshFolder(const std::string& stem) {
  const fs::path folder =
      fs::temp_directory_path() /
      (stem + std::to_string(platform::System::Default()->GetCurrentProcessId()));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder, ignored);
  return folder;
}

}  // namespace

int main(int argc, char** argv) {
  const int child = RunChildMode(argc, argv);
  if (child >= 0) return child;
#ifndef _WIN32
  g_folders[1] = FreshFolder("regclean-tests-");
  FillBootedPrefix(g_folders[1].string());
  platform::posix::SetPrefixDirectory(g_folders[1].string());
  const std::string prefix = g_folders[1].string();
  platform::SetProcessEnvironmentVariable(u"WINEPREFIX",
                                          std::u16string(prefix.begin(), prefix.end()));
#endif
  g_folders[0] = FreshFolder("regclean-work-");
  std::error_code ignored;
  fs::current_path(g_folders[0], ignored);
  // Registered before the registry's first use: runs after its save at exit.
  std::atexit(RemoveFolders);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
