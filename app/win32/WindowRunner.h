// Runs the real main window for start-up: creates it, runs it modally and
// destroys it when start-up says so.
#pragma once

#include "app/Trayhop32App.h"
#include "app/win32/MainDialog.h"

#include <functional>
#include <memory>

class Win32MainWindowRunner : public MainWindowRunner {
public:
    // idle runs before each wait for a message of the main window's loop.
    Win32MainWindowRunner(HINSTANCE instance, ConfigDialogRunner* configRunner,
                          std::function<void()> idle = {})
        : m_instance(instance), m_configRunner(configRunner), m_idle(std::move(idle)) {}

    void RunMainWindow(CTrayhop32App& app) override {
        m_window = std::make_unique<MainDialog>(m_instance, app);
        m_window->SetConfigDialogRunner(m_configRunner);
        m_window->RunModal(m_idle);
    }
    void DestroyMainWindow(CTrayhop32App&) override { m_window.reset(); }

private:
    HINSTANCE m_instance;
    ConfigDialogRunner* m_configRunner;
    std::function<void()> m_idle;
    std::unique_ptr<MainDialog> m_window;
};
