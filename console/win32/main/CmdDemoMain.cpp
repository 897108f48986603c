// Trayhop32CmdDemo.exe: the console program over the simulated workstation,
// so every command and exit code can be tried without touching a real disk.
// "--machine FILE" before the command names another machine file.
#include "app/ProgramName.h"
#include "app/win32/demo/DemoMachine.h"
#include "console/ConsoleOutput.h"
#include "console/ConsoleProgram.h"
#include "platform/win32/Win32Platform.h"

#include <string>
#include <vector>

namespace {

// The simulated machine with the real standard handles: what the program
// prints reaches the console, file or pipe it was started with.
class ConsoleDemoMachine : public DemoMachine {
public:
    using DemoMachine::DemoMachine;
    HANDLE GetStdHandle(DWORD nStdHandle) override { return Real().GetStdHandle(nStdHandle); }
    BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) override {
        return Real().GetConsoleMode(hConsoleHandle, lpMode);
    }
    BOOL WriteConsoleW(HANDLE hConsoleOutput, const VOID* lpBuffer, DWORD nNumberOfCharsToWrite,
                       LPDWORD lpNumberOfCharsWritten, LPVOID lpReserved) override {
        return Real().WriteConsoleW(hConsoleOutput, lpBuffer, nNumberOfCharsToWrite,
                                    lpNumberOfCharsWritten, lpReserved);
    }
    BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                   LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) override {
        return Real().WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                                lpOverlapped);
    }
};

constexpr const wchar_t* kDemoName = L"Trayhop32CmdDemo";

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Win32Platform real;
    ConsoleBoxes<ConsoleDemoMachine> machine(real);
    std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + argc);

    std::wstring path;
    if (!args.empty() && args[0] == L"--machine") {
        if (args.size() < 2) {
            ConsoleOutput(machine).Err(std::wstring(kDemoName) + L": --machine needs a file\n");
            return kExitUsage;
        }
        path = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    std::wstring error;
    if (!machine.LoadFrom(::GetModuleHandleW(nullptr), path, error)) {
        ConsoleOutput(machine).Err(std::wstring(kDemoName) + L": " + error + L"\n");
        return kExitCannotRun;
    }
    return RunConsoleProgram(machine, args, kDemoName);
}
