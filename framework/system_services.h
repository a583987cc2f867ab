// Operating-system services the framework uses beside the scan: rights,
// version tests, processes, the service provider's start, restore points and
// the module's own paths. Failures are results (false, empty, a code); none
// raises an error.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/system.h"

// The process token is elevated (before Vista: member of Administrators).
bool IsProcessElevated(platform::System* system = platform::System::Default());
// 1 when the caller's token is in the built-in group rid (544 Administrators),
// 0 when not or when the test fails; 1 when the test is unavailable.
int IsUserInGroup(uint32_t rid, platform::System* system = platform::System::Default());

// NT 5.0 build 2196 and later, 5.1 and later.
bool IsXpOrLater(platform::System* system = platform::System::Default());
// NT 6 and later.
bool IsVistaOrLater(platform::System* system = platform::System::Default());
// NT 6 and later with a minor version of 2 or more.
bool IsWin8OrLater(platform::System* system = platform::System::Default());

// Whether a process of that executable name runs (ignoring case; with
// excludeSelf not this process). With a module path, its main module's full
// path must match too.
bool IsProcessRunning(std::u16string_view exeName, std::u16string_view modulePath, bool excludeSelf,
                      platform::System* system = platform::System::Default());

// Starts path with arguments in the file's folder; waits up to idleWaitMs for
// it to take input and, when exitWaitMs is not 0, up to that long for it to
// end (polling every millisecond, stopping early when cancel is set). Returns
// 0, 2 for a missing file, 1067 when it had to be ended, or a system error.
uint32_t RunProcess(std::u16string_view path, std::u16string_view arguments, uint32_t idleWaitMs,
                    bool hidden, uint32_t exitWaitMs, const std::atomic<bool>* cancel,
                    platform::System* system = platform::System::Default());

// Runs a command line and follows it: when it ends, any process it started
// is followed in its place (with a filter, only one whose lower-case name
// contains it), until none is left. A negative timeout returns at once after
// the start, 0 waits without limit, a positive one ends what still runs after
// it. The cancel flag ends the followed process. False when the program could
// not be started.
bool RunAndFollow(std::u16string_view commandLine, int32_t timeoutMs,
                  std::u16string_view childFilter, bool hidden, const std::atomic<bool>* cancel,
                  platform::System* system = platform::System::Default());

// schtasks.exe /RUN /TN "name", followed for at most 10 s.
bool RunScheduledTask(std::u16string_view taskName,
                      platform::System* system = platform::System::Default());
// The command line schtasks.exe is run with for a task.
std::u16string ScheduledTaskCommandLine(std::u16string_view taskName);

// The string value valueName of the machine's Run key without its first and
// last characters (the quotes around the program); empty when it cannot be
// read.
std::u16string ReadRunKeyCommand(std::u16string_view valueName,
                                 platform::Registry* registry = platform::Registry::Default());
// Starts the service provider: on XP and Server 2003 through its Run-key
// command (not waited for), elsewhere through its scheduled task.
void StartServiceProvider(platform::System* system = platform::System::Default(),
                          platform::Registry* registry = platform::Registry::Default());

// True when the service runs or could be started.
bool StartServiceByName(std::u16string_view serviceName,
                        platform::System* system = platform::System::Default());
// Full path of the library or program that holds this code.
std::u16string GetModuleFilePath(platform::System* system = platform::System::Default());
// Full path of the host program.
std::u16string GetHostFilePath(platform::System* system = platform::System::Default());
