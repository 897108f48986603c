// Start-up time and memory of dialog programs.
//   bench_startup time RUNS LABEL TITLE COMMAND LABEL TITLE COMMAND...
// starts each program, measures with the performance counter the time until
// its top-level dialog (class #32770) with the given title is visible,
// closes it and waits for the process to end. The programs are started in
// turn, so that all see the same machine load. Prints one line per start,
// the median and low quartile per program, and the ratios of the last
// program's to each other's.
//   bench_startup memory TITLE COMMAND
// starts the program, waits for its window and a second more, and prints the
// rows of its list (control 2001) and its working set as the system reports
// it (under Wine: the VmRSS of the wine process), then closes it.
//   bench_startup listed RUNS ROWS LABEL TITLE COMMAND LABEL TITLE COMMAND...
// like time, but until the window's list (control 2001) holds ROWS rows and
// the window answers a message.
//   bench_startup refresh RUNS ROWS LABEL TITLE COMMAND LABEL TITLE COMMAND...
// starts every program, waits until each lists ROWS rows, then RUNS times in
// turn sends each a DBT_DEVICEARRIVAL with SendMessageTimeout and measures
// until it answers, checking that it still lists ROWS rows.
// Exits 1 when a window did not appear or a list did not hold ROWS rows.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

double Milliseconds() {
    static const double tick = [] {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        return 1000.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * tick;
}

struct Search {
    DWORD process;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK OnWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->process || !::IsWindowVisible(window)) return TRUE;
    wchar_t text[128] = {};
    wchar_t cls[16] = {};
    ::GetWindowTextW(window, text, 128);
    ::GetClassNameW(window, cls, 16);
    if (std::wcscmp(cls, L"#32770") != 0 || std::wcscmp(text, search->title) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

struct Started {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
    double ms = -1;  // from CreateProcess to the visible window
};

LRESULT ListedRows(HWND window) {
    return ::SendMessageW(::GetDlgItem(window, 2001), LVM_GETITEMCOUNT, 0, 0);
}

bool Answers(HWND window) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result) != 0;
}

// rows < 0: until the window is visible; otherwise also until its list holds
// that many rows and it answers.
Started Start(const std::wstring& title, const std::wstring& command, int rows = -1) {
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    Started started;
    const double t0 = Milliseconds();
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started.process))
        return started;
    Search search{started.process.dwProcessId, title.c_str(), nullptr};
    while (Milliseconds() - t0 < 30000) {
        if (!search.found) ::EnumWindows(OnWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found &&
            (rows < 0 || (ListedRows(search.found) == rows && Answers(search.found)))) {
            started.ms = Milliseconds() - t0;
            break;
        }
        if (::WaitForSingleObject(started.process.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    started.window = search.found;
    return started;
}

void Close(Started& started) {
    if (started.process.hProcess == nullptr) return;
    if (started.window) ::PostMessageW(started.window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(started.process.hProcess, 10000) != WAIT_OBJECT_0) {
        ::TerminateProcess(started.process.hProcess, 1);
        ::WaitForSingleObject(started.process.hProcess, 5000);
    }
    ::CloseHandle(started.process.hThread);
    ::CloseHandle(started.process.hProcess);
}

double Quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Wall time suffers from whatever else the machine runs; the low quartile of
// the times shows what a start costs when little competes. (Wine's
// GetProcessTimes for another process does not give that process's own
// time, so processor time cannot stand in.)
struct Program {
    const wchar_t* label;
    const wchar_t* title;
    const wchar_t* command;
    std::vector<double> times;
};

void Report(const char* what, int runs, const std::vector<Program>& programs) {
    for (const Program& p : programs)
        std::printf("%s label=%ls median_ms=%.1f low_quartile_ms=%.1f runs=%d\n", what, p.label,
                    Median(p.times), Quantile(p.times, 0.25), runs);
    const Program& subject = programs.back();
    for (size_t i = 0; i + 1 < programs.size(); ++i)
        std::printf("%s ratio %ls/%ls median=%.3f low_quartile=%.3f\n", what, subject.label,
                    programs[i].label, Median(subject.times) / Median(programs[i].times),
                    Quantile(subject.times, 0.25) / Quantile(programs[i].times, 0.25));
}

// The last program is the one measured; each before it is a yardstick.
int Time(int runs, std::vector<Program>& programs, int rows = -1) {
    const char* what = rows < 0 ? "startup" : "listed";
    // One start of each first, not counted: the first start loads the files.
    for (Program& p : programs) {
        Started warm = Start(p.title, p.command, rows);
        Close(warm);
    }
    for (int run = 0; run < runs; ++run) {
        for (Program& p : programs) {
            Started started = Start(p.title, p.command, rows);
            Close(started);
            if (started.ms < 0) {
                std::printf("%s %ls: no window%s\n", what, p.label,
                            rows < 0 ? "" : " listing the rows");
                return 1;
            }
            std::printf("start label=%ls run=%d ms=%.1f\n", p.label, run, started.ms);
            p.times.push_back(started.ms);
        }
    }
    Report(what, runs, programs);
    return 0;
}

int Refresh(int runs, int rows, std::vector<Program>& programs) {
    std::vector<Started> running;
    int rc = 0;
    for (Program& p : programs) {
        running.push_back(Start(p.title, p.command, rows));
        if (running.back().ms < 0) {
            std::printf("refresh %ls: no window listing %d rows\n", p.label, rows);
            rc = 1;
        }
    }
    // One refresh of each first, not counted.
    for (int run = -1; rc == 0 && run < runs; ++run) {
        for (size_t i = 0; i < programs.size(); ++i) {
            DWORD_PTR result = 0;
            const double t0 = Milliseconds();
            const LRESULT sent =
                ::SendMessageTimeoutW(running[i].window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0,
                                      SMTO_NORMAL, 120000, &result);
            const double ms = Milliseconds() - t0;
            const LRESULT listed = ListedRows(running[i].window);
            if (sent == 0 || listed != rows) {
                std::printf("refresh %ls: %s (%ld rows listed)\n", programs[i].label,
                            sent == 0 ? "no answer" : "wrong row count", static_cast<long>(listed));
                rc = 1;
                break;
            }
            if (run < 0) continue;
            std::printf("refresh label=%ls run=%d ms=%.1f\n", programs[i].label, run, ms);
            programs[i].times.push_back(ms);
        }
    }
    for (Started& started : running) Close(started);
    if (rc == 0) Report("refresh", runs, programs);
    return rc;
}

int Memory(const wchar_t* title, const wchar_t* command) {
    Started started = Start(title, command);
    if (started.ms < 0) {
        std::printf("memory %ls: no window\n", title);
        Close(started);
        return 1;
    }
    ::Sleep(1000);
    const LRESULT rows = ::SendMessageW(::GetDlgItem(started.window, 2001), LVM_GETITEMCOUNT, 0, 0);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    const BOOL read = ::GetProcessMemoryInfo(started.process.hProcess, &counters, sizeof(counters));
    std::printf(
        "memory title=\"%ls\" rows=%ld ms_to_window=%.1f working_set_kb=%lu "
        "peak_working_set_kb=%lu pagefile_kb=%lu%s\n",
        title, static_cast<long>(rows), started.ms,
        static_cast<unsigned long>(counters.WorkingSetSize / 1024),
        static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024),
        static_cast<unsigned long>(counters.PagefileUsage / 1024), read ? "" : " UNREADABLE");
    Close(started);
    return read ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int rc = 2;
    if (argc >= 9 && (argc - 3) % 3 == 0 && std::wcscmp(argv[1], L"time") == 0) {
        std::vector<Program> programs;
        for (int i = 3; i < argc; i += 3)
            programs.push_back({argv[i], argv[i + 1], argv[i + 2], {}});
        rc = Time(std::max(1, _wtoi(argv[2])), programs);
    } else if (argc >= 10 && (argc - 4) % 3 == 0 &&
               (std::wcscmp(argv[1], L"listed") == 0 || std::wcscmp(argv[1], L"refresh") == 0)) {
        std::vector<Program> programs;
        for (int i = 4; i < argc; i += 3)
            programs.push_back({argv[i], argv[i + 1], argv[i + 2], {}});
        const int runs = std::max(1, _wtoi(argv[2]));
        const int rows = std::max(0, _wtoi(argv[3]));
        rc = std::wcscmp(argv[1], L"listed") == 0 ? Time(runs, programs, rows)
                                                  : Refresh(runs, rows, programs);
    } else if (argc == 4 && std::wcscmp(argv[1], L"memory") == 0)
        rc = Memory(argv[2], argv[3]);
    else
        std::fprintf(stderr,
                     "usage: bench_startup time RUNS (LABEL TITLE COMMAND)...\n"
                     "       bench_startup listed|refresh RUNS ROWS (LABEL TITLE COMMAND)...\n"
                     "       bench_startup memory TITLE COMMAND\n");
    std::fflush(stdout);
    return rc;
}
