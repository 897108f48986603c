// The holder search against the real system (a Wine prefix here). Started as
//   holders.exe check LETTER
// it starts three copies of itself: one holding two files on LETTER: (a
// drive mapped into the prefix by holders.sh), one run from LETTER: (a copy
// of the exe there) and one holding a file on C:. It checks that the search
// names the first with the file it holds and the second by its image for
// LETTER:, and not the third; the third with its file for C:; then
// that a question that never returns costs the search no more than its
// budgets, and that the thread left with it ends, and leaves no handle
// behind, once the question returns.
//   holders.exe hold EVENT PATH...
// opens the files, signals the inherited event and waits to be ended.
// Prints one line per check ("ok: ..." / "FAIL: ...") and exits 0 when all held.
// The searches that must name someone get a budget of seconds, as the build
// machine may be loaded; the one with every question stuck keeps the
// program's own budgets, and must return within them.
#include "platform/win32/Win32Platform.h"
#include "removal/VolumeHolders.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const std::wstring& what) {
    std::wprintf(L"%ls: %ls\n", ok ? L"ok" : L"FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++failures;
}

std::wstring Listed(const VolumeHolders& found) {
    std::wstring text;
    for (const auto& line : VolumeHolderLines(found)) text += L"\n    " + line;
    return text.empty() ? L" nothing" : text;
}

// The holder with this process id, when it is named as `image`.
const VolumeHolder* Named(const VolumeHolders& found, DWORD pid,
                          const wchar_t* image = L"holders.exe") {
    for (const auto& h : found.programs)
        if (h.processId == pid && _wcsicmp(h.imageName.c_str(), image) == 0) return &h;
    return nullptr;
}

// The volume mounted at `root` as a drive record names it: its GUID path
// without the trailing backslash; empty when it has none.
std::wstring VolumeAt(const wchar_t* root) {
    wchar_t name[MAX_PATH] = {};
    if (!::GetVolumeNameForVolumeMountPointW(root, name, MAX_PATH)) return {};
    std::wstring volume = name;
    if (!volume.empty() && volume.back() == L'\\') volume.pop_back();
    return volume;
}

int Hold(int argc, wchar_t** argv) {
    HANDLE ready =
        reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoull(argv[2], nullptr, 10)));
    std::vector<HANDLE> files;
    for (int i = 3; i < argc; ++i) {
        HANDLE f = ::CreateFileW(argv[i], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (f == INVALID_HANDLE_VALUE) {
            std::wprintf(L"FAIL: the helper cannot open %ls (error %lu)\n", argv[i],
                         ::GetLastError());
            return 1;
        }
        files.push_back(f);
    }
    ::SetEvent(ready);
    ::Sleep(120000);  // ended by the checker long before
    return 0;
}

struct Helper {
    PROCESS_INFORMATION info{};
    bool started = false;
};

// Starts `exe` (this program when empty) holding `paths`.
Helper StartHelper(const std::vector<std::wstring>& paths, std::wstring exe = {}) {
    Helper helper;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE ready = ::CreateEventW(&inherit, TRUE, FALSE, nullptr);
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (exe.empty()) exe = self;
    std::wstring command =
        L"\"" + exe + L"\" hold " + std::to_wstring(reinterpret_cast<ULONG_PTR>(ready));
    for (const auto& p : paths) command += L" \"" + p + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &helper.info)) {
        HANDLE waits[] = {ready, helper.info.hProcess};
        helper.started = ::WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
    }
    ::CloseHandle(ready);
    return helper;
}

void EndHelper(Helper& helper) {
    if (helper.info.hProcess == nullptr) return;
    ::TerminateProcess(helper.info.hProcess, 0);
    ::WaitForSingleObject(helper.info.hProcess, 10000);
    ::CloseHandle(helper.info.hProcess);
    ::CloseHandle(helper.info.hThread);
    helper.info = {};
}

// A system where asking a file's volume can wait forever: the chosen calls
// block until released, as on a file another program is reading synchronously.
class StuckPlatform : public Win32Platform {
public:
    explicit StuckPlatform(int stuckCalls) : stuckCalls_(stuckCalls) {
        release_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~StuckPlatform() override { ::CloseHandle(release_); }
    NTSTATUS NtQueryVolumeInformationFile(FARPROC procedure, HANDLE file, PIO_STATUS_BLOCK io,
                                          PVOID info, ULONG length,
                                          FS_INFORMATION_CLASS infoClass) override {
        if (calls_.fetch_add(1) < stuckCalls_) {
            stuck_.fetch_add(1);
            ::WaitForSingleObject(release_, INFINITE);
            NTSTATUS status = Win32Platform::NtQueryVolumeInformationFile(procedure, file, io, info,
                                                                          length, infoClass);
            stuck_.fetch_sub(1);
            return status;
        }
        return Win32Platform::NtQueryVolumeInformationFile(procedure, file, io, info, length,
                                                           infoClass);
    }
    void Release() { ::SetEvent(release_); }
    int Stuck() const { return stuck_.load(); }

private:
    int stuckCalls_;
    HANDLE release_;
    std::atomic<int> calls_{0};
    std::atomic<int> stuck_{0};
};

// This process's handles as the system handle table lists them (Wine's
// GetProcessHandleCount answers 0).
DWORD HandleCount() {
    using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<ULONG_PTR> buffer(1 << 16);
    for (int i = 0; i < 10; ++i) {
        ULONG returned = 0;
        const NTSTATUS status =
            query(kSystemExtendedHandleInformation, buffer.data(),
                  static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &returned);
        if (status == kStatusInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return 0;
        SYSTEM_HANDLE_INFORMATION_EX head;
        std::memcpy(&head, buffer.data(), offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles));
        const auto* bytes = reinterpret_cast<const BYTE*>(buffer.data());
        DWORD count = 0;
        for (ULONG_PTR n = 0; n < head.NumberOfHandles; ++n) {
            SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX e;
            std::memcpy(&e, bytes + offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles) + n * sizeof e,
                        sizeof e);
            if (e.UniqueProcessId == ::GetCurrentProcessId()) ++count;
        }
        return count;
    }
    return 0;
}

// The search with some questions stuck: how long it took and what it said;
// then the threads left behind end once the questions return, leaving no handle.
constexpr DWORD kPatientBudget = 5000;
constexpr DWORD kLateness = 500;  // a loaded machine may run the search's thread late

void CheckStuck(const std::wstring& volume, int stuckCalls, DWORD budget, DWORD heldBy,
                bool expectNamed) {
    StuckPlatform platform(stuckCalls);
    const DWORD handlesBefore = HandleCount();
    const DWORD started = ::GetTickCount();
    const VolumeHolders found = FindVolumeHolders(platform, volume.c_str(), budget);
    const DWORD took = ::GetTickCount() - started;
    const std::wstring what = std::to_wstring(stuckCalls) + L" stuck question(s): ";
    Check(took <= budget + kHolderStallMilliseconds + kLateness,
          what + L"the search returned in " + std::to_wstring(took) + L" ms");
    Check((Named(found, heldBy) != nullptr) == expectNamed,
          what + (expectNamed ? L"the helper is still named:" : L"the helper is not named:") +
              Listed(found));
    Check(found.incomplete != expectNamed,
          what + (expectNamed ? L"the list is complete" : L"the list may be incomplete"));
    Check(platform.Stuck() > 0, what + L"a worker was left with its question");
    platform.Release();
    for (int i = 0; i < 200 && platform.Stuck() > 0; ++i) ::Sleep(10);
    ::Sleep(50);  // the thread's own end after its last call
    Check(platform.Stuck() == 0, what + L"every left worker ended once released");
    const DWORD handlesAfter = HandleCount();
    Check(handlesAfter <= handlesBefore, what + L"handles before " +
                                             std::to_wstring(handlesBefore) + L", after " +
                                             std::to_wstring(handlesAfter));
}

int CheckSearch(WCHAR letter) {
    const std::wstring drive{letter, L':', L'\\'};
    const std::wstring volume = VolumeAt(drive.c_str()), system = VolumeAt(L"C:\\");
    Check(!volume.empty() && !system.empty(), L"both drives have a volume name: " + volume);
    // A copy of this program on the drive, run from there.
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring runner = drive + L"trayhop-runner.exe";
    Check(::CopyFileW(self, runner.c_str(), FALSE) != 0, L"the program is copied to " + runner);
    Helper onDrive = StartHelper({drive + L"trayhop-held-1.txt", drive + L"trayhop-held-2.txt"});
    Helper fromDrive = StartHelper({}, runner);
    Helper onC = StartHelper({L"C:\\trayhop-held-elsewhere.txt"});
    Check(onDrive.started && fromDrive.started && onC.started,
          L"the helpers hold their files and run");
    for (const std::wstring& root : {volume, system}) {
        DWORD serial = 0;
        ::GetVolumeInformationW((root + L"\\").c_str(), nullptr, 0, &serial, nullptr, nullptr,
                                nullptr, 0);
        std::wprintf(L"serial of %ls: %08lx\n", root.c_str(), serial);
    }
    if (!volume.empty() && !system.empty() && onDrive.started && fromDrive.started && onC.started) {
        const DWORD a = onDrive.info.dwProcessId, r = fromDrive.info.dwProcessId,
                    b = onC.info.dwProcessId;
        Win32Platform platform;
        const DWORD started = ::GetTickCount();
        const VolumeHolders onLetter = FindVolumeHolders(platform, volume.c_str(), kPatientBudget);
        std::wprintf(L"the search took %lu ms\n", ::GetTickCount() - started);
        const std::wstring on = std::wstring(L"drive ") + letter + L": ";
        const VolumeHolder* holding = Named(onLetter, a);
        Check(holding != nullptr && Named(onLetter, b) == nullptr,
              on + L"names the first helper (" + std::to_wstring(a) + L") and not the third (" +
                  std::to_wstring(b) + L"):" + Listed(onLetter));
        Check(
            holding != nullptr && holding->held.rfind(drive + L"trayhop-held-", 0) == 0,
            on + L"the first helper shows the file it holds: " + (holding ? holding->held : L"-"));
        const VolumeHolder* running = Named(onLetter, r, L"trayhop-runner.exe");
        Check(running != nullptr && _wcsicmp(running->held.c_str(), runner.c_str()) == 0,
              on + L"names the program run from it by its image (" + std::to_wstring(r) + L"): " +
                  (running ? running->held : L"-"));
        Check(onLetter.programs.size() == 2, on + L"names no one else");
        // Every program runs DLLs from the system drive, so on C: all are
        // named; the third with the file it holds.
        const VolumeHolders onSystem = FindVolumeHolders(platform, system.c_str(), kPatientBudget);
        const VolumeHolder* third = Named(onSystem, b);
        Check(third != nullptr && third->held == L"C:\\trayhop-held-elsewhere.txt",
              L"drive C: names the third helper with its file:" + Listed(onSystem));
        std::wprintf(L"text: %ls\n",
                     DescribeVolumeHolders(onLetter, std::wstring{letter, L':'}).c_str());

        EndHelper(fromDrive);
        CheckStuck(volume, 1, kPatientBudget, a, true);
        CheckStuck(volume, 1000, kHolderSearchMilliseconds, a, false);
    }
    EndHelper(onDrive);
    EndHelper(fromDrive);
    EndHelper(onC);
    ::DeleteFileW(runner.c_str());
    return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wcscmp(argv[1], L"hold") == 0) return Hold(argc, argv);
    if (argc == 3 && std::wcscmp(argv[1], L"check") == 0 && argv[2][0] != L'\0')
        return CheckSearch(static_cast<WCHAR>(::towupper(argv[2][0])));
    std::fwprintf(stderr, L"usage: holders.exe check LETTER | hold EVENT PATH...\n");
    return 2;
}
