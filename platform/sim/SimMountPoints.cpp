// The simulated volumes as the mount manager lists them: the volume search,
// each volume's mount points (its letter's root and the folders it is mounted
// in), the device a drive letter stands for, and which volume a path or an
// open file lies on.
#include "platform/sim/SimInternal.h"

using sim::Quote;
using State = SimMachine::State;

namespace {

std::string HandleText(HANDLE h) {
    return sim::Hex(reinterpret_cast<std::uintptr_t>(h));
}

bool IsLetterRoot(std::wstring_view path) {
    return (path.size() == 2 || (path.size() == 3 && path[2] == L'\\')) && path[1] == L':';
}

// The volume's mount points as GetVolumePathNamesForVolumeNameW lists them:
// the letter's root first, then the folders.
std::wstring PathNamesOf(const SimVolume& v) {
    std::wstring block;
    if (v.letter != 0) block += std::wstring{v.letter, L':', L'\\', L'\0'};
    for (const std::wstring& folder : v.mountFolders) {
        block += folder;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

// The volume search a handle stands for; null, with the misuse recorded and
// the error set, for any other handle.
SimMachine::State::OpenHandle* SearchOf(SimMachine& m, SimMachine::State& s, HANDLE handle,
                                        const char* method) {
    auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it != s.handles.end() && it->second.kind == State::Kind::VolumeSearch) return &it->second;
    State::ProgramError(
        m, std::string(method) + " on what is not a volume search " + HandleText(handle));
    m.SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

// A letter that is not a mount point (a SUBST letter) is not a volume.
bool Listed(const SimVolume& v) {
    return v.present && !v.guidPath.empty() && v.mountPointError == 0;
}

}  // namespace

std::optional<size_t> State::VolumeOfMountPoint(const SimMachine& m, std::wstring_view path) {
    const bool root = IsLetterRoot(path);
    for (size_t i = 0; i < m.volumes_.size(); ++i) {
        const SimVolume& v = m.volumes_[i];
        if (!v.present) continue;
        if (root && v.letter != 0 && sim::UpperChar(path[0]) == v.letter) return i;
        if (!v.guidPath.empty() && sim::EqualNoCase(path, v.guidPath)) return i;
        for (const std::wstring& folder : v.mountFolders)
            if (sim::EqualNoCase(path, folder)) return i;
    }
    return std::nullopt;
}

std::optional<size_t> State::VolumeOfFile(const SimMachine& m, WCHAR letter,
                                          std::wstring_view path) {
    const std::wstring full = std::wstring{letter, L':'} + std::wstring(path);
    std::optional<size_t> found;
    size_t deepest = 0;
    for (size_t i = 0; i < m.volumes_.size(); ++i) {
        const SimVolume& v = m.volumes_[i];
        if (!v.present) continue;
        for (const std::wstring& folder : v.mountFolders) {
            if (folder.size() <= deepest || full.size() < folder.size() ||
                !sim::EqualNoCase(std::wstring_view(full).substr(0, folder.size()), folder))
                continue;
            found = i;
            deepest = folder.size();
        }
    }
    if (found) return found;
    return VolumeOfMountPoint(m, std::wstring{letter, L':'});
}

bool State::VolumeHeld(const SimMachine& m, size_t volume) {
    for (const auto& p : m.processes_)
        for (const auto& f : p.files)
            if (!f.pipe && VolumeOfFile(m, f.letter, f.path) == volume) return true;
    return false;
}

HANDLE SimMachine::FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength) {
    if (auto e = State::Enter(*this, "FindFirstVolumeW",
                              [&] { return std::to_string(cchBufferLength); })) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    State::OpenHandle search;
    search.kind = State::Kind::VolumeSearch;
    search.what = L"of FindFirstVolumeW";
    search.openedByCall = callCount_;
    for (size_t i = 0; i < volumes_.size(); ++i)
        if (Listed(volumes_[i])) search.volumes.push_back(i);
    if (search.volumes.empty()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return INVALID_HANDLE_VALUE;
    }
    if (!sim::CopyWithNul(volumes_[search.volumes[0]].guidPath, lpszVolumeName, cchBufferLength)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    search.index = 1;
    const auto value = state_->NewHandleValue();
    state_->handles[value] = std::move(search);
    return reinterpret_cast<HANDLE>(value);
}

BOOL SimMachine::FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName, DWORD cchBufferLength) {
    if (auto e = State::Enter(*this, "FindNextVolumeW", [&] { return HandleText(hFindVolume); })) {
        SetLastError(*e);
        return FALSE;
    }
    State::OpenHandle* found = SearchOf(*this, *state_, hFindVolume, "FindNextVolumeW");
    if (found == nullptr) return FALSE;
    State::OpenHandle& search = *found;
    if (search.index >= search.volumes.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    // The list was taken when the search began; a name too long for the
    // buffer stays next.
    if (!sim::CopyWithNul(volumes_[search.volumes[search.index]].guidPath, lpszVolumeName,
                          cchBufferLength)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    ++search.index;
    return TRUE;
}

BOOL SimMachine::FindVolumeClose(HANDLE hFindVolume) {
    if (auto e = State::Enter(*this, "FindVolumeClose", [&] { return HandleText(hFindVolume); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (SearchOf(*this, *state_, hFindVolume, "FindVolumeClose") == nullptr) return FALSE;
    state_->handles.erase(reinterpret_cast<std::uintptr_t>(hFindVolume));
    return TRUE;
}

BOOL SimMachine::GetVolumePathNamesForVolumeNameW(LPCWSTR lpszVolumeName,
                                                  LPWSTR lpszVolumePathNames, DWORD cchBufferLength,
                                                  PDWORD lpcchReturnLength) {
    if (auto e = State::Enter(*this, "GetVolumePathNamesForVolumeNameW",
                              [&] { return Quote(lpszVolumeName); })) {
        SetLastError(*e);
        return FALSE;
    }
    const std::wstring name = sim::FromPtr(lpszVolumeName);
    // Only a volume's GUID path, with its trailing backslash, names a volume here.
    if (name.rfind(L"\\\\?\\Volume{", 0) != 0 || name.back() != L'\\') {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    const std::optional<size_t> volume = State::VolumeOfMountPoint(*this, name);
    if (!volume || !Listed(volumes_[*volume])) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const std::wstring block = PathNamesOf(volumes_[*volume]);
    const auto needed = static_cast<DWORD>(block.size());
    if (lpcchReturnLength != nullptr) *lpcchReturnLength = needed;
    if (lpszVolumePathNames == nullptr || cchBufferLength < needed) {
        // As much of the list as fits, cut anywhere: only the size may be used.
        if (lpszVolumePathNames != nullptr)
            std::memcpy(lpszVolumePathNames, block.data(), sizeof(WCHAR) * cchBufferLength);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    std::memcpy(lpszVolumePathNames, block.data(), sizeof(WCHAR) * needed);
    return TRUE;
}

DWORD SimMachine::QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) {
    if (auto e = State::Enter(*this, "QueryDosDeviceW", [&] { return Quote(lpDeviceName); })) {
        SetLastError(*e);
        return 0;
    }
    const std::wstring name = sim::FromPtr(lpDeviceName);
    // Only drive letters are modelled; "X:" without a backslash.
    const std::optional<size_t> volume =
        name.size() == 2 ? State::VolumeOfMountPoint(*this, name) : std::nullopt;
    if (!volume || volumes_[*volume].letter == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    const SimVolume& v = volumes_[*volume];
    std::wstring target = v.ntDeviceName;
    if (target.empty())
        target = (v.driveType == DRIVE_CDROM ? L"\\Device\\CdRom" : L"\\Device\\HarddiskVolume") +
                 std::to_wstring(*volume + 1);
    // One target, then the empty string that ends the list.
    target += L'\0';
    if (lpTargetPath == nullptr || ucchMax < target.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpTargetPath, target.c_str(), sizeof(WCHAR) * (target.size() + 1));
    return static_cast<DWORD>(target.size() + 1);
}
