// The real Configuration dialog: template 2426 run modally over the main
// window, its check boxes served to SvcConfig.
//
// Start-up hands one to the main window:
//     Win32ConfigDialogRunner configRunner(instance);
//     Win32MainWindowRunner runner(instance, &configRunner);
// The template comes from settings/win32/Config.rc, which the program's
// resource script includes.
#pragma once

#include "settings/SvcConfig.h"

#include <windows.h>

class Win32ConfigDialogRunner : public ConfigDialogRunner {
public:
    // The template is looked up in `instance`.
    explicit Win32ConfigDialogRunner(HINSTANCE instance) : m_instance(instance) {}

    // Owned by the application's main window, which is disabled meanwhile.
    int RunConfigDialog(SvcConfig& config) override;

private:
    HINSTANCE m_instance;
};
