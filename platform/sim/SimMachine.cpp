// The simulated machine: construction, bookkeeping, call log and faults, and
// the registry, environment, text, process and user-feedback functions.
#include "platform/sim/SimInternal.h"

#include <algorithm>
#include <cstdio>

using sim::FromPtr;
using sim::Quote;
using sim::Upper;
using State = SimMachine::State;

namespace sim {

std::string Hex(std::uintptr_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::wstring GuidText(const GUID& g) {
    wchar_t text[64];
    std::swprintf(text, 64, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::optional<GUID> ParseGuid(const std::wstring& text) {
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return std::nullopt;
    std::string digits;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        wchar_t c = text[i];
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (c != L'-') return std::nullopt;
            continue;
        }
        if (!std::iswxdigit(static_cast<wint_t>(c)) || c > 0x7F) return std::nullopt;
        digits += static_cast<char>(c);
    }
    auto field = [&](size_t at, size_t count) {
        return static_cast<DWORD>(std::stoul(digits.substr(at, count), nullptr, 16));
    };
    GUID g{};
    g.Data1 = field(0, 8);
    g.Data2 = static_cast<WORD>(field(8, 4));
    g.Data3 = static_cast<WORD>(field(12, 4));
    for (size_t i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(field(16 + 2 * i, 2));
    return g;
}

}  // namespace sim

namespace {

constexpr GUID kDiskDriveClass = {
    0x4d36e967, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kCdromClass = {
    0x4d36e965, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kTapeDriveClass = {
    0x6d807884, 0x7d21, 0x11cf, {0x80, 0x1c, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// Fake module handles; the values only need to be distinct and non-null.
HMODULE ModuleValue(std::uintptr_t v) {
    return reinterpret_cast<HMODULE>(v);
}
const HMODULE kOwnModule = ModuleValue(0x400000);
const HMODULE kKernel32 = ModuleValue(0x7c800000);
const HMODULE kNtdll = ModuleValue(0x7c900000);

// What GetProcAddress hands out for GetSystemWow64DirectoryW; the seam's
// GetSystemWow64DirectoryW recognises it.
LONG_PTR WINAPI Wow64Stub() {
    return 0;
}
// The same for SetDefaultDllDirectories.
LONG_PTR WINAPI DefaultDllDirectoriesStub() {
    return 0;
}

HWND WindowValue(size_t index) {
    return reinterpret_cast<HWND>(0x20000 + 16 * (index + 1));
}

std::optional<size_t> WindowIndex(const std::vector<SimWindow>& windows, HWND hwnd) {
    for (size_t i = 0; i < windows.size(); ++i)
        if (WindowValue(i) == hwnd) return i;
    return std::nullopt;
}

std::vector<BYTE> WideBytes(const std::wstring& text) {
    std::vector<BYTE> bytes(sizeof(WCHAR) * (text.size() + 1));
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

}  // namespace

// ---- Construction -------------------------------------------------------------

SimMachine::SimMachine() : state_(std::make_unique<State>()) {
    SetClassGuids(L"DiskDrive", {kDiskDriveClass});
    SetClassGuids(L"CDROM", {kCdromClass});
    SetClassGuids(L"TapeDrive", {kTapeDriveClass});
    SetClassGuids(L"Volume",
                  {{0x71a27cdd, 0x812a, 0x11d0, {0xbe, 0xc7, 0x08, 0x00, 0x2b, 0xe2, 0x09, 0x2f}}});
    SetClassGuids(L"USB",
                  {{0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}}});
    SetClassGuids(L"HIDClass",
                  {{0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}}});
    SetClassGuids(L"Net",
                  {{0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}});
    SetClassGuids(L"Display",
                  {{0x4d36e968, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}});
    SetClassGuids(L"Keyboard",
                  {{0x4d36e96b, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}});
    SetClassGuids(L"Mouse",
                  {{0x4d36e96f, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}});
    SetClassGuids(L"System",
                  {{0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}});

    auto& m = state_->messages;
    m[1] = L"Incorrect function.\r\n";
    m[2] = L"The system cannot find the file specified.\r\n";
    m[3] = L"The system cannot find the path specified.\r\n";
    m[5] = L"Access is denied.\r\n";
    m[6] = L"The handle is invalid.\r\n";
    m[8] = L"Not enough storage is available to process this command.\r\n";
    m[13] = L"The data is invalid.\r\n";
    m[21] = L"The device is not ready.\r\n";
    m[23] = L"Data error (cyclic redundancy check).\r\n";
    m[31] = L"A device attached to the system is not functioning.\r\n";
    m[32] = L"The process cannot access the file because it is being used by another process.\r\n";
    m[50] = L"The request is not supported.\r\n";
    m[87] = L"The parameter is incorrect.\r\n";
    m[120] = L"This function is not supported on this system.\r\n";
    m[122] = L"The data area passed to a system call is too small.\r\n";
    m[183] = L"Cannot create a file when that file already exists.\r\n";
    m[234] = L"More data is available.\r\n";
    m[259] = L"No more data is available.\r\n";
    m[1117] = L"The request could not be performed because of an I/O device error.\r\n";
    m[1167] = L"The device is not connected.\r\n";

    SetEnvironmentVariable(L"SystemDrive", L"C:");
    SetEnvironmentVariable(L"SystemRoot", L"C:\\WINDOWS");
    SetEnvironmentVariable(L"windir", L"C:\\WINDOWS");
}

SimMachine::~SimMachine() = default;
SimMachine::SimMachine(SimMachine&&) noexcept = default;
SimMachine& SimMachine::operator=(SimMachine&&) noexcept = default;

SimDevice& SimMachine::AddDevice(SimDevice device) {
    if (device.pending) device.present = false;
    devices_.push_back(std::move(device));
    return devices_.back();
}

SimVolume& SimMachine::AddVolume(SimVolume volume) {
    if (volume.pending) volume.present = false;
    volume.letter = static_cast<WCHAR>(std::towupper(static_cast<wint_t>(volume.letter)));
    volumes_.push_back(std::move(volume));
    return volumes_.back();
}

SimDevice* SimMachine::FindDevice(const std::wstring& instanceId) {
    for (size_t i : State::DevicesWithId(*this, instanceId))
        if (!devices_[i].removed) return &devices_[i];
    return nullptr;
}

SimVolume* SimMachine::FindVolume(WCHAR letter) {
    letter = static_cast<WCHAR>(std::towupper(static_cast<wint_t>(letter)));
    for (auto& v : volumes_)
        if (v.present && v.letter != 0 && v.letter == letter) return &v;
    return nullptr;
}

std::wstring SimMachine::InterfacePathFor(const std::wstring& instanceId,
                                          const GUID& interfaceClass) {
    std::wstring path = L"\\\\?\\";
    for (wchar_t c : instanceId)
        path += (c == L'\\') ? L'#' : static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return path + L"#" + sim::GuidText(interfaceClass);
}

SimDevice SimMachine::MakeDisk(const std::wstring& instanceId, const std::wstring& friendlyName,
                               DWORD deviceNumber, DWORD busType, ULONGLONG capacityBytes) {
    SimDevice d;
    d.instanceId = instanceId;
    d.setupClass = L"DiskDrive";
    d.friendlyName = friendlyName;
    d.deviceDesc = L"Disk drive";
    d.hardwareIds =
        std::vector<std::wstring>{instanceId.substr(0, instanceId.rfind(L'\\')), L"GenDisk"};
    d.compatibleIds = std::vector<std::wstring>{};
    d.interfacePath = InterfacePathFor(instanceId, kGuidDevInterfaceDisk);
    d.storage.deviceType = 0;
    d.storage.busType = busType;
    d.storage.removableMedia = busType == BusTypeUsb;
    d.storage.vendor = busType == BusTypeAta ? std::string() : std::string("SIM     ");
    d.storage.product = "SIM DISK        ";
    d.storage.revision = "1.00";
    d.storage.serial = "SIM" + std::to_string(deviceNumber);
    const ULONGLONG cylinderBytes = 255ull * 63 * 512;
    d.storage.geometry.cylinders = static_cast<LONGLONG>(capacityBytes / cylinderBytes);
    d.storage.geometry.mediaType = d.storage.removableMedia ? RemovableMedia : FixedMedia;
    d.storage.mediaDeviceType = FILE_DEVICE_DISK;
    d.storage.media = {SimMediaInfo{d.storage.geometry.mediaType, 0}};
    d.storage.deviceNumber = deviceNumber;
    return d;
}

SimDevice SimMachine::MakeCdrom(const std::wstring& instanceId, const std::wstring& friendlyName,
                                DWORD deviceNumber, DWORD busType) {
    SimDevice d;
    d.instanceId = instanceId;
    d.setupClass = L"CDROM";
    d.friendlyName = friendlyName;
    d.deviceDesc = L"CD-ROM Drive";
    d.hardwareIds = std::vector<std::wstring>{L"GenCdRom"};
    d.interfacePath = InterfacePathFor(instanceId, kGuidDevInterfaceCdrom);
    d.storage.deviceType = 5;
    d.storage.removableMedia = true;
    d.storage.busType = busType;
    d.storage.vendor = "SIM     ";
    d.storage.product = "SIM DVD-ROM     ";
    d.storage.revision = "1.0 ";
    d.storage.geometry = SimGeometry{2295, RemovableMedia, 64, 32, 2048};  // 4.8 GB
    d.storage.mediaDeviceType = FILE_DEVICE_DVD;
    d.storage.media = {SimMediaInfo{0x20 /* DVD_ROM */, 0x10 /* MEDIA_READ_ONLY */}};
    d.storage.deviceNumber = deviceNumber;
    return d;
}

SimDevice SimMachine::MakeTape(const std::wstring& instanceId, const std::wstring& friendlyName,
                               DWORD deviceNumber, DWORD busType) {
    SimDevice d;
    d.instanceId = instanceId;
    d.setupClass = L"TapeDrive";
    d.friendlyName = friendlyName;
    d.deviceDesc = L"Tape drive";
    d.hardwareIds = std::vector<std::wstring>{L"GenSequential"};
    d.interfacePath = InterfacePathFor(instanceId, kGuidDevInterfaceTape);
    d.storage.deviceType = 1;
    d.storage.removableMedia = true;
    d.storage.busType = busType;
    d.storage.vendor = "SIM     ";
    d.storage.product = "SIM TAPE        ";
    d.storage.revision = "0001";
    d.storage.geometry = SimGeometry{0, Unknown, 0, 0, 0};
    d.storage.mediaDeviceType = FILE_DEVICE_TAPE;
    d.storage.media = {SimMediaInfo{0x31 /* DDS_4mm */, 0}};
    d.storage.tapeCapacity = 20ll * 1000 * 1000 * 1000;
    d.storage.deviceNumber = deviceNumber;
    return d;
}

SimVolume SimMachine::MakeVolume(WCHAR letter, DWORD diskNumber, LONGLONG length, UINT driveType) {
    SimVolume v;
    v.letter = letter;
    v.driveType = driveType;
    wchar_t guid[80];
    std::swprintf(guid, 80, L"\\\\?\\Volume{5e1d0c%02x-0000-11d0-b6bf-00a0c91efb8b}\\",
                  static_cast<unsigned>(letter & 0xFF));
    v.guidPath = guid;
    v.extents = {SimExtent{diskNumber, 32256, length}};
    return v;
}

void SimMachine::SetClassGuids(const std::wstring& className, std::vector<GUID> guids) {
    state_->classes[Upper(className)] = std::move(guids);
    state_->classGuidOfName.clear();
}

GUID SimMachine::ClassGuidOf(const std::wstring& className) const {
    if (auto known = state_->classGuidOfName.find(className);
        known != state_->classGuidOfName.end())
        return known->second;
    GUID g{};
    auto it = state_->classes.find(Upper(className));
    if (it != state_->classes.end() && !it->second.empty()) {
        g = it->second.front();
    } else {
        // A stable GUID of its own for a class the table does not know.
        g = GUID{0x51300000, 0x5157, 0x4d00, {0x80, 0, 0, 0, 0, 0, 0, 0}};
        std::uint64_t hash = 1469598103934665603ull;
        for (wchar_t c : Upper(className))
            hash = (hash ^ static_cast<std::uint64_t>(c)) * 1099511628211ull;
        for (int i = 1; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(hash >> (8 * i));
    }
    state_->classGuidOfName.emplace(className, g);
    return g;
}

// ---- Registry helpers ---------------------------------------------------------

std::optional<std::wstring> State::RootName(HKEY root) {
    if (root == HKEY_CURRENT_USER) return std::wstring(L"HKCU");
    if (root == HKEY_LOCAL_MACHINE) return std::wstring(L"HKLM");
    return std::nullopt;
}

std::wstring State::KeyPath(HKEY root, const std::wstring& path) {
    auto name = RootName(root);
    if (!name) return std::wstring();
    return sim::JoinKeyPath(*name, path);
}

bool State::KeyRefusesWrites(const std::wstring& fullPath) const {
    std::wstring p = fullPath;
    while (true) {
        auto it = registry.find(p);
        if (it != registry.end() && it->second.refuseWrites) return true;
        auto cut = p.rfind(L'\\');
        if (cut == std::wstring::npos) return false;
        p.resize(cut);
    }
}

void SimMachine::CreateRegKey(HKEY root, const std::wstring& path) {
    std::wstring full = State::KeyPath(root, path);
    if (full.empty()) return;
    for (size_t at = full.find(L'\\'); at != std::wstring::npos; at = full.find(L'\\', at + 1))
        state_->registry[full.substr(0, at)];
    state_->registry[full];
}

bool SimMachine::RegKeyExists(HKEY root, const std::wstring& path) const {
    std::wstring full = State::KeyPath(root, path);
    return !full.empty() &&
           (full.find(L'\\') == std::wstring::npos || state_->registry.count(full));
}

void SimMachine::DeleteRegKey(HKEY root, const std::wstring& path) {
    std::wstring full = State::KeyPath(root, path);
    if (full.find(L'\\') == std::wstring::npos) return;  // never a root
    auto& reg = state_->registry;
    for (auto it = reg.begin(); it != reg.end();) {
        if (it->first == full || it->first.rfind(full + L"\\", 0) == 0)
            it = reg.erase(it);
        else
            ++it;
    }
}

void SimMachine::SetRegValue(HKEY root, const std::wstring& path, const std::wstring& name,
                             SimRegValue value) {
    CreateRegKey(root, path);
    state_->registry[State::KeyPath(root, path)].values[Upper(name)] = {name, std::move(value)};
}

void SimMachine::SetRegString(HKEY root, const std::wstring& path, const std::wstring& name,
                              const std::wstring& text, DWORD type) {
    SetRegValue(root, path, name, SimRegValue{type, WideBytes(text)});
}

void SimMachine::SetRegMultiString(HKEY root, const std::wstring& path, const std::wstring& name,
                                   const std::vector<std::wstring>& texts) {
    std::wstring block;
    for (const auto& t : texts) block += t + std::wstring(1, L'\0');
    SetRegValue(root, path, name, SimRegValue{REG_MULTI_SZ, WideBytes(block)});
}

void SimMachine::SetRegDword(HKEY root, const std::wstring& path, const std::wstring& name,
                             DWORD value) {
    std::vector<BYTE> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    SetRegValue(root, path, name, SimRegValue{REG_DWORD, bytes});
}

void SimMachine::DeleteRegValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    auto it = state_->registry.find(State::KeyPath(root, path));
    if (it != state_->registry.end()) it->second.values.erase(Upper(name));
}

std::optional<SimRegValue> SimMachine::GetRegValue(HKEY root, const std::wstring& path,
                                                   const std::wstring& name) const {
    auto it = state_->registry.find(State::KeyPath(root, path));
    if (it == state_->registry.end()) return std::nullopt;
    auto v = it->second.values.find(Upper(name));
    if (v == it->second.values.end()) return std::nullopt;
    return v->second.second;
}

std::optional<std::wstring> SimMachine::GetRegString(HKEY root, const std::wstring& path,
                                                     const std::wstring& name) const {
    auto v = GetRegValue(root, path, name);
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) return std::nullopt;
    std::wstring text(v->data.size() / sizeof(WCHAR), L'\0');
    if (!text.empty()) std::memcpy(text.data(), v->data.data(), sizeof(WCHAR) * text.size());
    return text.substr(0, text.find(L'\0'));
}

void SimMachine::SetRegKeyRefusesWrites(HKEY root, const std::wstring& path, bool refuse) {
    CreateRegKey(root, path);
    state_->registry[State::KeyPath(root, path)].refuseWrites = refuse;
}

void SimMachine::SetRegKeyOpenError(HKEY root, const std::wstring& path, DWORD error) {
    CreateRegKey(root, path);
    state_->registry[State::KeyPath(root, path)].openError = error;
}

// ---- Environment, messages, windows, mutexes ----------------------------------

void SimMachine::SetEnvironmentVariable(const std::wstring& name, const std::wstring& value) {
    state_->environment[Upper(name)] = {name, value};
}

void SimMachine::ClearEnvironmentVariable(const std::wstring& name) {
    state_->environment.erase(Upper(name));
}

void SimMachine::SetMessageText(DWORD code, const std::wstring& text) {
    state_->messages[code] = text;
}

HWND SimMachine::AddWindow(SimWindow window) {
    state_->windows.push_back(std::move(window));
    return WindowValue(state_->windows.size() - 1);
}

SimWindow* SimMachine::FindSimWindow(HWND hwnd) {
    auto i = WindowIndex(state_->windows, hwnd);
    return i ? &state_->windows[*i] : nullptr;
}

void SimMachine::AddExistingMutex(const std::wstring& name) {
    state_->mutexes[name] += 1;
}

bool SimMachine::MutexExists(const std::wstring& name) const {
    auto it = state_->mutexes.find(name);
    return it != state_->mutexes.end() && it->second > 0;
}

// ---- Notifications ------------------------------------------------------------

void State::QueueDeviceChange(SimMachine& m, SimDeviceChange change) {
    if (m.deliverDeviceChangesAtOnce) {
        m.deliveredDeviceChanges_.push_back(change);
        if (m.deviceChangeTarget) m.deviceChangeTarget(change.event);
    } else {
        m.queuedDeviceChanges_.push_back(std::move(change));
    }
}

void SimMachine::DeliverDeviceChange(UINT event) {
    SimDeviceChange change;
    change.event = event;
    deliveredDeviceChanges_.push_back(change);
    if (deviceChangeTarget) deviceChangeTarget(event);
}

void SimMachine::PumpMessages() {
    // A handler may raise new notifications; they wait for the next pump.
    std::vector<SimDeviceChange> pending;
    pending.swap(queuedDeviceChanges_);
    for (SimDeviceChange& change : pending) {
        const UINT event = change.event;
        deliveredDeviceChanges_.push_back(std::move(change));
        if (deviceChangeTarget) deviceChangeTarget(event);
    }
}

namespace {

std::vector<UINT> EventsOf(const std::vector<SimDeviceChange>& changes) {
    std::vector<UINT> events;
    events.reserve(changes.size());
    for (const SimDeviceChange& change : changes) events.push_back(change.event);
    return events;
}

}  // namespace

std::vector<UINT> SimMachine::QueuedDeviceChanges() const {
    return EventsOf(queuedDeviceChanges_);
}

std::vector<UINT> SimMachine::DeliveredDeviceChanges() const {
    return EventsOf(deliveredDeviceChanges_);
}

// ---- Accounting ---------------------------------------------------------------

size_t SimMachine::OutstandingHandles() const {
    return state_->handles.size();
}
size_t SimMachine::OutstandingDevInfoSets() const {
    return state_->sets.size();
}
size_t SimMachine::OutstandingKeys() const {
    return state_->keys.size();
}

std::string SimMachine::LeakReport() const {
    std::string report;
    for (const auto& [value, h] : state_->handles) {
        const char* kind = h.kind == State::Kind::Device           ? "device"
                           : h.kind == State::Kind::Volume         ? "volume"
                           : h.kind == State::Kind::Mutex          ? "mutex"
                           : h.kind == State::Kind::Process        ? "process"
                           : h.kind == State::Kind::File           ? "file of another process"
                           : h.kind == State::Kind::Snapshot       ? "process snapshot"
                           : h.kind == State::Kind::Token          ? "token"
                           : h.kind == State::Kind::ServiceManager ? "service manager"
                           : h.kind == State::Kind::Module         ? "library"
                           : h.kind == State::Kind::VirtualDisk    ? "virtual disk"
                           : h.kind == State::Kind::VolumeSearch   ? "volume search"
                                                                   : "thread";
        report += "handle " + sim::Hex(value) + " (" + kind + " " + sim::Narrow(h.what) +
                  ") opened by call " + std::to_string(h.openedByCall) + "\n";
    }
    for (const auto& [value, s] : state_->sets)
        report += "device information set " + sim::Hex(value) + " made by call " +
                  std::to_string(s.openedByCall) + "\n";
    for (const auto& [value, k] : state_->keys)
        report += "registry key " + sim::Hex(value) + " (" + sim::Narrow(k.path) +
                  ") opened by call " + std::to_string(k.openedByCall) + "\n";
    for (const auto& [value, r] : notificationRegistrations_)
        report += "device notification " + sim::Hex(value) + " for " +
                  sim::Narrow(sim::GuidText(r.interfaceClass)) + "\n";
    for (const auto& [value, call] : state_->deviceContexts)
        report += "device context " + sim::Hex(value) + " got by call " + std::to_string(call) +
                  "\n";
    return report + ConsoleLeaks();
}

// ---- Call log and faults ------------------------------------------------------

std::optional<DWORD> State::Counted(SimMachine& m, const char* method) {
    State& s = *m.state_;
    size_t*& counter = s.methodCounterOfLiteral[method];
    if (counter == nullptr) {
        auto counted = s.methodCalls.find(std::string_view(method));
        if (counted == s.methodCalls.end()) counted = s.methodCalls.emplace(method, 0).first;
        counter = &counted->second;
    }
    const size_t nth = ++*counter;
    if (!s.failAtCall.empty())
        if (auto it = s.failAtCall.find(m.callCount_); it != s.failAtCall.end()) return it->second;
    if (!s.failMethod.empty())
        if (auto it = s.failMethod.find({method, nth}); it != s.failMethod.end()) return it->second;
    return std::nullopt;
}

void SimMachine::ForgetHistory() {
    calls_.clear();
    calls_.shrink_to_fit();
    messageBoxes.clear();
    beeps.clear();
    sleeps.clear();
    shellNotices.clear();
    helpCalls.clear();
    debugOutput.clear();
    windowActions.clear();
    mutexCreates.clear();
    deliveredDeviceChanges_.clear();
}

size_t SimMachine::CallCount(const std::string& method) const {
    auto it = state_->methodCalls.find(std::string_view(method));
    return it == state_->methodCalls.end() ? 0 : it->second;
}

void SimMachine::FailCall(size_t n, DWORD error) {
    state_->failAtCall[n] = error;
}

void SimMachine::FailMethod(const std::string& method, size_t occurrence, DWORD error) {
    state_->failMethod[{method, occurrence}] = error;
}

void SimMachine::ClearFailures() {
    state_->failAtCall.clear();
    state_->failMethod.clear();
}

DWORD SimMachine::GetLastError() {
    return state_->lastError;
}
void SimMachine::SetLastError(DWORD dwErrCode) {
    state_->lastError = dwErrCode;
}

// ---- Registry -----------------------------------------------------------------

namespace {

// The full path of an open key or a root; empty when the handle is unknown.
std::wstring OpenKeyPath(const State& s, HKEY key) {
    if (auto root = State::RootName(key)) return *root;
    auto it = s.keys.find(reinterpret_cast<std::uintptr_t>(key));
    return it == s.keys.end() ? std::wstring() : it->second.path;
}

REGSAM OpenKeyAccess(const State& s, HKEY key) {
    if (State::RootName(key)) return KEY_ALL_ACCESS;
    auto it = s.keys.find(reinterpret_cast<std::uintptr_t>(key));
    return it == s.keys.end() ? 0 : it->second.access;
}

std::wstring JoinKey(const std::wstring& base, LPCWSTR sub) {
    return sim::JoinKeyPath(base, sub != nullptr ? sub : L"");
}

bool KeyExists(const State& s, const std::wstring& full) {
    return full.find(L'\\') == std::wstring::npos || s.registry.count(full) > 0;
}

}  // namespace

LSTATUS SimMachine::RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                  PHKEY phkResult) {
    (void)ulOptions;
    if (auto e = State::Enter(*this, "RegOpenKeyExW", [&] { return Quote(lpSubKey); }))
        return static_cast<LSTATUS>(*e);
    State& s = *state_;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::wstring base = OpenKeyPath(s, hKey);
    if (base.empty()) return ERROR_INVALID_HANDLE;
    std::wstring full = JoinKey(base, lpSubKey);
    if (!KeyExists(s, full)) return ERROR_FILE_NOT_FOUND;
    if (auto it = s.registry.find(full); it != s.registry.end() && it->second.openError)
        return static_cast<LSTATUS>(it->second.openError);
    if ((samDesired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) && s.KeyRefusesWrites(full))
        return ERROR_ACCESS_DENIED;
    auto value = s.NewHandleValue();
    s.keys[value] = State::OpenKey{full, samDesired, callCount_};
    *phkResult = reinterpret_cast<HKEY>(value);
    return ERROR_SUCCESS;
}

LSTATUS SimMachine::RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                    DWORD dwOptions, REGSAM samDesired,
                                    const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                    PHKEY phkResult, LPDWORD lpdwDisposition) {
    (void)Reserved, (void)lpClass, (void)dwOptions, (void)lpSecurityAttributes;
    if (auto e = State::Enter(*this, "RegCreateKeyExW", [&] { return Quote(lpSubKey); }))
        return static_cast<LSTATUS>(*e);
    State& s = *state_;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::wstring base = OpenKeyPath(s, hKey);
    if (base.empty()) return ERROR_INVALID_HANDLE;
    if (!State::RootName(hKey) && !(OpenKeyAccess(s, hKey) & KEY_CREATE_SUB_KEY) &&
        !KeyExists(s, JoinKey(base, lpSubKey)))
        return ERROR_ACCESS_DENIED;
    std::wstring full = JoinKey(base, lpSubKey);
    bool exists = KeyExists(s, full);
    if (exists) {
        if (auto it = s.registry.find(full); it != s.registry.end() && it->second.openError)
            return static_cast<LSTATUS>(it->second.openError);
        if ((samDesired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) && s.KeyRefusesWrites(full))
            return ERROR_ACCESS_DENIED;
    } else {
        if (s.KeyRefusesWrites(full)) return ERROR_ACCESS_DENIED;
        for (size_t at = full.find(L'\\'); at != std::wstring::npos; at = full.find(L'\\', at + 1))
            s.registry[full.substr(0, at)];
        s.registry[full];
    }
    auto value = s.NewHandleValue();
    s.keys[value] = State::OpenKey{full, samDesired, callCount_};
    *phkResult = reinterpret_cast<HKEY>(value);
    if (lpdwDisposition) *lpdwDisposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LSTATUS SimMachine::RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                     LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (auto e = State::Enter(*this, "RegQueryValueExW", [&] { return Quote(lpValueName); }))
        return static_cast<LSTATUS>(*e);
    State& s = *state_;
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    std::wstring path = OpenKeyPath(s, hKey);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (!(OpenKeyAccess(s, hKey) & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    auto key = s.registry.find(path);
    if (key == s.registry.end()) return ERROR_FILE_NOT_FOUND;
    auto it = key->second.values.find(Upper(FromPtr(lpValueName)));
    if (it == key->second.values.end()) return ERROR_FILE_NOT_FOUND;
    const SimRegValue& v = it->second.second;
    const DWORD size = static_cast<DWORD>(v.data.size());
    if (lpType) *lpType = v.type;
    if (!lpData) {
        if (lpcbData) *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(lpData, v.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS SimMachine::RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                   const BYTE* lpData, DWORD cbData) {
    (void)Reserved;
    if (auto e = State::Enter(*this, "RegSetValueExW", [&] { return Quote(lpValueName); }))
        return static_cast<LSTATUS>(*e);
    State& s = *state_;
    std::wstring path = OpenKeyPath(s, hKey);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (!(OpenKeyAccess(s, hKey) & KEY_SET_VALUE) || s.KeyRefusesWrites(path))
        return ERROR_ACCESS_DENIED;
    if (!lpData && cbData) return ERROR_NOACCESS;
    auto key = s.registry.find(path);
    if (key == s.registry.end()) return ERROR_FILE_NOT_FOUND;
    std::wstring name = FromPtr(lpValueName);
    key->second.values[Upper(name)] = {
        name, SimRegValue{dwType, std::vector<BYTE>(lpData, lpData + cbData)}};
    return ERROR_SUCCESS;
}

LSTATUS SimMachine::RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    if (auto e = State::Enter(*this, "RegDeleteValueW", [&] { return Quote(lpValueName); }))
        return static_cast<LSTATUS>(*e);
    State& s = *state_;
    std::wstring path = OpenKeyPath(s, hKey);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (!(OpenKeyAccess(s, hKey) & KEY_SET_VALUE) || s.KeyRefusesWrites(path))
        return ERROR_ACCESS_DENIED;
    auto key = s.registry.find(path);
    if (key == s.registry.end() || !key->second.values.erase(Upper(FromPtr(lpValueName))))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

LSTATUS SimMachine::RegCloseKey(HKEY hKey) {
    if (auto e = State::Enter(*this, "RegCloseKey",
                              [&] { return sim::Hex(reinterpret_cast<std::uintptr_t>(hKey)); }))
        return static_cast<LSTATUS>(*e);
    if (State::RootName(hKey)) return ERROR_SUCCESS;
    if (!state_->keys.erase(reinterpret_cast<std::uintptr_t>(hKey))) {
        State::ProgramError(*this, "RegCloseKey on an unknown or closed key " +
                                       sim::Hex(reinterpret_cast<std::uintptr_t>(hKey)));
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

// ---- Environment and text -----------------------------------------------------

DWORD SimMachine::ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
    if (auto e = State::Enter(*this, "ExpandEnvironmentStringsW", [&] { return Quote(lpSrc); })) {
        SetLastError(*e);
        return 0;
    }
    if (!lpSrc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring src = lpSrc, out;
    for (size_t i = 0; i < src.size();) {
        size_t close = src[i] == L'%' ? src.find(L'%', i + 1) : std::wstring::npos;
        if (close != std::wstring::npos) {
            auto it = state_->environment.find(Upper(src.substr(i + 1, close - i - 1)));
            if (it != state_->environment.end()) {
                out += it->second.second;
                i = close + 1;
                continue;
            }
            // Unknown: the text up to the second '%' stays as it is, which may
            // open the next reference.
            out += src.substr(i, close - i);
            i = close;
            continue;
        }
        out += src[i++];
    }
    const DWORD required = static_cast<DWORD>(out.size() + 1);
    if (lpDst && nSize >= required) std::memcpy(lpDst, out.c_str(), sizeof(WCHAR) * required);
    return required;
}

DWORD SimMachine::GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
    if (auto e = State::Enter(*this, "GetEnvironmentVariableW", [&] { return Quote(lpName); })) {
        SetLastError(*e);
        return 0;
    }
    auto it = state_->environment.find(Upper(FromPtr(lpName)));
    if (!lpName || it == state_->environment.end()) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const std::wstring& value = it->second.second;
    if (!lpBuffer || nSize < value.size() + 1) return static_cast<DWORD>(value.size() + 1);
    sim::CopyWithNul(value, lpBuffer, nSize);
    return static_cast<DWORD>(value.size());
}

DWORD SimMachine::FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                 DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize) {
    (void)lpSource, (void)dwLanguageId;
    if (auto e =
            State::Enter(*this, "FormatMessageW", [&] { return std::to_string(dwMessageId); })) {
        SetLastError(*e);
        return 0;
    }
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) ||
        !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto it = state_->messages.find(dwMessageId);
    if (it == state_->messages.end()) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    if (!sim::CopyWithNul(it->second, lpBuffer, nSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<DWORD>(it->second.size());
}

void SimMachine::OutputDebugStringW(LPCWSTR lpOutputString) {
    if (State::Enter(*this, "OutputDebugStringW", [&] { return Quote(lpOutputString); })) return;
    debugOutput.push_back(FromPtr(lpOutputString));
}

int SimMachine::MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                    int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    (void)CodePage, (void)dwFlags;
    if (auto e = State::Enter(*this, "MultiByteToWideChar",
                              [&] { return std::to_string(cbMultiByte); })) {
        SetLastError(*e);
        return 0;
    }
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The ANSI page is taken as Latin-1: every byte is one character.
    size_t count =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    if (cchWideChar == 0) return static_cast<int>(count);
    for (size_t i = 0; i < count; ++i) {
        if (i == static_cast<size_t>(cchWideChar)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        lpWideCharStr[i] = static_cast<WCHAR>(static_cast<unsigned char>(lpMultiByteStr[i]));
    }
    return static_cast<int>(count);
}

DWORD SimMachine::CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) {
    if (auto e = State::Enter(*this, "CharUpperBuffW", [&] { return std::to_string(cchLength); })) {
        SetLastError(*e);
        return 0;
    }
    if (!lpsz) return 0;
    for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = sim::UpperChar(lpsz[i]);
    return cchLength;
}

// ---- Process objects and other windows ----------------------------------------

BOOL SimMachine::InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                              DWORD dwRevision) {
    if (auto e = State::Enter(*this, "InitializeSecurityDescriptor",
                              [&] { return std::to_string(dwRevision); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    if (!pSecurityDescriptor) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    SECURITY_DESCRIPTOR sd{};
    sd.Revision = SECURITY_DESCRIPTOR_REVISION;
    std::memcpy(pSecurityDescriptor, &sd, sizeof sd);
    return TRUE;
}

BOOL SimMachine::SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                           BOOL bDaclPresent, PACL pDacl, BOOL bDaclDefaulted) {
    (void)bDaclDefaulted;
    if (auto e = State::Enter(*this, "SetSecurityDescriptorDacl", [&] {
            return std::string(bDaclPresent ? "present" : "absent") + (pDacl ? " dacl" : " null");
        })) {
        SetLastError(*e);
        return FALSE;
    }
    auto* sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    if (!sd || sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (bDaclPresent)
        sd->Control = static_cast<WORD>(sd->Control | SE_DACL_PRESENT);
    else
        sd->Control = static_cast<WORD>(sd->Control & ~SE_DACL_PRESENT);
    sd->Dacl = bDaclPresent ? pDacl : nullptr;
    return TRUE;
}

HANDLE SimMachine::CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                                LPCWSTR lpName) {
    if (auto e = State::Enter(*this, "CreateMutexW", [&] { return Quote(lpName); })) {
        SetLastError(*e);
        return nullptr;
    }
    SimMutexCreate record{FromPtr(lpName), bInitialOwner, lpMutexAttributes != nullptr, false};
    if (lpMutexAttributes && lpMutexAttributes->lpSecurityDescriptor) {
        const auto* sd =
            static_cast<const SECURITY_DESCRIPTOR*>(lpMutexAttributes->lpSecurityDescriptor);
        record.nullDacl = (sd->Control & SE_DACL_PRESENT) && sd->Dacl == nullptr;
    }
    mutexCreates.push_back(record);
    if (mutexCreateError) {
        SetLastError(mutexCreateError);
        return nullptr;
    }
    std::wstring name = FromPtr(lpName);
    bool existed = !name.empty() && MutexExists(name);
    if (!name.empty()) state_->mutexes[name] += 1;
    auto value = state_->NewHandleValue();
    State::OpenHandle handle;
    handle.kind = State::Kind::Mutex;
    handle.what = name;
    handle.openedByCall = callCount_;
    state_->handles[value] = handle;
    if (bInitialOwner && !existed && !name.empty()) WaitForMutex(value, name, 0);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(value);
}

HWND SimMachine::FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
    if (auto e = State::Enter(*this, "FindWindowW",
                              [&] { return Quote(lpClassName) + " " + Quote(lpWindowName); })) {
        SetLastError(*e);
        return nullptr;
    }
    const auto& windows = state_->windows;
    for (size_t i = 0; i < windows.size(); ++i) {
        // Top-level windows of other sessions live on desktops of their own.
        if (windows[i].sessionId != ownSessionId) continue;
        if (lpClassName && !sim::EqualNoCase(windows[i].className, lpClassName)) continue;
        if (lpWindowName && windows[i].title != lpWindowName) continue;
        return WindowValue(i);
    }
    return nullptr;
}

BOOL SimMachine::IsIconic(HWND hWnd) {
    if (auto e = State::Enter(*this, "IsIconic",
                              [&] { return sim::Hex(reinterpret_cast<std::uintptr_t>(hWnd)); })) {
        SetLastError(*e);
        return FALSE;
    }
    SimWindow* w = FindSimWindow(hWnd);
    return w && w->iconic;
}

BOOL SimMachine::ShowWindow(HWND hWnd, int nCmdShow) {
    if (auto e = State::Enter(*this, "ShowWindow", [&] { return std::to_string(nCmdShow); })) {
        SetLastError(*e);
        return FALSE;
    }
    windowActions.push_back({"ShowWindow", hWnd, nCmdShow});
    SimWindow* w = FindSimWindow(hWnd);
    if (!w) return FALSE;
    BOOL wasVisible = w->visible;
    if (nCmdShow == SW_RESTORE) w->iconic = false;
    w->visible = nCmdShow != 0;
    return wasVisible;
}

HWND SimMachine::GetLastActivePopup(HWND hWnd) {
    if (auto e = State::Enter(*this, "GetLastActivePopup",
                              [&] { return sim::Hex(reinterpret_cast<std::uintptr_t>(hWnd)); })) {
        SetLastError(*e);
        return nullptr;
    }
    windowActions.push_back({"GetLastActivePopup", hWnd, 0});
    SimWindow* w = FindSimWindow(hWnd);
    if (!w) return nullptr;
    return w->lastActivePopup ? w->lastActivePopup : hWnd;
}

BOOL SimMachine::BringWindowToTop(HWND hWnd) {
    if (auto e = State::Enter(*this, "BringWindowToTop",
                              [&] { return sim::Hex(reinterpret_cast<std::uintptr_t>(hWnd)); })) {
        SetLastError(*e);
        return FALSE;
    }
    windowActions.push_back({"BringWindowToTop", hWnd, 0});
    return FindSimWindow(hWnd) != nullptr;
}

BOOL SimMachine::SetForegroundWindow(HWND hWnd) {
    if (auto e = State::Enter(*this, "SetForegroundWindow",
                              [&] { return sim::Hex(reinterpret_cast<std::uintptr_t>(hWnd)); })) {
        SetLastError(*e);
        return FALSE;
    }
    windowActions.push_back({"SetForegroundWindow", hWnd, 0});
    return FindSimWindow(hWnd) != nullptr;
}

HMODULE SimMachine::GetModuleHandleW(LPCWSTR lpModuleName) {
    if (auto e = State::Enter(*this, "GetModuleHandleW", [&] { return Quote(lpModuleName); })) {
        SetLastError(*e);
        return nullptr;
    }
    if (!lpModuleName) return kOwnModule;
    std::wstring name = Upper(lpModuleName);
    if ((name == L"KERNEL32" || name == L"KERNEL32.DLL") && !kernel32Missing) return kKernel32;
    if (name == L"NTDLL" || name == L"NTDLL.DLL") return kNtdll;
    if (name == L"USER32" || name == L"USER32.DLL") return sim::kUser32Module;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC SimMachine::GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (auto e = State::Enter(*this, "GetProcAddress",
                              [&] { return lpProcName ? lpProcName : "null"; })) {
        SetLastError(*e);
        return nullptr;
    }
    if (hModule == kKernel32 && lpProcName &&
        std::string(lpProcName) == "GetSystemWow64DirectoryW" &&
        edition != SimEdition::FunctionMissing)
        return reinterpret_cast<FARPROC>(&Wow64Stub);
    if (hModule == kNtdll && lpProcName && handleTable != SimHandleTable::Missing) {
        if (FARPROC procedure = sim::NativeProcedure(lpProcName)) return procedure;
    }
    if (hModule == kKernel32 && lpProcName &&
        std::string(lpProcName) == "SetDefaultDllDirectories" && !defaultDllDirectoriesMissing)
        return reinterpret_cast<FARPROC>(&DefaultDllDirectoriesStub);
    if (hModule == kKernel32 && lpProcName &&
        std::string(lpProcName) == "GetFinalPathNameByHandleW" && !finalPathMissing)
        return sim::FinalPathProcedure();
    if (FARPROC procedure = State::VirtualDiskProcedure(*this, hModule, lpProcName))
        return procedure;
    if (hModule == sim::kUser32Module && lpProcName) {
        if (FARPROC procedure = sim::DisplayProcedure(*this, lpProcName)) return procedure;
    }
    SetLastError(hModule == kKernel32 || hModule == kOwnModule || hModule == kNtdll ||
                         hModule == sim::kUser32Module || State::IsLoadedLibrary(*this, hModule)
                     ? ERROR_PROC_NOT_FOUND
                     : ERROR_INVALID_HANDLE);
    return nullptr;
}

UINT SimMachine::GetSystemWow64DirectoryW(FARPROC procedure, LPWSTR lpBuffer, UINT uSize) {
    if (auto e = State::Enter(*this, "GetSystemWow64DirectoryW",
                              [&] { return std::to_string(uSize); })) {
        SetLastError(*e);
        return 0;
    }
    if (procedure != reinterpret_cast<FARPROC>(&Wow64Stub)) {
        State::ProgramError(*this,
                            "GetSystemWow64DirectoryW called through a procedure "
                            "GetProcAddress did not return");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    switch (edition) {
        case SimEdition::Bits32:
        case SimEdition::FunctionMissing:
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return 0;
        case SimEdition::QueryFails:
            SetLastError(wow64Error);
            return 0;
        case SimEdition::Bits64:
            break;
    }
    if (!lpBuffer || uSize < wow64Directory.size() + 1)
        return static_cast<UINT>(wow64Directory.size() + 1);
    sim::CopyWithNul(wow64Directory, lpBuffer, uSize);
    return static_cast<UINT>(wow64Directory.size());
}

BOOL SimMachine::SetDllDirectoryW(LPCWSTR lpPathName) {
    if (auto e = State::Enter(*this, "SetDllDirectoryW", [&] { return Quote(lpPathName); })) {
        SetLastError(*e);
        return FALSE;
    }
    dllDirectories.push_back(lpPathName ? std::optional<std::wstring>(lpPathName) : std::nullopt);
    return TRUE;
}

BOOL SimMachine::SetDefaultDllDirectories(FARPROC procedure, DWORD DirectoryFlags) {
    if (auto e = State::Enter(*this, "SetDefaultDllDirectories",
                              [&] { return sim::Hex(DirectoryFlags); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (procedure != reinterpret_cast<FARPROC>(&DefaultDllDirectoriesStub)) {
        State::ProgramError(*this,
                            "SetDefaultDllDirectories called through a procedure "
                            "GetProcAddress did not return");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Windows takes only a non-empty set of the search flags.
    constexpr DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                                   LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                                   LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                                   LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    if (DirectoryFlags == 0 || (DirectoryFlags & ~kSearchFlags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    defaultDllDirectories.push_back(DirectoryFlags);
    return TRUE;
}

DWORD SimMachine::GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    if (auto e = State::Enter(*this, "GetModuleFileNameW", [&] { return std::to_string(nSize); })) {
        SetLastError(*e);
        return 0;
    }
    if (hModule && hModule != kOwnModule) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (modulePath.size() + 1 > nSize) {
        // Truncated and terminated, as Windows Vista and later do.
        std::memcpy(lpFilename, modulePath.c_str(), sizeof(WCHAR) * (nSize - 1));
        lpFilename[nSize - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    sim::CopyWithNul(modulePath, lpFilename, nSize);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(modulePath.size());
}

void SimMachine::InitCommonControls() {
    if (State::Enter(*this, "InitCommonControls", [&] { return ""; })) return;
    ++initCommonControlsCalls;
}

// ---- User feedback and the shell ----------------------------------------------

int SimMachine::MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    if (auto e = State::Enter(*this, "MessageBoxW", [&] { return Quote(lpText); })) {
        SetLastError(*e);
        return 0;
    }
    SimMessageBox box{hWnd, FromPtr(lpText), FromPtr(lpCaption), uType};
    messageBoxes.push_back(box);
    // The box's own message loop runs: queued notifications arrive now.
    PumpMessages();
    if (messageBoxHook) {
        if (int answer = messageBoxHook(box)) return answer;
    }
    if (!messageBoxAnswers.empty()) {
        int answer = messageBoxAnswers.front();
        messageBoxAnswers.pop_front();
        return answer;
    }
    // Unanswered, the box takes its default button, as Enter would.
    std::vector<int> buttons;
    switch (uType & MB_TYPEMASK) {
        case MB_OKCANCEL:
            buttons = {IDOK, IDCANCEL};
            break;
        case MB_ABORTRETRYIGNORE:
            buttons = {IDABORT, IDRETRY, IDIGNORE};
            break;
        case MB_YESNOCANCEL:
            buttons = {IDYES, IDNO, IDCANCEL};
            break;
        case MB_YESNO:
            buttons = {IDYES, IDNO};
            break;
        case MB_RETRYCANCEL:
            buttons = {IDRETRY, IDCANCEL};
            break;
        case MB_CANCELTRYCONTINUE:
            buttons = {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
            break;
        default:
            buttons = {IDOK};
            break;
    }
    const size_t defaultButton = (uType >> 8) & 0x0F;  // MB_DEFBUTTON1 to 4
    return defaultButton < buttons.size() ? buttons[defaultButton] : buttons[0];
}

BOOL SimMachine::MessageBeep(UINT uType) {
    if (auto e = State::Enter(*this, "MessageBeep", [&] { return std::to_string(uType); })) {
        SetLastError(*e);
        return FALSE;
    }
    beeps.push_back(uType);
    return TRUE;
}

void SimMachine::Sleep(DWORD dwMilliseconds) {
    if (State::Enter(*this, "Sleep", [&] { return std::to_string(dwMilliseconds); })) return;
    sleeps.push_back(dwMilliseconds);
    tickCount += dwMilliseconds;
}

void SimMachine::SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2) {
    (void)dwItem2;
    std::wstring path;
    if ((uFlags & 0xFF) == SHCNF_PATHW && dwItem1) path = static_cast<LPCWSTR>(dwItem1);
    if (State::Enter(*this, "SHChangeNotify",
                     [&] { return std::to_string(wEventId) + " " + sim::Narrow(path); }))
        return;
    shellNotices.push_back({wEventId, uFlags, path});
}

HWND SimMachine::HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) {
    if (auto e = State::Enter(*this, "HtmlHelpW",
                              [&] { return Quote(pszFile) + " " + std::to_string(dwData); })) {
        SetLastError(*e);
        return nullptr;
    }
    helpCalls.push_back({hwndCaller, FromPtr(pszFile), uCommand, dwData});
    if (htmlHelpFails) return nullptr;
    return reinterpret_cast<HWND>(0x30000);
}
