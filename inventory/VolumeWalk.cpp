#include "inventory/VolumeWalk.h"

#include "inventory/Probe.h"
#include "platform/Owners.h"
#include "platform/Text.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Volume GUID paths (49 characters) in buffers the size of the record's field.
constexpr DWORD kGuidPathChars = kVolumeNameChars;
constexpr DWORD kDosDeviceChars = 1024;
// A volume's mount points normally take a few hundred characters; a list
// said to need more than this is not believed.
constexpr DWORD kMaxPathNamesChars = 64 * 1024;

struct FoundVolume {
    std::wstring name;  // GUID path with its trailing backslash
    VolumeMounts mounts;
    bool lettered = false;  // one of its mount points is a drive letter's root
    bool attached = false;  // the letter walk took it
};

std::wstring Folded(const std::wstring& text) {
    std::wstring folded = text;
    for (WCHAR& c : folded) c = FoldCase(c);
    return folded;
}

bool IsDriveRoot(const std::wstring& path) {
    return path.size() == 3 && path[1] == L':' && path[2] == L'\\';
}

// The volume's mount points: a drive letter's root marks it as lettered (the
// letter walk attaches it), the rest are its folders. A list that cannot be
// read leaves the volume without folders.
void ReadMountPoints(Platform& platform, FoundVolume& volume) {
    DWORD capacity = 256;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Two spare NULs end the list inside the buffer whatever comes back.
        std::vector<WCHAR> buffer(static_cast<std::size_t>(capacity) + 2, L'\0');
        DWORD needed = 0;
        if (platform.GetVolumePathNamesForVolumeNameW(volume.name.c_str(), buffer.data(), capacity,
                                                      &needed)) {
            for (const WCHAR* path = buffer.data(); *path != L'\0'; path += TextLength(path) + 1) {
                const std::wstring text = path;
                if (IsDriveRoot(text))
                    volume.lettered = true;
                else
                    volume.mounts.folders.push_back(text);
            }
            return;
        }
        // The list grew, or was longer than thought: ask again with its size.
        if (platform.GetLastError() != ERROR_MORE_DATA || needed <= capacity ||
            needed > kMaxPathNamesChars)
            return;
        capacity = needed;
    }
}

std::vector<FoundVolume> FindVolumes(Platform& platform) {
    std::vector<FoundVolume> found;
    WCHAR name[kGuidPathChars] = {};
    UniqueVolumeSearch search(platform, platform.FindFirstVolumeW(name, kGuidPathChars));
    if (!search) return found;
    do {
        name[kGuidPathChars - 1] = L'\0';
        FoundVolume volume;
        volume.name = name;
        found.push_back(std::move(volume));
    } while (platform.FindNextVolumeW(search.Get(), name, kGuidPathChars));
    search.Reset();
    for (FoundVolume& volume : found) ReadMountPoints(platform, volume);
    return found;
}

// A floppy drive spins up when its volume is asked about. A letter whose
// device cannot be told is left alone, as A: and B: always were.
bool IsFloppyDrive(Platform& platform, WCHAR letter) {
    const WCHAR device[] = {letter, L':', L'\0'};
    WCHAR target[kDosDeviceChars] = {};
    if (platform.QueryDosDeviceW(device, target, kDosDeviceChars) == 0) return true;
    target[kDosDeviceChars - 1] = L'\0';
    const WCHAR floppy[] = L"\\Device\\Floppy";
    return CompareTextNoCaseN(target, floppy, TextLength(floppy)) == 0;
}

bool TypeIsProbed(UINT type, bool ignoreCdrom) {
    return type == DRIVE_REMOVABLE || type == DRIVE_FIXED || (type == DRIVE_CDROM && !ignoreCdrom);
}

std::wstring WithoutTrailingBackslash(std::wstring name) {
    if (!name.empty() && name.back() == L'\\') name.pop_back();
    return name;
}

}  // namespace

void AttachVolumes(Platform& platform, DriveTable& table, bool ignoreCdrom) {
    std::vector<FoundVolume> volumes = FindVolumes(platform);
    std::unordered_map<std::wstring, std::size_t> byName;
    for (std::size_t i = 0; i < volumes.size(); ++i) byName.emplace(Folded(volumes[i].name), i);

    const DWORD needed = platform.GetLogicalDriveStringsW(0, nullptr);
    // Zeroed with a spare character: the list always ends in two NULs inside
    // the buffer, even if the drives changed between the two calls.
    std::vector<WCHAR> roots(static_cast<std::size_t>(needed) + 2, L'\0');
    const DWORD written = platform.GetLogicalDriveStringsW(needed + 1, roots.data());
    if (written == 0 || written > needed + 1) roots.assign(roots.size(), L'\0');
    roots.back() = L'\0';
    roots[roots.size() - 2] = L'\0';

    // Letters first, in letter order, so a device's letters keep the order
    // the list has always shown.
    for (const WCHAR* root = roots.data(); root[0] != L'\0'; root += TextLength(root) + 1) {
        if ((root[0] == L'A' || root[0] == L'B') && IsFloppyDrive(platform, root[0])) continue;
        if (!TypeIsProbed(platform.GetDriveTypeW(root), ignoreCdrom)) continue;
        WCHAR volumeName[kGuidPathChars] = {};
        if (!platform.GetVolumeNameForVolumeMountPointW(root, volumeName, kGuidPathChars)) continue;
        volumeName[kGuidPathChars - 1] = L'\0';
        VolumeMounts mounts{root[0], {}};
        // The volume search knows the folders it is also mounted in; a letter
        // it did not list (a volume the mount manager does not know) has none.
        if (auto it = byName.find(Folded(volumeName)); it != byName.end()) {
            volumes[it->second].attached = true;
            mounts.folders = volumes[it->second].mounts.folders;
        }
        ProbeVolume(platform, table, mounts, WithoutTrailingBackslash(volumeName).c_str());
    }

    // Then the volumes without a letter, in the order the search gave them.
    for (const FoundVolume& volume : volumes) {
        if (volume.lettered || volume.attached) continue;
        if (!TypeIsProbed(platform.GetDriveTypeW(volume.name.c_str()), ignoreCdrom)) continue;
        ProbeVolume(platform, table, volume.mounts, WithoutTrailingBackslash(volume.name).c_str());
    }
}
