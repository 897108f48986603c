#include <gtest/gtest.h>

#include "app/ProgramName.h"
#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/sim/SimMachine.h"
#include "settings/SettingsStore.h"
#include "settings/SvcConfig.h"
#include "tests/unit/support/FakeMainView.h"

#include <cwchar>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

const wchar_t* const kKey = L"Software\\Quenwell\\Trayhop32\\1.3";

// The values in the order they are read and written, with their boxes.
struct OptionRow {
    const wchar_t* value;
    int box;
    bool ticked;  // on a first run
};
const OptionRow kOrder[] = {
    {L"IgnoreSCSI", 2040, true},    {L"IgnoreATAPI", 2037, true},
    {L"IgnoreIDE", 2036, true},     {L"Ignore1394", 2039, true},
    {L"IgnoreSSA", 2041, false},    {L"IgnoreFibre", 2042, true},
    {L"IgnoreUSB", 2038, true},     {L"IgnoreRAID", 2043, false},
    {L"IgnoreCDROM", 2034, false},  {L"IgnoreTape", 2035, false},
    {L"HideBootDrive", 2032, true}, {L"HidePageDrives", 2033, true},
};

// The dialog's boxes as a user sees them; a box listed in `unreadable`
// cannot be collected.
struct FakeBoxes : ConfigCheckBoxes {
    std::map<int, bool> state;
    std::set<int> unreadable;
    void SetCheck(int boxId, bool ticked) override { state[boxId] = ticked; }
    bool GetCheck(int boxId, bool& ticked) override {
        if (unreadable.count(boxId) != 0 || state.count(boxId) == 0) return false;
        ticked = state[boxId];
        return true;
    }
};

// Plays the user: looks at the boxes as the dialog opens, clicks some, then
// presses OK (and Cancel if OK leaves the dialog open) or Cancel.
struct ScriptedDialog : ConfigDialogRunner {
    std::vector<int> clicks;
    bool pressOk = true;
    std::set<int> unreadable;
    FakeBoxes boxes;
    std::map<int, bool> opened;
    int runs = 0;

    int RunConfigDialog(SvcConfig& config) override {
        ++runs;
        boxes = FakeBoxes{};
        config.OnInitDialog(boxes);
        opened = boxes.state;
        for (int box : clicks) boxes.state[box] = !boxes.state[box];
        boxes.unreadable = unreadable;
        if (pressOk && config.OnOK(boxes)) return IDOK;
        return IDCANCEL;
    }
};

struct ConfigTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    CTrayhop32Dlg dlg{app, view};
    ScriptedDialog dialog;

    ConfigTest() {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        view.Connect(dlg);
        dlg.SetConfigDialogRunner(&dialog);
    }
    void TearDown() override { EXPECT_EQ("", sim.LeakReport()); }

    void AddDisk(const wchar_t* id, const wchar_t* name, DWORD number, DWORD bus, wchar_t letter) {
        sim.AddDevice(SimMachine::MakeDisk(id, name, number, bus));
        sim.AddVolume(SimMachine::MakeVolume(letter, number, 1000000000LL));
    }
    std::optional<std::wstring> Stored(const wchar_t* value) const {
        return sim.GetRegString(HKEY_CURRENT_USER, kKey, value);
    }
    // The value names of the registry writes since call number `from`, in order.
    std::vector<std::wstring> WrittenSince(size_t from) const {
        std::vector<std::wstring> names;
        for (size_t i = from; i < sim.Calls().size(); ++i) {
            if (sim.Calls()[i].method != "RegSetValueExW") continue;
            for (const OptionRow& row : kOrder) {
                std::string narrow(row.value, row.value + std::wcslen(row.value));
                if (sim.Calls()[i].args.find("\"" + narrow + "\"") != std::string::npos ||
                    sim.Calls()[i].args.find(narrow + ",") != std::string::npos)
                    names.push_back(row.value);
            }
        }
        return names;
    }
    size_t Writes() const {
        return sim.CallCount("RegSetValueExW") + sim.CallCount("RegDeleteValueW") +
               sim.CallCount("RegCreateKeyExW");
    }
    int RowOf(const std::wstring& name) const {
        for (int i = 0; i < static_cast<int>(view.rows.size()); ++i)
            if (view.rows[i].text[0].find(name) != std::wstring::npos) return i;
        return -1;
    }
};

TEST_F(ConfigTest, ConstructionTicksEveryBox) {
    SvcConfig config(app);
    for (const SvcConfig::Option& option : SvcConfig::kOptions) EXPECT_EQ(1, config.*option.flag);
}

TEST_F(ConfigTest, FirstRunOpensAtTheDefaultsAndOkStoresThemAll) {
    dlg.OnConfigure();

    ASSERT_EQ(1, dialog.runs);
    ASSERT_EQ(12u, dialog.opened.size());
    for (const OptionRow& row : kOrder) {
        SCOPED_TRACE(testing::Message() << "box " << row.box);
        EXPECT_EQ(row.ticked, dialog.opened[row.box]);
        // Ticked stores "0", cleared "1".
        EXPECT_EQ(row.ticked ? L"0" : L"1", Stored(row.value).value_or(L"missing"));
        EXPECT_EQ(REG_SZ, sim.GetRegValue(HKEY_CURRENT_USER, kKey, row.value)->type);
    }
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST_F(ConfigTest, StoredValuesDecideTheBoxes) {
    struct Case {
        const char* name;
        SimRegValue value;  // type REG_NONE: no value at all
        bool cdromTicked;   // default cleared
        bool usbTicked;     // default ticked
    };
    auto text = [](const std::wstring& t, DWORD type = REG_SZ) {
        SimRegValue v;
        v.type = type;
        const wchar_t* p = t.c_str();
        const auto* bytes = reinterpret_cast<const BYTE*>(p);
        v.data.assign(bytes, bytes + sizeof(WCHAR) * (t.size() + 1));
        return v;
    };
    SimRegValue dword;
    dword.type = REG_DWORD;
    dword.data = {1, 0, 0, 0};
    const Case cases[] = {
        {"missing", SimRegValue{}, false, true},
        {"\"1\" hides", text(L"1"), false, false},
        {"\"0\" shows", text(L"0"), true, true},
        {"other first character shows", text(L"x"), true, true},
        {"empty text shows", text(L""), true, true},
        {"only the first character counts", text(L"10"), false, false},
        {"three characters fit", text(L"123"), false, false},
        {"four characters do not fit", text(L"1111"), false, true},
        {"four characters do not fit either way", text(L"0000"), false, true},
        {"not a text", dword, false, true},
        {"expandable \"1\"", text(L"1", REG_EXPAND_SZ), false, false},
        {"expandable \"0\"", text(L"0", REG_EXPAND_SZ), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim.DeleteRegKey(HKEY_CURRENT_USER, kKey);
        if (c.value.type != REG_NONE) {
            sim.SetRegValue(HKEY_CURRENT_USER, kKey, L"IgnoreCDROM", c.value);
            sim.SetRegValue(HKEY_CURRENT_USER, kKey, L"IgnoreUSB", c.value);
        }
        SvcConfig config(app);
        FakeBoxes boxes;
        config.OnInitDialog(boxes);
        EXPECT_EQ(c.cdromTicked ? 1 : 0, config.m_bShowCdrom);
        EXPECT_EQ(c.usbTicked ? 1 : 0, config.m_bShowUsb);
        EXPECT_EQ(c.cdromTicked, boxes.state[2034]);
        EXPECT_EQ(c.usbTicked, boxes.state[2038]);
        // The others keep their defaults.
        EXPECT_TRUE(boxes.state[2032]);
        EXPECT_FALSE(boxes.state[2043]);
    }
}

TEST_F(ConfigTest, OkWritesAllTwelveInOrderEveryTime) {
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const size_t from = sim.CallCount();
        const size_t stores = sim.CallCount("RegSetValueExW");
        dlg.OnConfigure();
        std::vector<std::wstring> expected;
        for (const OptionRow& row : kOrder) expected.push_back(row.value);
        EXPECT_EQ(expected, WrittenSince(from)) << "unchanged values are written again";
        EXPECT_EQ(stores + 12, sim.CallCount("RegSetValueExW"));
    }
}

TEST_F(ConfigTest, ClickedBoxesAreStoredTheOthersKeepTheirState) {
    const int clicks[] = {2032, 2033, 2034, 2035, 2036, 2037,
                          2038, 2039, 2040, 2041, 2042, 2043};
    for (int box : clicks) {
        SCOPED_TRACE(testing::Message() << "box " << box);
        sim.DeleteRegKey(HKEY_CURRENT_USER, kKey);
        dialog.clicks = {box};
        dlg.OnConfigure();
        for (const OptionRow& row : kOrder) {
            const bool ticked = row.box == box ? !row.ticked : row.ticked;
            EXPECT_EQ(ticked ? L"0" : L"1", Stored(row.value).value_or(L"missing")) << row.box;
        }
    }
}

TEST_F(ConfigTest, CancelWritesNothingAndDoesNotRefresh) {
    AddDisk(L"IDE\\DISK\\1", L"Boot Disk", 0, BusTypeAta, L'C');
    dlg.InitDriveTable();
    dlg.InitDriveList();
    sim.SetRegString(HKEY_CURRENT_USER, kKey, L"IgnoreUSB", L"1");
    const size_t writes = Writes();
    const size_t statusTexts = view.statusHistory.size();
    dialog.clicks = {2038, 2032};
    dialog.pressOk = false;

    dlg.OnConfigure();

    EXPECT_EQ(1, dialog.runs);
    EXPECT_EQ(writes, Writes());
    EXPECT_EQ(L"1", Stored(L"IgnoreUSB").value_or(L"missing"));
    EXPECT_FALSE(Stored(L"HideBootDrive").has_value());
    EXPECT_EQ(statusTexts, view.statusHistory.size()) << "no refresh";
}

TEST_F(ConfigTest, BoxesThatCannotBeCollectedAreReportedAndNothingIsStored) {
    dialog.clicks = {2038};
    dialog.unreadable = {2043};
    const size_t writes = Writes();

    dlg.OnConfigure();

    ASSERT_EQ(1u, sim.messageBoxes.size());
    EXPECT_EQ(L"UpdateData() failed", sim.messageBoxes[0].text);
    EXPECT_EQ(kProgramName, sim.messageBoxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), sim.messageBoxes[0].flags & 0xF0);
    EXPECT_EQ(writes, Writes());

    // The flags are left as the dialog opened with them.
    SvcConfig config(app);
    FakeBoxes boxes;
    config.OnInitDialog(boxes);
    boxes.state[2038] = false;
    boxes.unreadable = {2043};
    EXPECT_FALSE(config.UpdateData(boxes, true));
    EXPECT_EQ(1, config.m_bShowUsb);
}

TEST_F(ConfigTest, ClearingUsbDropsTheUsbDrivesAndKeepsTheOtherTicks) {
    AddDisk(L"IDE\\DISK\\1", L"Boot Disk", 0, BusTypeAta, L'C');
    AddDisk(L"SCSI\\DISK\\2", L"Data Disk", 1, BusTypeScsi, L'D');
    AddDisk(L"USBSTOR\\DISK&VEN_A\\1", L"Stick A", 2, BusTypeUsb, L'E');
    AddDisk(L"USBSTOR\\DISK&VEN_B\\1", L"Stick B", 3, BusTypeUsb, L'F');
    dlg.InitDriveTable();
    dlg.InitDriveList();
    ASSERT_EQ(4u, view.rows.size());
    view.SetItemChecked(RowOf(L"Data Disk"), true);
    view.SetItemChecked(RowOf(L"Stick A"), true);

    dialog.clicks = {2038};
    dlg.OnConfigure();

    EXPECT_EQ(L"1", Stored(L"IgnoreUSB").value_or(L"missing"));
    EXPECT_EQ(-1, RowOf(L"Stick A"));
    EXPECT_EQ(-1, RowOf(L"Stick B"));
    ASSERT_GE(RowOf(L"Data Disk"), 0);
    EXPECT_TRUE(view.rows[RowOf(L"Data Disk")].checked);
    ASSERT_GE(RowOf(L"Boot Disk"), 0);
    EXPECT_FALSE(view.rows[RowOf(L"Boot Disk")].checked);

    // Ticking USB again brings the sticks back.
    dialog.clicks = {2038};
    dlg.OnConfigure();
    EXPECT_GE(RowOf(L"Stick A"), 0);
    EXPECT_GE(RowOf(L"Stick B"), 0);
    EXPECT_TRUE(view.rows[RowOf(L"Data Disk")].checked);
}

TEST_F(ConfigTest, FailedWritesStillCloseWithOkAndRefresh) {
    AddDisk(L"IDE\\DISK\\1", L"Boot Disk", 0, BusTypeAta, L'C');
    dlg.InitDriveTable();
    dlg.InitDriveList();
    sim.SetRegKeyRefusesWrites(HKEY_CURRENT_USER, kKey);
    const size_t statusTexts = view.statusHistory.size();
    dialog.clicks = {2032};

    dlg.OnConfigure();

    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_FALSE(Stored(L"HideBootDrive").has_value());
    EXPECT_LT(statusTexts, view.statusHistory.size()) << "the list was refreshed";
    EXPECT_GE(RowOf(L"Boot Disk"), 0);
}

TEST_F(ConfigTest, NothingHappensWithoutADialog) {
    dlg.SetConfigDialogRunner(nullptr);
    const size_t calls = sim.CallCount();
    dlg.OnConfigure();
    EXPECT_EQ(calls, sim.CallCount());
}

}  // namespace
