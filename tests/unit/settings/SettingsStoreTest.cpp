#include <gtest/gtest.h>

#include "platform/sim/SimMachine.h"
#include "tests/unit/settings/SettingsCases.h"

namespace {

const wchar_t* const kKey = L"Software\\Quenwell\\Trayhop32\\1.3";

class SettingsStoreTest : public testing::Test {
protected:
    void SetUp() override {
        sim.SetEnvironmentVariable(L"TRAYHOP_TEST_LONG", std::wstring(60, L'e'));
    }
    void TearDown() override {
        // Every call closes the key it opened, on every path.
        EXPECT_EQ(sim.LeakReport(), "");
        EXPECT_TRUE(sim.ProgramErrors().empty());
    }
    SimMachine sim;
};

TEST_F(SettingsStoreTest, ReadOutcomesOfEveryTypeAndSize) {
    settings_cases::RunReadCases(sim);  // the missing value and the missing key of the cases
}

TEST_F(SettingsStoreTest, ExpansionCutAndOverTheLimit) {
    settings_cases::RunExpansionCases(sim, L"TRAYHOP_TEST_LONG");
}

TEST_F(SettingsStoreTest, WriteStoresTextAndEmptyTextRemoves) {
    settings_cases::RunWriteCases(sim);
}

TEST_F(SettingsStoreTest, FirstWriteCreatesTheKeyWithItsParents) {
    wchar_t buffer[5];
    EXPECT_FALSE(ReadSettingString(sim, HKEY_CURRENT_USER, L"IgnoreUSB", buffer, 5));
    EXPECT_FALSE(sim.RegKeyExists(HKEY_CURRENT_USER, L"Software\\Quenwell"));
    EXPECT_TRUE(WriteSettingString(sim, HKEY_CURRENT_USER, L"IgnoreUSB", L"1"));
    EXPECT_EQ(sim.GetRegString(HKEY_CURRENT_USER, kKey, L"IgnoreUSB"), L"1");
}

TEST_F(SettingsStoreTest, RefusedKeyAndFailedCallsLeaveNothing) {
    sim.SetRegKeyRefusesWrites(HKEY_CURRENT_USER, L"Software\\Quenwell");
    EXPECT_FALSE(WriteSettingString(sim, HKEY_CURRENT_USER, L"User", L"Yes"));
    EXPECT_FALSE(sim.GetRegValue(HKEY_CURRENT_USER, kKey, L"User"));
    sim.SetRegKeyRefusesWrites(HKEY_CURRENT_USER, L"Software\\Quenwell", false);

    sim.SetRegString(HKEY_CURRENT_USER, kKey, L"IgnoreIDE", L"1");
    sim.SetRegKeyOpenError(HKEY_CURRENT_USER, kKey, ERROR_ACCESS_DENIED);
    wchar_t buffer[5] = {L'x', L'x', L'x', L'x', L'x'};
    EXPECT_FALSE(ReadSettingString(sim, HKEY_CURRENT_USER, L"IgnoreIDE", buffer, 5));
    EXPECT_EQ(buffer[0], L'\0');
    sim.SetRegKeyOpenError(HKEY_CURRENT_USER, kKey, 0);

    // A failing query or store still closes the key.
    sim.FailMethod("RegQueryValueExW", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ReadSettingString(sim, HKEY_CURRENT_USER, L"IgnoreIDE", buffer, 5));
    sim.FailMethod("RegSetValueExW", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(WriteSettingString(sim, HKEY_CURRENT_USER, L"IgnoreIDE", L"0"));
    EXPECT_EQ(sim.GetRegString(HKEY_CURRENT_USER, kKey, L"IgnoreIDE"), L"1");
}

}  // namespace
