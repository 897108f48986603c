#include "app/win32/demo/DemoMachine.h"

#include "app/win32/demo/DemoResource.h"

#include <shellapi.h>

#include <cstdio>
#include <memory>

namespace {

// The one demo machine of the process, for its timer.
DemoMachine* g_arrivalsOf = nullptr;
constexpr UINT kArrivalTimerMilliseconds = 200;

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                            static_cast<int>(text.size()), nullptr, 0);
    if (chars <= 0) return std::wstring(text.begin(), text.end());
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          chars);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                            nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                          bytes, nullptr, nullptr);
    return narrow;
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

bool ReadFile(const std::wstring& path, std::string& contents) {
    std::unique_ptr<FILE, FileCloser> file(::_wfopen(path.c_str(), L"rb"));
    if (!file) return false;
    char buffer[16384];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0)
        contents.append(buffer, got);
    return std::ferror(file.get()) == 0;
}

bool ReadBuiltInMachine(HINSTANCE instance, std::string& contents) {
    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(IDR_DEMO_MACHINE),
                                  MAKEINTRESOURCEW(10 /* RT_RCDATA */));
    if (found == nullptr) return false;
    HGLOBAL loaded = ::LoadResource(instance, found);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr) return false;
    contents.assign(static_cast<const char*>(data), ::SizeofResource(instance, found));
    return true;
}

}  // namespace

std::wstring DemoMachinePath(const wchar_t* commandLine, const wchar_t* environmentValue) {
    if (commandLine != nullptr) {
        int count = 0;
        if (LPWSTR* args = ::CommandLineToArgvW(commandLine, &count)) {
            std::wstring path = count > 1 ? std::wstring(args[1]) : std::wstring();
            ::LocalFree(args);
            if (!path.empty()) return path;
        }
    }
    return environmentValue != nullptr ? std::wstring(environmentValue) : std::wstring();
}

DemoMachine::~DemoMachine() {
    if (m_arrivalTimer != 0) ::KillTimer(nullptr, m_arrivalTimer);
    if (g_arrivalsOf == this) g_arrivalsOf = nullptr;
}

bool DemoMachine::Load(HINSTANCE instance, std::wstring& error) {
    m_loadedAt = ::GetTickCount();
    wchar_t variable[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"TRAYHOP32_DEMO_MACHINE", variable,
                                                   static_cast<DWORD>(std::size(variable)));
    const std::wstring path = DemoMachinePath(
        ::GetCommandLineW(), length > 0 && length < std::size(variable) ? variable : nullptr);
    return LoadFrom(instance, path, error);
}

bool DemoMachine::LoadFrom(HINSTANCE instance, const std::wstring& path, std::wstring& error) {
    std::string json, message;
    if (path.empty()) {
        if (!ReadBuiltInMachine(instance, json)) {
            error = L"The built-in demo machine is missing from the program file.";
            return false;
        }
        if (!LoadSimMachineFromJson(*this, json, "demo-workstation.json", message)) {
            error = Widen(message);
            return false;
        }
        return true;
    }
    if (!ReadFile(path, json)) {
        error = L"Cannot read the machine file " + path + L".";
        return false;
    }
    if (!LoadSimMachineFromJson(*this, json, Narrow(path), message)) {
        error = Widen(message);
        return false;
    }
    return true;
}

void DemoMachine::OnArrivalTimer(HWND, UINT, UINT_PTR, DWORD) {
    DemoMachine* machine = g_arrivalsOf;
    if (machine == nullptr) return;
    // Runs inside whatever loop pumps now, a command's boxes included, as a
    // device plugged in at that moment would be announced.
    machine->AttachDueDevices(::GetTickCount() - machine->m_loadedAt);
    machine->PumpMessages();
    if (!machine->ArrivalsWaiting()) {
        ::KillTimer(nullptr, machine->m_arrivalTimer);
        machine->m_arrivalTimer = 0;
        g_arrivalsOf = nullptr;
    }
}

void DemoMachine::DeliverDeviceChangesTo(HWND window) {
    m_target = window;
    if (m_arrivalTimer == 0 && ArrivalsWaiting()) {
        g_arrivalsOf = this;
        m_arrivalTimer = ::SetTimer(nullptr, 0, kArrivalTimerMilliseconds, &OnArrivalTimer);
    }
    // Sent, as Windows sends its broadcasts, from a loop that pumps (this
    // idle step, the arrival timer, a box about to open). Windows refuses to
    // post a device change: its parameter is a pointer (ERROR_MESSAGE_SYNC_ONLY).
    deviceChangeTarget = [this](UINT event) {
        if (m_target != nullptr && ::IsWindow(m_target))
            ::SendMessageW(m_target, WM_DEVICECHANGE, event, 0);
    };
    PumpMessages();
    // Called from the idle step, between commands: the simulation's records
    // serve tests, and in a demo left running they would only grow.
    ForgetHistory();
}

BOOL DemoMachine::SetDefaultDllDirectories(FARPROC, DWORD DirectoryFlags) {
    HMODULE kernel = m_real.GetModuleHandleW(L"kernel32.dll");
    FARPROC real = kernel ? m_real.GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    return real ? m_real.SetDefaultDllDirectories(real, DirectoryFlags) : FALSE;
}

FARPROC DemoMachine::RealUser32(const char* name) {
    HMODULE user32 = m_real.GetModuleHandleW(L"user32.dll");
    return user32 ? m_real.GetProcAddress(user32, name) : nullptr;
}

UINT DemoMachine::GetDpiForWindow(FARPROC, HWND hwnd) {
    FARPROC real = RealUser32("GetDpiForWindow");
    return real ? m_real.GetDpiForWindow(real, hwnd) : 0;
}

int DemoMachine::GetSystemMetricsForDpi(FARPROC, int nIndex, UINT dpi) {
    FARPROC real = RealUser32("GetSystemMetricsForDpi");
    return real ? m_real.GetSystemMetricsForDpi(real, nIndex, dpi) : 0;
}

DPI_AWARENESS_CONTEXT DemoMachine::GetWindowDpiAwarenessContext(FARPROC, HWND hwnd) {
    FARPROC real = RealUser32("GetWindowDpiAwarenessContext");
    return real ? m_real.GetWindowDpiAwarenessContext(real, hwnd) : nullptr;
}

BOOL DemoMachine::AreDpiAwarenessContextsEqual(FARPROC, DPI_AWARENESS_CONTEXT dpiContextA,
                                               DPI_AWARENESS_CONTEXT dpiContextB) {
    FARPROC real = RealUser32("AreDpiAwarenessContextsEqual");
    return real ? m_real.AreDpiAwarenessContextsEqual(real, dpiContextA, dpiContextB) : FALSE;
}

int DemoMachine::MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    // What the simulation queued while a command worked reaches the window
    // inside the box's loop, as it would on a real machine.
    if (m_target != nullptr) PumpMessages();
    return m_real.MessageBoxW(hWnd, lpText, lpCaption, uType);
}
