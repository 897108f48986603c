// Trayhop32.exe and Trayhop64.exe: the program over the real system.
#include "app/Trayhop32App.h"
#include "app/win32/WindowRunner.h"
#include "platform/win32/Win32Platform.h"
#include "settings/win32/ConfigDialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    Win32Platform platform;
    CTrayhop32App app(platform);
    Win32ConfigDialogRunner configRunner(instance);
    Win32MainWindowRunner runner(instance, &configRunner);
    app.InitInstance(runner);
    // The exit status carries no meaning.
    return 0;
}
