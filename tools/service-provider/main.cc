// ServiceProvider [/register] [--channel NAME] [--idle-ms N] [--module PATH]
//                 [--ipc PATH] [--log PATH]
// Serves the module's requests on the service channel until it has been idle
// for ten minutes (or N ms). Exit code 0 after serving, 1 when it could not
// serve, 2 on a bad command line.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/system_text.h"
#include "platform/unicode.h"
#include "tools/service-provider/service_provider.h"

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(platform::AnsiToU16(argv[i]));
  ServiceProviderOptions options;
  std::u16string error;
  if (!ParseServiceProviderArguments(argc, arguments.data(), &options, &error)) {
    std::fprintf(stderr, "ServiceProvider: %s\n", platform::U16ToUtf8(error).c_str());
    return 2;
  }
  ServiceProvider provider(options);
  if (!provider.Start()) return 1;
  provider.ServeUntilIdle();
  return 0;
}
