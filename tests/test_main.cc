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

int RunChildMode(int argc, char** argv) {
  platform::System* system = platform::System::Default();
  if (argc == 3 && std::strcmp(argv[1], "--sleep-ms") == 0) {
    system->Sleep(static_cast<uint32_t>(std::atoi(argv[2])));
    return 3;
  }
  if (argc == 3 && std::strcmp(argv[1], "--spawn-child") == 0) {
    std::u16string self = system->GetHostFileName();
    std::u16string line = u"\"" + self + u"\" --sleep-ms ";
    for (const char* c = argv[2]; *c; ++c) line.push_back(static_cast<char16_t>(*c));
    uint32_t error = 0;
    platform::ProcessHandle child = system->CreateProcess(line, u"", true, false, &error);
    if (child == nullptr) return 1;
    system->CloseProcessHandle(child);
    return 0;
  }
  return -1;
}

#ifndef _WIN32
// On POSIX the machine is a Wine prefix: the tests get a fresh one of their
// own, so that nothing they write reaches the user's ~/.wine. Programs
// the tests start inherit it through WINEPREFIX.
std::filesystem::path g_testPrefix;

void RemoveTestPrefix() {
  std::error_code ignored;
  std::filesystem::remove_all(g_testPrefix, ignored);
}

void UseTemporaryPrefix() {
  g_testPrefix =
      std::filesystem::temp_directory_path() /
      ("regclean-tests-" + std::to_string(platform::System::Default()->GetCurrentProcessId()));
  std::error_code ignored;
  std::filesystem::remove_all(g_testPrefix, ignored);
  std::filesystem::create_directories(g_testPrefix / "drive_c", ignored);
  // The hives of a freshly booted 64-bit prefix (trimmed), so that the
  // registry and the environment look as they do on a real prefix.
  const std::filesystem::path hives =
      std::filesystem::path(REGCLEAN_SOURCE_DIR) / "tests" / "data" / "wine-hives";
  for (const char* hive : {"system.reg", "user.reg", "userdef.reg"})
    std::filesystem::copy_file(hives / hive, g_testPrefix / hive, ignored);
  PlaceBuiltinLibraries(g_testPrefix.string());
  // Registered before the registry is first used, so it runs after the
  // registry's own save at exit.
  std::atexit(RemoveTestPrefix);
  platform::posix::SetPrefixDirectory(g_testPrefix.string());
  const std::string text = g_testPrefix.string();
  platform::SetProcessEnvironmentVariable(u"WINEPREFIX", std::u16string(text.begin(), text.end()));
}
#endif

// Each test process works in a folder of its own, removed at exit: the
// module keeps its content folder below the current folder when the suite's
// settings name none.
std::filesystem::path g_workFolder;
void RemoveWorkFolder() {
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
  std::filesystem::remove_all(g_workFolder, ignored);
}
void UseTemporaryWorkFolder() {
  g_workFolder =
      std::filesystem::temp_directory_path() /
      ("regclean-work-" + std::to_string(platform::System::Default()->GetCurrentProcessId()));
  std::error_code ignored;
  std::filesystem::remove_all(g_workFolder, ignored);
  std::filesystem::create_directories(g_workFolder, ignored);
  std::filesystem::current_path(g_workFolder, ignored);
  std::atexit(RemoveWorkFolder);
}

}  // namespace

int main(int argc, char** argv) {
  const int child = RunChildMode(argc, argv);
  if (child >= 0) return child;
#ifndef _WIN32
  UseTemporaryPrefix();
#endif
  UseTemporaryWorkFolder();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
