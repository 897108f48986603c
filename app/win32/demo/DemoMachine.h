// The demo's machine: the simulated workstation for devices, volumes,
// registry, environment and the instance rules, while what the user sees and
// hears (message boxes, beeps, pauses, the help viewer) and the library
// search of the process are real. Device
// changes the simulation raises reach the main window as real
// WM_DEVICECHANGE messages.
#pragma once

#include "platform/sim/SimMachine.h"

#include <string>

class DemoMachine : public SimMachine {
public:
    // Nothing reads the call log of a running demo: its calls are only counted.
    explicit DemoMachine(Platform& real) : m_real(real) { recordCalls = false; }
    ~DemoMachine() override;

    // The machine file named on the command line, else the one named by the
    // environment variable TRAYHOP32_DEMO_MACHINE, else the built-in demo
    // workstation. False with a message on a faulty file.
    bool Load(HINSTANCE instance, std::wstring& error);
    // The machine file at `path`, or the built-in workstation when it is empty.
    bool LoadFrom(HINSTANCE instance, const std::wstring& path, std::wstring& error);

    // Posts the queued simulated device changes to this window, and from now
    // on attaches the machine file's late arrivals when they are due.
    void DeliverDeviceChangesTo(HWND window);

    int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) override;
    BOOL MessageBeep(UINT uType) override { return m_real.MessageBeep(uType); }
    void Sleep(DWORD dwMilliseconds) override { m_real.Sleep(dwMilliseconds); }
    // The window's waits pass in real time, so the retries are timed by it.
    DWORD GetTickCount() override { return m_real.GetTickCount(); }
    HWND HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) override {
        return m_real.HtmlHelpW(hwndCaller, pszFile, uCommand, dwData);
    }
    DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) override {
        return m_real.GetModuleFileNameW(hModule, lpFilename, nSize);
    }
    void InitCommonControls() override { m_real.InitCommonControls(); }
    BOOL SetDllDirectoryW(LPCWSTR lpPathName) override {
        return m_real.SetDllDirectoryW(lpPathName);
    }
    // The procedure handed out is the simulation's: the real one is looked up.
    BOOL SetDefaultDllDirectories(FARPROC procedure, DWORD DirectoryFlags) override;

    // The display is the real one: its scale, its metrics and user32's calls
    // that tell them (looked up anew, as above; where the system lacks one
    // the call fails and the program takes its fallback).
    HDC GetDC(HWND hWnd) override { return m_real.GetDC(hWnd); }
    int ReleaseDC(HWND hWnd, HDC hDC) override { return m_real.ReleaseDC(hWnd, hDC); }
    int GetDeviceCaps(HDC hdc, int index) override { return m_real.GetDeviceCaps(hdc, index); }
    int GetSystemMetrics(int nIndex) override { return m_real.GetSystemMetrics(nIndex); }
    UINT GetDpiForWindow(FARPROC procedure, HWND hwnd) override;
    int GetSystemMetricsForDpi(FARPROC procedure, int nIndex, UINT dpi) override;
    DPI_AWARENESS_CONTEXT GetWindowDpiAwarenessContext(FARPROC procedure, HWND hwnd) override;
    BOOL AreDpiAwarenessContextsEqual(FARPROC procedure, DPI_AWARENESS_CONTEXT dpiContextA,
                                      DPI_AWARENESS_CONTEXT dpiContextB) override;

protected:
    Platform& Real() { return m_real; }

private:
    static void CALLBACK OnArrivalTimer(HWND, UINT, UINT_PTR, DWORD);
    // The real user32's procedure of that name, or null.
    FARPROC RealUser32(const char* name);

    Platform& m_real;
    HWND m_target = nullptr;
    DWORD m_loadedAt = 0;
    UINT_PTR m_arrivalTimer = 0;
};

// The machine file to load: the first command-line argument, else the
// environment variable's value, else empty (the built-in machine).
std::wstring DemoMachinePath(const wchar_t* commandLine, const wchar_t* environmentValue);
