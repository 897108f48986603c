// The simulated machine's bookkeeping, shared by its implementation files.
#pragma once

#include "platform/sim/SimMachine.h"

#include <cstring>
#include <cwctype>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace sim {

// Most names the machine compares are ASCII: those letters are upper-cased
// without a call into the C library.
inline wchar_t UpperChar(wchar_t c) {
    if (c < 0x80) return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
    return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

// base followed by each component of path upper-cased after a backslash;
// empty components ("a\\\\b", leading or trailing separators) are dropped.
inline std::wstring JoinKeyPath(const std::wstring& base, std::wstring_view path) {
    std::wstring full;
    full.reserve(base.size() + path.size() + 1);
    full = base;
    bool startOfPart = true;
    for (wchar_t c : path) {
        if (c == L'\\') {
            startOfPart = true;
            continue;
        }
        if (startOfPart) full += L'\\';
        startOfPart = false;
        full += UpperChar(c);
    }
    return full;
}

inline std::wstring Upper(std::wstring text) {
    for (auto& c : text) c = UpperChar(c);
    return text;
}

// Compared in place: the machine asks this for every path it opens.
inline bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && UpperChar(a[i]) != UpperChar(b[i])) return false;
    return true;
}

inline std::wstring FromPtr(LPCWSTR text) {
    return text ? std::wstring(text) : std::wstring();
}

// Wide text for the call log: ASCII kept, anything else shown as '?'.
inline std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

inline std::string Quote(LPCWSTR text) {
    return text ? "\"" + Narrow(text) + "\"" : "null";
}

std::string Hex(std::uintptr_t value);
// What GetProcAddress in ntdll hands out for the native calls the sim
// answers; null for any other name.
FARPROC NativeProcedure(const std::string& name);
// user32's module handle, and what GetProcAddress in it hands out for the
// display calls the machine's user32 has; null for any other name.
extern const HMODULE kUser32Module;
FARPROC DisplayProcedure(const SimMachine& m, const std::string& name);
std::wstring GuidText(const GUID& guid);  // "{4d36e967-e325-11ce-bfc1-08002be10318}"
std::optional<GUID> ParseGuid(const std::wstring& text);

inline void PutDword(void* to, DWORD value) {
    std::memcpy(to, &value, sizeof value);
}

// Copies `text` and its NUL into a buffer of `capacity` characters when it fits.
inline bool CopyWithNul(const std::wstring& text, LPWSTR buffer, size_t capacity) {
    if (!buffer || text.size() + 1 > capacity) return false;
    std::memcpy(buffer, text.c_str(), sizeof(WCHAR) * (text.size() + 1));
    return true;
}

}  // namespace sim

struct SimMachine::State {
    enum class Kind {
        Device,
        Volume,
        Mutex,
        Process,
        File,
        Snapshot,
        Thread,
        Token,
        ServiceManager,
        Module,
        VirtualDisk,
        VolumeSearch
    };
    struct OpenHandle {
        Kind kind = Kind::Device;
        size_t index = 0;  // device, volume or process index; a snapshot's next entry
        DWORD access = 0;
        DWORD share = 0;
        bool locked = false;
        std::wstring what;  // path, mutex name or image name
        size_t openedByCall = 0;
        size_t file = 0;                    // a duplicated file: its index in the process's files
        DWORD processId = 0;                // a process or duplicated file: whose
        std::vector<DWORD> pids;            // a snapshot: the processes it lists
        std::vector<std::wstring> modules;  // a module snapshot: the paths it lists
        bool stuck = false;                 // a thread blocked for good on a question
        std::vector<size_t> volumes;        // a volume search: the volumes it lists
    };
    struct Element {
        size_t device = 0;
        DWORD installFlags = 0;
        bool removeParams = false;
    };
    struct Interface {
        size_t element = 0;
        GUID interfaceClass{};
    };
    struct DevInfoSet {
        bool hasClass = false;
        GUID classGuid{};
        std::vector<Element> elements;
        std::vector<Interface> interfaces;
        size_t openedByCall = 0;
    };
    struct RegKey {
        std::map<std::wstring, std::pair<std::wstring, SimRegValue>> values;  // by upper name
        bool refuseWrites = false;
        DWORD openError = 0;
    };
    struct OpenKey {
        std::wstring path;  // upper "HKCU\\SOFTWARE\\..."
        REGSAM access = 0;
        size_t openedByCall = 0;
    };

    std::map<std::uintptr_t, OpenHandle> handles;
    std::map<std::uintptr_t, DevInfoSet> sets;
    std::map<std::uintptr_t, OpenKey> keys;
    std::map<std::wstring, RegKey> registry;
    std::map<std::wstring, std::pair<std::wstring, std::wstring>>
        environment;                                    // upper -> name, value
    std::map<std::wstring, std::vector<GUID>> classes;  // upper name
    // ClassGuidOf by the name exactly as asked, so a build does not upper-case
    // the same few names for every device; emptied when the classes change.
    std::unordered_map<std::wstring, GUID> classGuidOfName;
    std::map<DWORD, std::wstring> messages;
    std::map<std::wstring, int> mutexes;  // name -> open references (any process)
    std::vector<SimWindow> windows;
    // Device contexts got with GetDC: the number of the call that got each.
    std::map<std::uintptr_t, size_t> deviceContexts;
    std::uintptr_t nextHandle = 0x10000;
    int threadsRunning = 0;  // CreateThread is running a thread's routine
    std::unordered_map<DWORD, size_t> processIndex;  // FindProcess: id -> first process
    size_t processesIndexed = 0;
    DWORD lastError = 0;

    std::map<size_t, DWORD> failAtCall;
    std::map<std::pair<std::string, size_t>, DWORD> failMethod;
    // Looked up by the method's literal without building a string; the
    // counters (map nodes stay put) are also found by the literal's address.
    std::map<std::string, size_t, std::less<>> methodCalls;
    std::unordered_map<const char*, size_t*> methodCounterOfLiteral;

    std::uintptr_t NewHandleValue() {
        nextHandle += 8;
        return nextHandle;
    }

    // Logs and counts a seam call; the error to fail it with, if one was armed.
    // `args` makes the summary of the arguments, only when calls are recorded.
    template <typename Args>
    static std::optional<DWORD> Enter(SimMachine& m, const char* method, Args&& args) {
        ++m.callCount_;
        if (m.recordCalls) m.calls_.push_back(SimCall{method, args()});
        return Counted(m, method);
    }
    static std::optional<DWORD> Counted(SimMachine& m, const char* method);
    // Runs `inner`, a call of the seam method `innerMethod` that answers an
    // outer one, as if it had not been made: armed faults do not fire inside
    // it, and it is neither logged nor counted.
    template <typename Inner>
    static auto AsPartOfOuterCall(SimMachine& m, const char* innerMethod, Inner inner) {
        State& s = *m.state_;
        auto savedAtCall = std::move(s.failAtCall);
        auto savedMethod = std::move(s.failMethod);
        s.failAtCall.clear();
        s.failMethod.clear();
        auto result = inner();
        s.failAtCall = std::move(savedAtCall);
        s.failMethod = std::move(savedMethod);
        if (m.recordCalls && !m.calls_.empty()) m.calls_.pop_back();
        --m.callCount_;
        s.methodCalls.find(std::string_view(innerMethod))->second -= 1;
        return result;
    }
    static void ProgramError(SimMachine& m, std::string text) {
        m.programErrors_.push_back(std::move(text));
    }

    // Registry helpers.
    static std::optional<std::wstring> RootName(HKEY root);
    static std::wstring KeyPath(HKEY root, const std::wstring& path);  // upper; empty if bad root
    bool KeyRefusesWrites(const std::wstring& fullPath) const;         // it or an ancestor

    // Devices by upper-case instance identifier and by upper-case interface
    // path, each list in the order the devices were added, so that looking a
    // device up does not walk the whole machine (the inventory does it once
    // per device). Filled on demand. A test may still rename a device it
    // holds: a found entry that no longer matches, or a miss while some
    // device's identity differs from the one it was indexed under, makes the
    // index start over.
    std::unordered_map<std::wstring, std::vector<size_t>> devicesById;
    std::unordered_map<std::wstring, std::vector<size_t>> devicesByPath;
    std::vector<std::pair<std::wstring, std::wstring>> indexedIdentity;  // id, path
    size_t devicesIndexed = 0;

    // Devices.
    static const std::vector<size_t>& DevicesWithId(const SimMachine& m, const std::wstring& id);
    static const std::vector<size_t>& DevicesWithPath(const SimMachine& m,
                                                      const std::wstring& path);
    static GUID InterfaceClassOf(const SimMachine& m, const SimDevice& device);
    static bool DeviceIsDisk(const SimMachine& m, const SimDevice& device);
    static SimDevice* DeviceOfVolume(SimMachine& m, const SimVolume& volume);
    static void RemoveDeviceNow(SimMachine& m, size_t device);
    static void QueueDeviceChange(SimMachine& m, SimDeviceChange change);
    // The broadcast of a volume's arrival or removal; none for a volume
    // without a drive letter.
    static void QueueVolumeChange(SimMachine& m, UINT event, const SimVolume& volume);
    // The interface notification of a device, to each registered window.
    static void QueueInterfaceChange(SimMachine& m, UINT event, const SimDevice& device);
    static bool VolumeOnDevice(const SimMachine& m, const SimVolume& volume,
                               const SimDevice& device);
    static bool DeviceInUse(const SimMachine& m, size_t device);

    // Naming the holders (SimHolders.cpp). A question about a copy of a
    // stalling file never returns: on a thread, that thread is left blocked
    // (the question throws ThreadStuck, which CreateThread catches); on the
    // program's own thread it is a program error and the question fails.
    struct ThreadStuck {};
    static bool QuestionStalls(SimMachine& m, const OpenHandle& h);
    static bool ProcessRefuses(const SimMachine& m, const SimProcess& p);
    // CreateToolhelp32Snapshot of a process's modules (0: this process).
    static HANDLE ModuleSnapshot(SimMachine& m, DWORD processId);

    // The virtual disk service: what GetProcAddress finds in a library the
    // program loaded (null for any other name or module), and whether a
    // module handle is such a library.
    static FARPROC VirtualDiskProcedure(const SimMachine& m, HMODULE module, const char* name);
    static bool IsLoadedLibrary(const SimMachine& m, HMODULE module);

    // Mount points (SimMountPoints.cpp). The present volume a mount point
    // names: "X:\\" or "X:", a mount folder "C:\\Backup\\", or the volume's
    // GUID path with its trailing backslash.
    static std::optional<size_t> VolumeOfMountPoint(const SimMachine& m, std::wstring_view path);
    // The present volume a file lies on: the deepest mount folder its path is
    // in, else the volume of its letter.
    static std::optional<size_t> VolumeOfFile(const SimMachine& m, WCHAR letter,
                                              std::wstring_view path);
    // Another process holds a file or folder on the volume.
    static bool VolumeHeld(const SimMachine& m, size_t volume);
};

namespace sim {
// What GetProcAddress in kernel32 hands out for GetFinalPathNameByHandleW.
FARPROC FinalPathProcedure();
}  // namespace sim
