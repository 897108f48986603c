#include "inventory/BootDrives.h"

#include "platform/Owners.h"

#include <new>
#include <vector>

namespace {

constexpr DWORD kEnvironmentBufferChars = 261;
constexpr const WCHAR* kMemoryManagementKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";

WCHAR UpperAsciiLetter(WCHAR c) {
    return (c >= L'a' && c <= L'z') ? static_cast<WCHAR>(c - L'a' + L'A') : c;
}

}  // namespace

std::optional<WCHAR> GetSystemDriveLetter(Platform& platform) {
    WCHAR value[kEnvironmentBufferChars] = {};
    const DWORD length =
        platform.GetEnvironmentVariableW(L"SystemDrive", value, kEnvironmentBufferChars);
    // A value too long for the buffer is not written into it; treat it as absent.
    if (length == 0 || length >= kEnvironmentBufferChars || value[0] == L'\0') return std::nullopt;
    return value[0];
}

bool GetPageFileLetters(Platform& platform, WCHAR (&letters)[kMaxPageFileLetters]) {
    for (WCHAR& letter : letters) letter = L'\0';

    HKEY opened = nullptr;
    if (platform.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMemoryManagementKey, 0, KEY_QUERY_VALUE,
                               &opened) != ERROR_SUCCESS)
        return false;
    UniqueKey key(platform, opened);

    DWORD size = 0;
    DWORD type = REG_NONE;
    if (platform.RegQueryValueExW(key.Get(), L"PagingFiles", nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0)
        return false;

    // Zeroed, with two spare characters, so a value stored without its
    // terminating NULs still ends inside the buffer.
    std::vector<WCHAR> data;
    try {
        data.assign((size + sizeof(WCHAR) - 1) / sizeof(WCHAR) + 2, L'\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    DWORD read = size;
    if (platform.RegQueryValueExW(key.Get(), L"PagingFiles", nullptr, &type,
                                  reinterpret_cast<LPBYTE>(data.data()), &read) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_MULTI_SZ) return false;

    // Only what the second read returned counts; the rest stays NUL.
    const std::size_t chars = (read < size ? read : size) / sizeof(WCHAR);
    for (std::size_t i = chars; i < data.size(); ++i) data[i] = L'\0';

    if (type == REG_SZ) {
        letters[0] = UpperAsciiLetter(data[0]);
        return true;
    }
    std::size_t pos = 0;
    int count = 0;
    while (count < kMaxPageFileLetters && pos < chars && data[pos] != L'\0') {
        letters[count++] = UpperAsciiLetter(data[pos]);
        while (pos < chars && data[pos] != L'\0') ++pos;
        ++pos;
    }
    return true;
}
