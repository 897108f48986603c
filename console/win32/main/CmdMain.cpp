// Trayhop32Cmd.exe and Trayhop64Cmd.exe: the console program over the real system.
#include "app/ProgramName.h"
#include "console/ConsoleOutput.h"
#include "console/ConsoleProgram.h"
#include "platform/win32/Win32Platform.h"

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    ConsoleBoxes<Win32Platform> platform;
    const std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return RunConsoleProgram(platform, args, std::wstring(kProgramName) + L"Cmd");
}
