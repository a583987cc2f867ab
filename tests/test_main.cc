// Entry point of the test program, natively and under wine64. The program
// also plays the small child processes that the process tests start:
//   --sleep-ms N          sleep N milliseconds, then exit with code 3
//   --spawn-child N       start "--sleep-ms N" of this program, exit at once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/system.h"

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

}  // namespace

int main(int argc, char** argv) {
  const int child = RunChildMode(argc, argv);
  if (child >= 0) return child;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
