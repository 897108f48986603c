// Trayhop32Demo.exe: the whole program over a simulated workstation, so it
// can be tried without touching real disks.
#include "app/Trayhop32App.h"
#include "app/win32/WindowRunner.h"
#include "app/win32/demo/DemoMachine.h"
#include "platform/win32/Win32Platform.h"
#include "settings/win32/ConfigDialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    Win32Platform real;
    DemoMachine machine(real);
    std::wstring error;
    if (!machine.Load(instance, error)) {
        ::MessageBoxW(nullptr, error.c_str(), L"Trayhop32Demo", MB_OK | MB_ICONERROR);
        return 1;
    }

    CTrayhop32App app(machine);
    // Simulated device changes go to the main window once it exists; the
    // loop's idle step hands over what is queued.
    Win32ConfigDialogRunner configRunner(instance);
    Win32MainWindowRunner runner(instance, &configRunner, [&machine, &app] {
        if (app.m_hMainWnd != nullptr) machine.DeliverDeviceChangesTo(app.m_hMainWnd);
    });
    app.InitInstance(runner);
    return 0;
}
