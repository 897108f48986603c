// Cases of the settings store written against the platform seam, so the same
// cases run on the simulated machine and against the real registry under
// Wine. Each case stores what it needs under the options key and removes it.
// The caller names an environment variable whose value is 40 characters or
// longer (for the expansion cases).
#pragma once

#include <gtest/gtest.h>

#include "platform/Owners.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <string>
#include <vector>

namespace settings_cases {

constexpr DWORD kW = sizeof(WCHAR);
constexpr wchar_t kCanary = static_cast<wchar_t>(0x5A5A);
constexpr DWORD kGuard = 8;
const wchar_t* const kName = L"SettingsCaseValue";

inline std::wstring KeyPath() {
    wchar_t path[128];
    FormatSettingsKeyPath(path, 128);
    return path;
}

// Stores data of any type and byte count under the options key.
// Windows stores one character more for a text whose count leaves out a NUL
// that follows it; past the text, every character not wholly counted is
// non-zero in its last byte only, so the stored bytes are exactly the ones
// asked for on the simulated machine and on Windows.
inline void StoreRaw(Platform& platform, DWORD type, const std::wstring& text, DWORD bytes) {
    const std::size_t chars = std::max<std::size_t>(text.size(), (bytes + kW - 1) / kW) + 2;
    const auto pad = static_cast<wchar_t>(0x5A << (8 * (sizeof(wchar_t) - 1)));
    std::vector<wchar_t> data(chars, L'\0');
    for (std::size_t i = 0; i < chars; ++i) {
        if (i < text.size())
            data[i] = text[i];
        else if (kW * (i + 1) > bytes)
            data[i] = pad;
    }
    UniqueKey key(platform);
    HKEY created = nullptr;
    ASSERT_EQ(platform.RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath().c_str(), 0, nullptr, 0,
                                       KEY_WRITE, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    key.Reset(created);
    ASSERT_EQ(platform.RegSetValueExW(key.Get(), kName, 0, type,
                                      reinterpret_cast<const BYTE*>(data.data()), bytes),
              ERROR_SUCCESS);
}

struct Outcome {
    bool ok;
    std::vector<wchar_t> whole;  // all `capacity` characters
    bool guardIntact;            // nothing written past the capacity
    std::wstring Text() const {
        return std::wstring(whole.data(), wcsnlen(whole.data(), whole.size()));
    }
};

inline Outcome Read(Platform& platform, HKEY root, DWORD capacity, const wchar_t* name = kName) {
    std::vector<wchar_t> buffer(capacity + kGuard, kCanary);
    Outcome out{ReadSettingString(platform, root, name, buffer.data(), capacity), {}, true};
    out.whole.assign(buffer.begin(), buffer.begin() + capacity);
    for (DWORD i = capacity; i < capacity + kGuard; ++i) out.guardIntact &= buffer[i] == kCanary;
    return out;
}

struct ReadCase {
    const char* situation;
    DWORD type;
    std::wstring data;
    DWORD bytes;
    DWORD capacity;
    bool ok;
    std::wstring text;
};

inline void RunReadCases(Platform& platform) {
    const std::wstring two = L"12", full(1024, L'f'), over(1100, L'y');
    const std::wstring z1022(1022, L'z'), z1023(1023, L'z');
    const ReadCase cases[] = {
        {"one character at the smallest capacity", REG_SZ, L"1", 2 * kW, 3, true, L"1"},
        {"one character at capacity 150", REG_SZ, L"1", 2 * kW, 150, true, L"1"},
        {"two characters fail at capacity 3", REG_SZ, two, 3 * kW, 3, false, L""},
        {"two characters pass at capacity 4", REG_SZ, two, 3 * kW, 4, true, two},
        {"two characters pass at capacity 5", REG_SZ, two, 3 * kW, 5, true, two},
        {"zero bytes", REG_SZ, L"", 0, 5, false, L""},
        {"no NUL stored, under the limit", REG_SZ, L"1234", 4 * kW, 5, true, L"1234"},
        {"no NUL stored, at the limit", REG_SZ, L"123", 3 * kW, 3, false, L""},
        {"odd count: a single byte", REG_SZ, L"1", 1, 3, true, L"1"},
        {"odd count just under the limit", REG_SZ, two, 3 * kW - 1, 3, true, two},
        {"odd count just over the limit", REG_SZ, two, 3 * kW + 1, 3, false, L""},
        {"capacity - 2 characters at the largest capacity", REG_SZ, z1022, 1023 * kW, 1024, true,
         z1022},
        {"a text one byte short of the query buffer", REG_SZ, z1023, 1024 * kW - 1, 1024, true,
         z1023},
        {"the query buffer filled exactly", REG_SZ, full, 1024 * kW, 1024, false, L""},
        {"larger than the query buffer", REG_SZ, over, 1100 * kW, 1024, false, L""},
        // Beyond the working buffers a capacity delivers what they hold, no more.
        {"a full buffer without NUL, capacity 1500", REG_SZ, full, 1024 * kW, 1500, true,
         full.substr(0, 1023)},
        {"its expansion is too long", REG_EXPAND_SZ, full, 1024 * kW, 1500, true, L""},
        {"REG_EXPAND_SZ without references", REG_EXPAND_SZ, L"1", 2 * kW, 3, true, L"1"},
        {"REG_DWORD", REG_DWORD, L"1", 4, 5, false, L""},
        {"REG_BINARY", REG_BINARY, L"1", 2 * kW, 5, false, L""},
        {"REG_NONE", REG_NONE, L"1", 2 * kW, 5, false, L""},
        {"percent signs are data", REG_SZ, L"%s%n%d", 7 * kW, 10, true, L"%s%n%d"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        StoreRaw(platform, c.type, c.data, c.bytes);
        const Outcome out = Read(platform, HKEY_CURRENT_USER, c.capacity);
        EXPECT_EQ(out.ok, c.ok);
        EXPECT_EQ(out.Text(), c.text);
        EXPECT_TRUE(out.guardIntact);
        EXPECT_EQ(out.whole.back(), L'\0');
        if (!c.ok) {
            EXPECT_EQ(out.whole, std::vector<wchar_t>(c.capacity, L'\0'));
        }
    }

    // A list of texts is handed over as it is, embedded NULs included.
    StoreRaw(platform, REG_MULTI_SZ, std::wstring(L"a\0bc\0", 5), 6 * kW);
    Outcome out = Read(platform, HKEY_CURRENT_USER, 8);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.whole, (std::vector<wchar_t>{L'a', 0, L'b', L'c', 0, 0, 0, 0}));

    // No buffer, or no room for anything: nothing is written.
    EXPECT_FALSE(ReadSettingString(platform, HKEY_CURRENT_USER, kName, nullptr, 5));
    out = Read(platform, HKEY_CURRENT_USER, 0);
    EXPECT_FALSE(out.ok);
    EXPECT_TRUE(out.guardIntact);
    WriteSettingString(platform, HKEY_CURRENT_USER, kName, nullptr);

    // Missing value, and a key missing altogether (nothing writes under the
    // local machine root).
    out = Read(platform, HKEY_CURRENT_USER, 5);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.whole, std::vector<wchar_t>(5, L'\0'));
    out = Read(platform, HKEY_LOCAL_MACHINE, 5, L"IgnoreUSB");
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.whole, std::vector<wchar_t>(5, L'\0'));
}

inline void RunExpansionCases(Platform& platform, const wchar_t* variable) {
    wchar_t value[1100] = {};
    const DWORD length = platform.GetEnvironmentVariableW(variable, value, 1100);
    ASSERT_GE(length, 40u);
    ASSERT_LT(length, 1100u);
    const std::wstring reference = L"%" + std::wstring(variable) + L"%";
    const std::wstring framed = L"<" + reference + L">";
    const std::wstring expanded = L"<" + std::wstring(value) + L">";

    // Read as the expanded text, cut to capacity - 1.
    StoreRaw(platform, REG_EXPAND_SZ, framed, kW * (framed.size() + 1));
    for (DWORD capacity : {DWORD{150}, static_cast<DWORD>(framed.size() + 2)}) {
        const Outcome out = Read(platform, HKEY_CURRENT_USER, capacity);
        EXPECT_TRUE(out.ok);
        EXPECT_EQ(out.Text(), expanded.substr(0, capacity - 1));
        EXPECT_TRUE(out.guardIntact);
    }

    // Needing more than 1024 characters with its NUL: success, empty text.
    std::wstring many;
    while (many.size() / reference.size() * length < 1024) many += reference;
    ASSERT_LT(many.size(), 1000u);
    StoreRaw(platform, REG_EXPAND_SZ, many, kW * (many.size() + 1));
    const Outcome out = Read(platform, HKEY_CURRENT_USER, 1024);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.Text(), L"");
    WriteSettingString(platform, HKEY_CURRENT_USER, kName, nullptr);
}

inline void RunWriteCases(Platform& platform) {
    for (const wchar_t* text : {L"1", L"%s%n%ls", L"Yes"}) {
        EXPECT_TRUE(WriteSettingString(platform, HKEY_CURRENT_USER, kName, text));
        UniqueKey key(platform);
        HKEY opened = nullptr;
        ASSERT_EQ(platform.RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath().c_str(), 0, KEY_QUERY_VALUE,
                                         &opened),
                  ERROR_SUCCESS);
        key.Reset(opened);
        DWORD type = 0, bytes = 0;
        EXPECT_EQ(platform.RegQueryValueExW(key.Get(), kName, nullptr, &type, nullptr, &bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(bytes, kW * (std::wcslen(text) + 1));
        EXPECT_EQ(Read(platform, HKEY_CURRENT_USER, 150).Text(), text);
    }
    // An empty or null text removes the value; a second removal fails.
    EXPECT_TRUE(WriteSettingString(platform, HKEY_CURRENT_USER, kName, L""));
    EXPECT_FALSE(Read(platform, HKEY_CURRENT_USER, 150).ok);
    EXPECT_FALSE(WriteSettingString(platform, HKEY_CURRENT_USER, kName, L""));
    EXPECT_TRUE(WriteSettingString(platform, HKEY_CURRENT_USER, kName, L"1"));
    EXPECT_TRUE(WriteSettingString(platform, HKEY_CURRENT_USER, kName, nullptr));
    EXPECT_FALSE(WriteSettingString(platform, HKEY_CURRENT_USER, kName, nullptr));
}

}  // namespace settings_cases
