// The settings store and the inventory's system-facing reads against the real
// system (the Wine prefix here): the same settings cases the simulated
// machine passes, the device instance identifier as the configuration
// manager and the set give it, and an error text that carries inserts.
#include <gtest/gtest.h>

#include "app/ProgramName.h"
#include "inventory/DeviceProperties.h"
#include "inventory/Probe.h"
#include "platform/win32/Win32Platform.h"
#include "tests/unit/settings/SettingsCases.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

const wchar_t* const kLongVariable = L"TRAYHOP_TEST_LONG";

// The settings cases write under the program's own options key. What did
// not exist before is removed again, parents included, so the prefix is left
// as it was found; keys that were there are only emptied of the test value.
class SettingsRegistryTest : public testing::Test {
protected:
    void SetUp() override {
        const std::wstring path = settings_cases::KeyPath();
        for (std::size_t end = path.find(L'\\', path.find(L'\\') + 1);;
             end = path.find(L'\\', end + 1)) {
            const std::wstring level = path.substr(0, end);
            HKEY key = nullptr;
            if (::RegOpenKeyExW(HKEY_CURRENT_USER, level.c_str(), 0, KEY_READ, &key) ==
                ERROR_SUCCESS) {
                ::RegCloseKey(key);
            } else {
                created_.insert(created_.begin(), level);  // deepest first
            }
            if (end == std::wstring::npos) break;
        }
        ASSERT_TRUE(::SetEnvironmentVariableW(kLongVariable, std::wstring(60, L'e').c_str()));
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(kLongVariable, nullptr);
        WriteSettingString(platform, HKEY_CURRENT_USER, settings_cases::kName, nullptr);
        for (const std::wstring& level : created_)
            EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(HKEY_CURRENT_USER, level.c_str()))
                << "left behind";
    }

    Win32Platform platform;
    std::vector<std::wstring> created_;
};

TEST_F(SettingsRegistryTest, ReadOutcomesOfEveryTypeAndSize) {
    settings_cases::RunReadCases(platform);
}

TEST_F(SettingsRegistryTest, ExpansionCutAndOverTheLimit) {
    settings_cases::RunExpansionCases(platform, kLongVariable);
}

TEST_F(SettingsRegistryTest, WriteStoresTextAndEmptyTextRemoves) {
    settings_cases::RunWriteCases(platform);
}

// Wine's configuration manager answers success without writing the
// identifier; the reader must still come back with the set's identifier.
TEST(RealDeviceInstanceId, MatchesWhatTheSetKnows) {
    Win32Platform p;
    UniqueDevInfo set(
        p, p.SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES,
                                    nullptr, nullptr, nullptr));
    ASSERT_TRUE(set.Valid());
    int compared = 0;
    for (DWORD index = 0; compared < 5; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!p.SetupDiEnumDeviceInfo(set.Get(), index, &device)) break;
        WCHAR expected[201] = {};
        if (!p.SetupDiGetDeviceInstanceIdW(set.Get(), &device, expected, 201, nullptr)) continue;
        WCHAR id[201];
        for (WCHAR& c : id) c = L'x';
        SCOPED_TRACE(testing::Message() << "device " << index);
        EXPECT_TRUE(ReadDeviceInstanceId(p, set.Get(), &device, id, 201));
        EXPECT_EQ(std::wstring(expected), std::wstring(id));
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "the system lists no device";
}

// The device enumeration asks for the interfaces of one device by naming its
// instance identifier; the system must list that device's interfaces and no
// other's. Monitors are the devices with interfaces every prefix has.
TEST(RealDeviceInterfaces, AskedByInstanceIdentifierListOnlyThatDevice) {
    const GUID monitor = {
        0xE6F07B5F, 0xEE97, 0x4A90, {0xB0, 0x76, 0x33, 0xF5, 0x7B, 0xF4, 0xEA, 0xA7}};
    Win32Platform p;
    auto owners = [&](const WCHAR* enumerator) {
        std::vector<std::wstring> ids;
        UniqueDevInfo set(p, p.SetupDiGetClassDevsW(&monitor, enumerator, nullptr,
                                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        if (!set) return ids;
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof(data);
            if (!p.SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &monitor, index, &data)) break;
            SP_DEVINFO_DATA owner{};
            owner.cbSize = sizeof(owner);
            DWORD required = 0;
            p.SetupDiGetDeviceInterfaceDetailW(set.Get(), &data, nullptr, 0, &required, &owner);
            WCHAR id[201] = {};
            EXPECT_TRUE(ReadDeviceInstanceId(p, set.Get(), &owner, id, 201));
            ids.emplace_back(id);
        }
        return ids;
    };
    const std::vector<std::wstring> all = owners(nullptr);
    if (all.empty()) GTEST_SKIP() << "the system lists no monitor interface";
    for (const std::wstring& id : all) {
        SCOPED_TRACE(testing::Message() << "device " << testing::PrintToString(id));
        const std::vector<std::wstring> own = owners(id.c_str());
        ASSERT_FALSE(own.empty());
        for (const std::wstring& owner : own) EXPECT_EQ(id, owner);
    }
}

// Captures what ReportSystemError would show, instead of opening a box.
class CapturingPlatform : public Win32Platform {
public:
    int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) override {
        boxes.emplace_back(text);
        captions.emplace_back(caption);
        owners.push_back(owner);
        types.push_back(type);
        return IDOK;
    }
    void OutputDebugStringW(LPCWSTR text) override { debugOutput.emplace_back(text); }

    std::vector<std::wstring> boxes, captions, debugOutput;
    std::vector<HWND> owners;
    std::vector<UINT> types;
};

// Some system texts hold inserts (%1) that nothing fills; they are shown as
// they are rather than failing or reading arguments that were never given.
TEST(RealReportSystemError, TextWithInsertsIsShownAsItIs) {
    CapturingPlatform p;
    DWORD code = 0;
    WCHAR text[250] = {};
    for (DWORD candidate = 2; candidate < 16000 && code == 0; ++candidate) {
        if (candidate == ERROR_NOT_READY || candidate == ERROR_NOT_SUPPORTED) continue;
        const DWORD length =
            ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             candidate, 0, text, 250, nullptr);
        if (length > 0 && std::wstring(text, length).find(L"%1") != std::wstring::npos)
            code = candidate;
    }
    if (code == 0) GTEST_SKIP() << "no system text with inserts";
    SCOPED_TRACE(testing::Message() << "code " << code);

    ReportSystemError(p, code);

    ASSERT_EQ(1u, p.boxes.size());
    EXPECT_EQ(std::wstring(text), p.boxes[0]);
    EXPECT_EQ(std::vector<std::wstring>{text}, p.debugOutput);
    EXPECT_EQ(kProgramName, p.captions[0]);
    EXPECT_EQ(nullptr, p.owners[0]);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), p.types[0]);

    // The silent codes reach neither the debugger nor a box.
    for (DWORD silent : {ERROR_INVALID_FUNCTION, ERROR_NOT_READY, ERROR_NOT_SUPPORTED})
        ReportSystemError(p, silent);
    EXPECT_EQ(1u, p.boxes.size());
    EXPECT_EQ(1u, p.debugOutput.size());
}

}  // namespace
