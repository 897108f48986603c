#include "settings/SettingsStore.h"

#include "platform/Owners.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr const wchar_t* kCompanyName = L"Quenwell";
// Trayhop64 keeps its options under the same key, so a user's choices carry
// over from one edition to the other.
constexpr const wchar_t* kKeyProgramName = L"Trayhop32";
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 3;
constexpr DWORD kKeyPathChars = 128;

// Copies at most count characters of src (which stops at its first NUL) and
// a NUL into dest.
void CopyText(wchar_t* dest, const wchar_t* src, DWORD count) {
    DWORD n = 0;
    while (n < count && src[n] != L'\0') {
        dest[n] = src[n];
        ++n;
    }
    dest[n] = L'\0';
}

}  // namespace

void FormatSettingsKeyPath(wchar_t* path, DWORD pathChars) {
    if (path == nullptr || pathChars == 0) return;
    if (std::swprintf(path, pathChars, L"Software\\%ls\\%ls\\%d.%d", kCompanyName, kKeyProgramName,
                      kVersionMajor, kVersionMinor) < 0)
        path[0] = L'\0';
}

bool ReadSettingString(Platform& platform, HKEY root, const wchar_t* valueName, wchar_t* buffer,
                       DWORD capacity) {
    if (buffer != nullptr)
        for (DWORD i = 0; i < capacity; ++i) buffer[i] = L'\0';

    wchar_t path[kKeyPathChars];
    FormatSettingsKeyPath(path, kKeyPathChars);

    UniqueKey key(platform);
    {
        HKEY opened = nullptr;
        if (platform.RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
            return false;
        key.Reset(opened);
    }

    // One character more than the query may fill, always NUL: data without a
    // NUL of its own still ends inside the buffer.
    wchar_t data[kSettingTextChars + 1] = {};
    DWORD type = REG_NONE;
    DWORD dataBytes = sizeof(WCHAR) * kSettingTextChars;
    const LSTATUS status = platform.RegQueryValueExW(key.Get(), valueName, nullptr, &type,
                                                     reinterpret_cast<BYTE*>(data), &dataBytes);
    key.Reset();
    if (status != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
    if (buffer == nullptr || capacity == 0 || dataBytes == 0) return false;
    if (dataBytes >= static_cast<unsigned long long>(sizeof(WCHAR)) * capacity) return false;
    if (dataBytes > sizeof(WCHAR) * kSettingTextChars) return false;
    data[kSettingTextChars] = L'\0';

    // A capacity beyond the working buffers delivers no more than they hold.
    const DWORD usable = capacity < kSettingTextChars ? capacity : kSettingTextChars;
    if (type == REG_SZ) {
        CopyText(buffer, data, usable - 1);
    } else if (type == REG_EXPAND_SZ) {
        wchar_t expanded[kSettingTextChars] = {};
        const DWORD needed = platform.ExpandEnvironmentStringsW(data, expanded, kSettingTextChars);
        // Too long to expand whole: an empty text, and still a successful read.
        if (needed != 0 && needed <= kSettingTextChars) {
            expanded[kSettingTextChars - 1] = L'\0';
            CopyText(buffer, expanded, usable - 1);
        }
    } else {
        // A list of texts is handed over as it is, embedded NULs included.
        std::memcpy(buffer, data, sizeof(WCHAR) * usable);
    }
    buffer[capacity - 1] = L'\0';
    return true;
}

bool WriteSettingString(Platform& platform, HKEY root, const wchar_t* valueName,
                        const wchar_t* valueText) {
    wchar_t path[kKeyPathChars];
    FormatSettingsKeyPath(path, kKeyPathChars);

    UniqueKey key(platform);
    {
        HKEY created = nullptr;
        if (platform.RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                     nullptr, &created, nullptr) != ERROR_SUCCESS)
            return false;
        key.Reset(created);
    }

    LSTATUS status;
    if (valueText != nullptr && valueText[0] != L'\0') {
        const std::size_t length = std::wcslen(valueText);
        status = platform.RegSetValueExW(key.Get(), valueName, 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(valueText),
                                         static_cast<DWORD>(sizeof(WCHAR) * (length + 1)));
    } else {
        status = platform.RegDeleteValueW(key.Get(), valueName);
    }
    return status == ERROR_SUCCESS;
}
