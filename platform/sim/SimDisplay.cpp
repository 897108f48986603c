// The simulated display: the system DPI the screen's device context reports,
// the DPI of the monitor the program's window is on, the icon metrics that
// follow the scale, and which of Windows 10's DPI calls user32 has.
#include "platform/sim/SimInternal.h"

using State = SimMachine::State;

namespace {

// What GetProcAddress hands out for user32's DPI calls; the seam methods
// recognise them. Their bodies differ so that no linker folds them into one.
LONG_PTR WINAPI GetDpiForWindowStub() {
    return 2;
}
LONG_PTR WINAPI GetSystemMetricsForDpiStub() {
    return 3;
}
LONG_PTR WINAPI GetWindowDpiAwarenessContextStub() {
    return 4;
}
LONG_PTR WINAPI AreDpiAwarenessContextsEqualStub() {
    return 5;
}

// The awareness contexts Windows 10 answers for a per-monitor aware window,
// and the pseudo-handles a program compares them with (-3 is v1, -4 is v2).
const DPI_AWARENESS_CONTEXT kPerMonitorContext = reinterpret_cast<DPI_AWARENESS_CONTEXT>(0x12);
const DPI_AWARENESS_CONTEXT kPerMonitorV2Context = reinterpret_cast<DPI_AWARENESS_CONTEXT>(0x22);
const DPI_AWARENESS_CONTEXT kPerMonitorPseudo = reinterpret_cast<DPI_AWARENESS_CONTEXT>(-3);

std::string Text(const void* value) {
    return sim::Hex(reinterpret_cast<std::uintptr_t>(value));
}

// The icon metrics at 100 %, and as Windows scales them: to the nearest pixel.
int MetricAt(int index, UINT dpi) {
    int at96 = 0;
    switch (index) {
        case SM_CXICON:
        case SM_CYICON:
            at96 = 32;
            break;
        case SM_CXSMICON:
        case SM_CYSMICON:
            at96 = 16;
            break;
        default:
            return 0;
    }
    return static_cast<int>((static_cast<long long>(at96) * dpi + 48) / 96);
}

bool CheckProcedure(SimMachine& m, FARPROC procedure, LONG_PTR(WINAPI* stub)(),
                    const char* method) {
    if (procedure == reinterpret_cast<FARPROC>(stub)) return true;
    State::ProgramError(m, std::string(method) +
                               " called through a procedure GetProcAddress did not return");
    m.SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

}  // namespace

const HMODULE sim::kUser32Module = reinterpret_cast<HMODULE>(0x7e410000);

FARPROC sim::DisplayProcedure(const SimMachine& m, const std::string& name) {
    if (m.dpiCalls == SimMachine::DpiCalls::Missing) return nullptr;
    if (name == "GetDpiForWindow") return reinterpret_cast<FARPROC>(&GetDpiForWindowStub);
    if (name == "GetSystemMetricsForDpi")
        return reinterpret_cast<FARPROC>(&GetSystemMetricsForDpiStub);
    if (name == "GetWindowDpiAwarenessContext")
        return reinterpret_cast<FARPROC>(&GetWindowDpiAwarenessContextStub);
    if (name == "AreDpiAwarenessContextsEqual")
        return reinterpret_cast<FARPROC>(&AreDpiAwarenessContextsEqualStub);
    return nullptr;
}

size_t SimMachine::OutstandingDeviceContexts() const {
    return state_->deviceContexts.size();
}

HDC SimMachine::GetDC(HWND hWnd) {
    if (auto e = State::Enter(*this, "GetDC", [&] { return Text(hWnd); })) {
        SetLastError(*e);
        return nullptr;
    }
    const std::uintptr_t value = state_->NewHandleValue();
    state_->deviceContexts[value] = callCount_;
    return reinterpret_cast<HDC>(value);
}

int SimMachine::ReleaseDC(HWND hWnd, HDC hDC) {
    if (auto e = State::Enter(*this, "ReleaseDC", [&] { return Text(hWnd) + ", " + Text(hDC); })) {
        SetLastError(*e);
        return 0;
    }
    if (state_->deviceContexts.erase(reinterpret_cast<std::uintptr_t>(hDC)) == 0) {
        State::ProgramError(*this, "ReleaseDC of an unknown or released device context " +
                                       Text(hDC));
        return 0;
    }
    return 1;
}

int SimMachine::GetDeviceCaps(HDC hdc, int index) {
    if (auto e = State::Enter(*this, "GetDeviceCaps",
                              [&] { return Text(hdc) + ", " + std::to_string(index); })) {
        SetLastError(*e);
        return 0;
    }
    if (state_->deviceContexts.count(reinterpret_cast<std::uintptr_t>(hdc)) == 0) {
        State::ProgramError(*this, "GetDeviceCaps of an unknown device context " + Text(hdc));
        return 0;
    }
    return index == LOGPIXELSX || index == LOGPIXELSY ? static_cast<int>(systemDpi) : 0;
}

int SimMachine::GetSystemMetrics(int nIndex) {
    if (auto e = State::Enter(*this, "GetSystemMetrics", [&] { return std::to_string(nIndex); })) {
        SetLastError(*e);
        return 0;
    }
    return MetricAt(nIndex, systemDpi);
}

UINT SimMachine::GetDpiForWindow(FARPROC procedure, HWND hwnd) {
    if (auto e = State::Enter(*this, "GetDpiForWindow", [&] { return Text(hwnd); })) {
        SetLastError(*e);
        return 0;
    }
    if (!CheckProcedure(*this, procedure, &GetDpiForWindowStub, "GetDpiForWindow")) return 0;
    if (hwnd == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return windowDpi != 0 ? windowDpi : systemDpi;
}

int SimMachine::GetSystemMetricsForDpi(FARPROC procedure, int nIndex, UINT dpi) {
    if (auto e = State::Enter(*this, "GetSystemMetricsForDpi",
                              [&] { return std::to_string(nIndex) + ", " + std::to_string(dpi); })) {
        SetLastError(*e);
        return 0;
    }
    if (!CheckProcedure(*this, procedure, &GetSystemMetricsForDpiStub, "GetSystemMetricsForDpi"))
        return 0;
    if (dpi == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return MetricAt(nIndex, dpi);
}

DPI_AWARENESS_CONTEXT SimMachine::GetWindowDpiAwarenessContext(FARPROC procedure, HWND hwnd) {
    if (auto e = State::Enter(*this, "GetWindowDpiAwarenessContext", [&] { return Text(hwnd); })) {
        SetLastError(*e);
        return nullptr;
    }
    if (!CheckProcedure(*this, procedure, &GetWindowDpiAwarenessContextStub,
                        "GetWindowDpiAwarenessContext"))
        return nullptr;
    if (hwnd == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    // The manifest asks for per-monitor v2 first; 1607 knows only v1.
    return dpiCalls == DpiCalls::PerMonitorV2 ? kPerMonitorV2Context : kPerMonitorContext;
}

BOOL SimMachine::AreDpiAwarenessContextsEqual(FARPROC procedure, DPI_AWARENESS_CONTEXT dpiContextA,
                                              DPI_AWARENESS_CONTEXT dpiContextB) {
    if (auto e = State::Enter(*this, "AreDpiAwarenessContextsEqual",
                              [&] { return Text(dpiContextA) + ", " + Text(dpiContextB); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (!CheckProcedure(*this, procedure, &AreDpiAwarenessContextsEqualStub,
                        "AreDpiAwarenessContextsEqual"))
        return FALSE;
    // A context is a window's value or a pseudo-handle; 1607 rejects the v2
    // pseudo-handle as invalid, which compares equal to nothing.
    auto meaning = [this](DPI_AWARENESS_CONTEXT context) -> int {
        if (context == kPerMonitorContext || context == kPerMonitorPseudo) return 1;
        if ((context == kPerMonitorV2Context ||
             context == DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) &&
            dpiCalls == DpiCalls::PerMonitorV2)
            return 2;
        return 0;
    };
    const int a = meaning(dpiContextA);
    return a != 0 && a == meaning(dpiContextB) ? TRUE : FALSE;
}
