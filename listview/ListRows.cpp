#include "listview/ListRows.h"

#include "listview/Texts.h"
#include "settings/SettingsStore.h"

#include <cwchar>

namespace {

// An option is on when its text begins with "1"; unreadable counts as off.
bool OptionIsOn(Platform& platform, const wchar_t* name) {
    wchar_t text[kCellTextChars] = {};
    if (!ReadSettingString(platform, HKEY_CURRENT_USER, name, text, kCellTextChars)) return false;
    return text[0] == L'1';
}

}  // namespace

ListOptions ReadListOptions(Platform& platform) {
    ListOptions options;
    options.hideBoot = OptionIsOn(platform, L"HideBootDrive");
    options.hidePage = OptionIsOn(platform, L"HidePageDrives");
    return options;
}

std::optional<ListRowTexts> ListRowFor(const DriveRecord& record, const ListOptions& options) {
    const wchar_t* prefix = L"";
    if (record.isBootDrive) {
        if (options.hideBoot) return std::nullopt;
        prefix = L"(Boot) ";
    } else if (record.hasPageFile) {
        if (options.hidePage) return std::nullopt;
        prefix = L"(Page) ";
    }

    ListRowTexts row;
    wchar_t text[kCellTextChars];
    const int nameChars =
        static_cast<int>(wcsnlen(record.deviceName, std::size(record.deviceName)));
    std::swprintf(text, kCellTextChars, L"%ls%.*ls", prefix, nameChars, record.deviceName);
    row[0] = text;
    row[1] = FormatMediaType(record.mediaDeviceType, record.mediaType, text);
    row[2] = record.MountPointText();
    row[3] = DriveRecord::BusTypeName(record.busType, true);
    row[4] = FormatCapacity(record.capacity, text);
    row[5] = record.removableMedia ? L"Removable" : L"Fixed";
    return row;
}
