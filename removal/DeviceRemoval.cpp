#include "removal/DeviceRemoval.h"

#include "inventory/DeviceProperties.h"
#include "platform/Owners.h"
#include "platform/Text.h"

#include <cwctype>

DevicePattern ParseDevicePattern(const WCHAR* text) {
    DevicePattern pattern;
    pattern.text = text != nullptr ? text : L"";
    if (*pattern.text == L'@') {
        pattern.isInstanceId = true;
        ++pattern.text;
    }
    // A leading quote makes the rest literal, "*" included.
    if (*pattern.text == L'\'')
        ++pattern.text;
    else
        pattern.wildcard = FindTextChar(pattern.text, L'*');
    return pattern;
}

namespace {

// Moves s to the first place where a segment starting with c may begin: a
// letter is looked for in either case, anything else exactly.
const WCHAR* FindSegmentStart(const WCHAR* s, WCHAR c) {
    if (std::iswalpha(static_cast<std::wint_t>(c))) {
        const auto upper = static_cast<WCHAR>(std::towupper(static_cast<std::wint_t>(c)));
        const auto lower = static_cast<WCHAR>(std::towlower(static_cast<std::wint_t>(c)));
        while (*s != L'\0' && *s != upper && *s != lower) ++s;
    } else {
        while (*s != L'\0' && *s != c) ++s;
    }
    return s;
}

}  // namespace

bool MatchDevicePattern(const DevicePattern& pattern, const WCHAR* id) {
    if (id == nullptr) id = L"";
    const WCHAR* text = pattern.text != nullptr ? pattern.text : L"";
    if (pattern.wildcard == nullptr) return CompareTextNoCase(id, text) == 0;

    const auto prefixLength = static_cast<std::size_t>(pattern.wildcard - text);
    if (prefixLength > 0 && CompareTextNoCaseN(text, id, prefixLength) != 0) return false;

    const WCHAR* p = pattern.wildcard;
    const WCHAR* s = id + prefixLength;
    while (*p != L'\0') {
        if (*p == L'*') {
            ++p;
            continue;
        }
        const WCHAR* nextStar = FindTextChar(p, L'*');
        if (nextStar == nullptr) break;
        // A middle segment takes the leftmost place it fits after the last one.
        const auto segmentLength = static_cast<std::size_t>(nextStar - p);
        for (;;) {
            s = FindSegmentStart(s, *p);
            if (*s == L'\0') return false;
            if (CompareTextNoCaseN(p, s, segmentLength) == 0) break;
            ++s;
        }
        s += segmentLength;
        p = nextStar;
    }
    if (*p == L'\0') return true;  // the pattern ended in "*"

    // The last segment is anchored to the end of the identifier.
    const std::size_t segmentLength = TextLength(p);
    const std::size_t restLength = TextLength(s);
    if (restLength < segmentLength) return false;
    return CompareTextNoCase(s + (restLength - segmentLength), p) == 0;
}

bool MatchAnyId(const std::optional<std::vector<std::wstring>>& list,
                const DevicePattern& pattern) {
    if (!list) return false;
    for (const std::wstring& id : *list)
        if (MatchDevicePattern(pattern, id.c_str())) return true;
    return false;
}

void RemoveOneDevice(Platform& platform, HDEVINFO set, SP_DEVINFO_DATA& device,
                     RemovalTally& tally) {
    SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
    detail.cbSize = sizeof(detail);
    if (!platform.SetupDiGetDeviceInfoListDetailW(set, &detail)) return;

    WCHAR id[kDeviceIdChars] = {};
    if (!ReadDeviceInstanceId(platform, set, &device, id, kDeviceIdChars)) return;

    SP_REMOVEDEVICE_PARAMS removeParams{};
    removeParams.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    removeParams.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    removeParams.Scope = DI_REMOVEDEVICE_GLOBAL;
    removeParams.HwProfile = 0;
    if (!platform.SetupDiSetClassInstallParamsW(set, &device, &removeParams.ClassInstallHeader,
                                                sizeof(removeParams)))
        return;

    if (!platform.SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) return;

    // Unreadable parameters may hide a device that only stops at the next
    // restart: asking for one never calls a drive that is still running safe to pull.
    SP_DEVINSTALL_PARAMS_W installParams{};
    installParams.cbSize = sizeof(installParams);
    installParams.Flags = 0;
    if (!platform.SetupDiGetDeviceInstallParamsW(set, &device, &installParams) ||
        (installParams.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0)
        tally.rebootNeeded = true;
    ++tally.removedCount;
}

RemoveResult RemoveMatchingDevices(Platform& platform, const WCHAR* pattern, RemovalTally& tally) {
    if (pattern == nullptr) return RemoveFailed;

    GUID classGuid{};
    const GUID* classFilter = nullptr;
    bool takeAll = false;
    bool search = false;
    bool parsed = false;
    DevicePattern parsedPattern;

    if (pattern[0] == L'=' && pattern[1] != L'\0') {
        DWORD required = 0;
        if (!platform.SetupDiClassGuidsFromNameExW(pattern + 1, &classGuid, 1, &required, nullptr,
                                                   nullptr) &&
            platform.GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return RemoveFailed;
        if (required == 0) return RemoveOk;  // no such class: nothing to walk
        classFilter = &classGuid;
        takeAll = true;
    } else if (pattern[0] == L'*' && pattern[1] == L'\0') {
        takeAll = true;
    } else {
        parsedPattern = ParseDevicePattern(pattern);
        parsed = true;
        search = parsedPattern.wildcard != nullptr || !parsedPattern.isInstanceId;
    }

    UniqueDevInfo set(platform);
    if (takeAll || search) {
        const DWORD flags =
            classFilter != nullptr ? DIGCF_PRESENT : DIGCF_PRESENT | DIGCF_ALLCLASSES;
        set.Reset(platform.SetupDiGetClassDevsExW(classFilter, nullptr, nullptr, flags, nullptr,
                                                  nullptr, nullptr));
    } else {
        set.Reset(platform.SetupDiCreateDeviceInfoListExW(classFilter, nullptr, nullptr, nullptr));
    }
    if (!set) return RemoveFailed;

    // An identifier the platform does not know, or one with "*", adds nothing.
    // An empty one would name the root of the device tree, so it is not opened.
    if (parsed && parsedPattern.isInstanceId && *parsedPattern.text != L'\0')
        platform.SetupDiOpenDeviceInfoW(set.Get(), parsedPattern.text, nullptr, 0, nullptr);

    SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
    detail.cbSize = sizeof(detail);
    if (!platform.SetupDiGetDeviceInfoListDetailW(set.Get(), &detail)) return RemoveFailed;

    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!platform.SetupDiEnumDeviceInfo(set.Get(), index, &device)) break;

        bool selected = takeAll || !search;
        if (!selected) {
            if (parsedPattern.isInstanceId) {
                // An identifier that cannot be read is compared as empty.
                WCHAR id[kDeviceIdChars] = {};
                ReadDeviceInstanceId(platform, set.Get(), &device, id, kDeviceIdChars);
                selected = MatchDevicePattern(parsedPattern, id);
            } else {
                const auto hardwareIds =
                    ReadDeviceMultiStringProperty(platform, set.Get(), &device, SPDRP_HARDWAREID);
                const auto compatibleIds = ReadDeviceMultiStringProperty(
                    platform, set.Get(), &device, SPDRP_COMPATIBLEIDS);
                selected = MatchAnyId(hardwareIds, parsedPattern) ||
                           MatchAnyId(compatibleIds, parsedPattern);
            }
        }
        if (selected) RemoveOneDevice(platform, set.Get(), device, tally);
    }
    return RemoveOk;
}

RemoveResult RemoveDevice(Platform& platform, const WCHAR* pattern) {
    RemovalTally tally;
    const RemoveResult result = RemoveMatchingDevices(platform, pattern, tally);
    if (result != RemoveOk) return result;
    // Nothing matched, or the installer declined every device: not a removal.
    if (tally.removedCount == 0) return RemoveNothing;
    return tally.rebootNeeded ? RemoveRebootNeeded : RemoveOk;
}
