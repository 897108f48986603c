// Trayhop32Cmd.exe and Trayhop64Cmd.exe: the window's inventory, list and
// removal flow for scripts. The flow's questions are answered from the
// command line's options; the outcome is an exit code a script can test.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

// The exit codes, documented in `help` and the README.
enum ConsoleExitCode : int {
    kExitOk = 0,            // every selected device removed; list or scan done
    kExitUsage = 1,         // unknown command or option, missing or malformed selector
    kExitNoMatch = 2,       // a selector matched no listed device; nothing removed
    kExitRefused = 3,       // files in use, boot device, page file, no rights on a volume
    kExitRemoveFailed = 4,  // the device installer could not remove a device (or scan)
    kExitRestart = 5,       // removed, but Windows asks for a restart
    kExitNotElevated = 6,   // remove or scan without administrator rights
    kExitBusy = 7,          // another removal or scan did not end in time
    kExitCannotRun = 8,     // wrong edition for this Windows, or the platform checks fail
};

// How long remove and scan wait for another removal or scan without --wait.
inline constexpr DWORD kDefaultLockWaitSeconds = 30;

// Runs one command line (`args` after the program's own name) and returns
// its exit code. `programName` is how the usage names the program.
int RunConsoleProgram(Platform& platform, const std::vector<std::wstring>& args,
                      const std::wstring& programName);

// The text of `help`: the commands, the selectors and the exit codes.
std::wstring ConsoleHelpText(const std::wstring& programName);
