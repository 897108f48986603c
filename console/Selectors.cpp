#include "console/Selectors.h"

#include "platform/Text.h"

#include <cwchar>

namespace {

constexpr DWORD kMountPointVolumeChars = 200;
constexpr DWORD kLabelChars = MAX_PATH + 1;

bool SameNoCase(const std::wstring& a, const wchar_t* field, std::size_t fieldChars) {
    const std::size_t length = wcsnlen(field, fieldChars);
    return a.size() == length && CompareTextNoCaseN(a.c_str(), field, length) == 0;
}

bool HasVolume(const DriveRecord& record, const std::wstring& volumeName) {
    for (int i = 0;; ++i) {
        const wchar_t* name = record.GetVolumeName(i);
        if (name == nullptr || name[0] == L'\0') return false;
        if (SameNoCase(volumeName, name, kVolumeNameChars)) return true;
    }
}

// The volume mounted in a folder, as the inventory names volumes (no
// trailing backslash); empty when the folder is no mount point.
std::wstring VolumeAt(Platform& platform, const std::wstring& mountPoint) {
    WCHAR volume[kMountPointVolumeChars] = {};
    if (!platform.GetVolumeNameForVolumeMountPointW(mountPoint.c_str(), volume,
                                                    kMountPointVolumeChars))
        return std::wstring();
    volume[kMountPointVolumeChars - 1] = L'\0';
    std::wstring name(volume);
    if (!name.empty() && name.back() == L'\\') name.pop_back();
    return name;
}

bool HasLabel(Platform& platform, const DriveRecord& record, const std::wstring& label) {
    for (int i = 0;; ++i) {
        const wchar_t* name = record.GetVolumeName(i);
        if (name == nullptr || name[0] == L'\0') return false;
        const std::wstring root = std::wstring(name, wcsnlen(name, kVolumeNameChars)) + L"\\";
        WCHAR text[kLabelChars] = {};
        // A volume without media or one that cannot be read has no label to match.
        if (!platform.GetVolumeInformationW(root.c_str(), text, kLabelChars, nullptr, nullptr,
                                            nullptr, nullptr, 0))
            continue;
        text[kLabelChars - 1] = L'\0';
        if (SameNoCase(label, text, kLabelChars)) return true;
    }
}

}  // namespace

bool SelectorNames(Platform& platform, const DriveRecord& record, const Selector& selector) {
    switch (selector.kind) {
        case SelectorKind::Letter:
            return record.HasLetter(selector.key[0]);
        case SelectorKind::VolumeGuid:
            return HasVolume(record, selector.key);
        case SelectorKind::MountPoint: {
            const std::wstring volume = VolumeAt(platform, selector.key);
            return !volume.empty() && HasVolume(record, volume);
        }
        case SelectorKind::InstanceId:
            return SameNoCase(selector.key, record.deviceInstanceId,
                              std::size(record.deviceInstanceId));
        case SelectorKind::Label:
            return HasLabel(platform, record, selector.key);
    }
    return false;
}

SelectorMatch MatchSelector(Platform& platform, const DriveTable& table, const ListOptions& options,
                            const Selector& selector) {
    SelectorMatch match;
    // A mount point is asked of Windows once, not once per device.
    Selector resolved = selector;
    if (selector.kind == SelectorKind::MountPoint) {
        resolved.kind = SelectorKind::VolumeGuid;
        resolved.key = VolumeAt(platform, selector.key);
        if (resolved.key.empty()) return match;
    }
    for (int i = 0; i < table.Count(); ++i) {
        const DriveRecord& record = table.At(i);
        if (!SelectorNames(platform, record, resolved)) continue;
        if (ListRowFor(record, options))
            match.listed.push_back(&record);
        else
            ++match.hidden;
    }
    return match;
}
