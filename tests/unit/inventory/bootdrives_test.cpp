#include "inventory/BootDrives.h"
#include "platform/sim/SimMachine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const wchar_t* const kMemoryManagement =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";

SimRegValue WideValue(DWORD type, const std::wstring& chars) {
    SimRegValue value;
    value.type = type;
    value.data.resize(sizeof(WCHAR) * chars.size());
    std::memcpy(value.data.data(), chars.data(), value.data.size());
    return value;
}

std::wstring Letters(const WCHAR (&letters)[kMaxPageFileLetters]) {
    std::wstring text;
    for (WCHAR c : letters) {
        if (c == L'\0') break;
        text += c;
    }
    return text;
}

struct PageFileCase {
    const char* name;
    bool present;
    SimRegValue value;
    bool expectedResult;
    std::wstring expectedLetters;
};

std::wstring ThirtyOneEntries() {
    std::wstring chars;
    for (int i = 0; i < 31; ++i) {
        chars += static_cast<wchar_t>(L'C' + (i % 20));
        chars += L":\\pagefile.sys 0 0";
        chars += L'\0';
    }
    return chars + L'\0';
}

std::wstring FirstThirty() {
    std::wstring letters;
    for (int i = 0; i < 30; ++i) letters += static_cast<wchar_t>(L'C' + (i % 20));
    return letters;
}

}  // namespace

TEST(PageFileLetters, DecidedByTypeAndEntriesOfTheValue) {
    const std::vector<PageFileCase> cases = {
        {"single string, lower case", true,
         WideValue(REG_SZ, std::wstring(L"c:\\pagefile.sys 1024 2048") + L'\0'), true, L"C"},
        {"list of two", true,
         WideValue(REG_MULTI_SZ, std::wstring(L"C:\\pagefile.sys 1024 2048") + L'\0' +
                                     L"e:\\pagefile.sys 0 0" + L'\0' + L'\0'),
         true, L"CE"},
        {"question mark entry", true,
         WideValue(REG_MULTI_SZ, std::wstring(L"?:\\pagefile.sys") + L'\0' + L'\0'), true, L"?"},
        {"expandable string", true, WideValue(REG_EXPAND_SZ, std::wstring(L"C:\\p.sys") + L'\0'),
         false, L""},
        {"binary", true, SimRegValue{REG_BINARY, {'C', 0, 0, 0}}, false, L""},
        {"empty value", true, SimRegValue{REG_MULTI_SZ, {}}, false, L""},
        {"value absent", false, SimRegValue{}, false, L""},
        {"31 entries keep the first 30", true, WideValue(REG_MULTI_SZ, ThirtyOneEntries()), true,
         FirstThirty()},
        // Stored without any terminating NUL: read up to the data's end only.
        {"list without terminators", true, WideValue(REG_MULTI_SZ, L"D:\\pagefile.sys"), true,
         L"D"},
        {"string without terminator", true, WideValue(REG_SZ, L"f"), true, L"F"},
    };
    for (const PageFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimMachine sim;
        sim.CreateRegKey(HKEY_LOCAL_MACHINE, kMemoryManagement);
        if (c.present)
            sim.SetRegValue(HKEY_LOCAL_MACHINE, kMemoryManagement, L"PagingFiles", c.value);
        WCHAR letters[kMaxPageFileLetters];
        std::memset(letters, 0x5A, sizeof(letters));
        EXPECT_EQ(c.expectedResult, GetPageFileLetters(sim, letters));
        EXPECT_EQ(c.expectedLetters, Letters(letters));
        for (int i = static_cast<int>(c.expectedLetters.size()); i < kMaxPageFileLetters; ++i)
            EXPECT_EQ(L'\0', letters[i]) << "position " << i;
        EXPECT_EQ("", sim.LeakReport());
    }
}

TEST(PageFileLetters, MissingOrUnopenableKeyGivesNone) {
    SimMachine missing;
    WCHAR letters[kMaxPageFileLetters];
    EXPECT_FALSE(GetPageFileLetters(missing, letters));
    EXPECT_EQ(L"", Letters(letters));

    SimMachine refused;
    refused.SetRegString(HKEY_LOCAL_MACHINE, kMemoryManagement, L"PagingFiles", L"C:\\p.sys",
                         REG_MULTI_SZ);
    refused.SetRegKeyOpenError(HKEY_LOCAL_MACHINE, kMemoryManagement, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(GetPageFileLetters(refused, letters));
    EXPECT_EQ("", missing.LeakReport());
    EXPECT_EQ("", refused.LeakReport());
}

TEST(PageFileLetters, FailedReadClosesTheKey) {
    SimMachine sim;
    sim.SetRegMultiString(HKEY_LOCAL_MACHINE, kMemoryManagement, L"PagingFiles",
                          {L"C:\\pagefile.sys 0 0"});
    sim.FailMethod("RegQueryValueExW", 2, ERROR_MORE_DATA);
    WCHAR letters[kMaxPageFileLetters];
    EXPECT_FALSE(GetPageFileLetters(sim, letters));
    EXPECT_EQ(L"", Letters(letters));
    EXPECT_EQ("", sim.LeakReport());
}

TEST(SystemDriveLetter, FirstCharacterOfTheVariableUnchanged) {
    SimMachine sim;
    sim.ClearEnvironmentVariable(L"SystemDrive");
    EXPECT_FALSE(GetSystemDriveLetter(sim).has_value());

    sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
    EXPECT_EQ(std::optional<WCHAR>(L'C'), GetSystemDriveLetter(sim));

    sim.SetEnvironmentVariable(L"SystemDrive", L"d:");
    EXPECT_EQ(std::optional<WCHAR>(L'd'), GetSystemDriveLetter(sim));

    // Longer than the 261-character buffer: not written, so not believed.
    sim.SetEnvironmentVariable(L"SystemDrive", std::wstring(300, L'E'));
    EXPECT_FALSE(GetSystemDriveLetter(sim).has_value());
    EXPECT_EQ("", sim.LeakReport());
}
