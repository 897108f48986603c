// Device-change notifications that arrive while one of the program's message
// boxes (or the Configuration dialog) is open, as a nested message loop
// delivers them; and machines at the sizes the records and texts are built
// for: many devices, many letters, long names and identifiers, names that
// look like format strings.
#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "inventory/DriveRecord.h"
#include "platform/sim/SimMachine.h"
#include "removal/RemoveCommand.h"
#include "settings/SvcConfig.h"
#include "tests/unit/support/FakeMainView.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

const wchar_t* const kBootId = L"IDE\\DISKBOOT\\5&1";
const wchar_t* const kDataId = L"IDE\\DISKDATA\\5&2";
const wchar_t* const kStickAId = L"USBSTOR\\DISK&VEN_A\\1";
const wchar_t* const kStickBId = L"USBSTOR\\DISK&VEN_B\\2";
const wchar_t* const kLeavingId = L"USBSTOR\\DISK&VEN_L\\3";
const wchar_t* const kArrivingId = L"USBSTOR\\DISK&VEN_N\\4";
const wchar_t* const kPagingKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";

// The window over a machine with a boot disk (C:), a page-file disk (D:),
// sticks A (E:) and B (F:), a stick that will be pulled (G:) and one that
// will be plugged in (H:, not yet present).
struct NestedTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    std::optional<CTrayhop32Dlg> dlg;
    SimVolume* leavingVolume = nullptr;
    SimVolume* arrivingVolume = nullptr;
    int deliveries = 0;

    NestedTest() {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        sim.SetRegMultiString(HKEY_LOCAL_MACHINE, kPagingKey, L"PagingFiles",
                              {L"D:\\pagefile.sys 512 1024"});
        Disk(kBootId, L"Boot Disk", 0, L'C', BusTypeAta);
        Disk(kDataId, L"Data Disk", 1, L'D', BusTypeAta);
        Disk(kStickAId, L"Stick A", 2, L'E');
        Disk(kStickBId, L"Stick B", 3, L'F');
        leavingVolume = &Disk(kLeavingId, L"Leaving", 4, L'G');
        arrivingVolume = &Disk(kArrivingId, L"Arriving", 5, L'H');
        sim.FindDevice(kArrivingId)->present = false;
        arrivingVolume->present = false;
        dlg.emplace(app, view);
        view.Connect(*dlg);
        sim.deviceChangeTarget = [this](UINT event) { dlg->OnDeviceChange(event, 0); };
    }

    SimVolume& Disk(const wchar_t* id, const wchar_t* name, DWORD number, wchar_t letter,
                    DWORD bus = BusTypeUsb) {
        sim.AddDevice(SimMachine::MakeDisk(id, name, number, bus, 2000000000ULL));
        return sim.AddVolume(SimMachine::MakeVolume(
            letter, number, 1000000000LL, bus == BusTypeUsb ? DRIVE_REMOVABLE : DRIVE_FIXED));
    }
    void Open() {
        dlg->InitDriveTable();
        dlg->InitDriveList();
    }

    // The user's other hand while a box is open: a new stick goes in and the
    // leaving one is pulled; both notifications reach the window at once.
    void PlugAndPull() {
        ++deliveries;
        sim.FindDevice(kArrivingId)->present = true;
        arrivingVolume->present = true;
        sim.FindDevice(kLeavingId)->present = false;
        leavingVolume->present = false;
        sim.DeliverDeviceChange(DBT_DEVICEARRIVAL);
        sim.DeliverDeviceChange(DBT_DEVICEREMOVECOMPLETE);
    }
    // Delivers once, inside the first box whose text starts with `start`.
    void DeliverInBox(const std::wstring& start, std::function<void()> alsoInBox = {}) {
        sim.messageBoxHook = [this, start, alsoInBox](const SimMessageBox& box) {
            if (deliveries == 0 && box.text.rfind(start, 0) == 0) {
                PlugAndPull();
                if (alsoInBox) alsoInBox();
            }
            return 0;
        };
    }

    int RowOf(const std::wstring& name) const {
        for (int i = 0; i < static_cast<int>(view.rows.size()); ++i)
            if (view.rows[i].data != nullptr && view.rows[i].data->deviceName == name) return i;
        return -1;
    }
    void Tick(const std::wstring& name) {
        ASSERT_GE(RowOf(name), 0);
        view.SetItemChecked(RowOf(name), true);
    }
    std::set<std::wstring> TickedNames() const {
        std::set<std::wstring> names;
        for (int row : view.CheckedRows()) names.insert(view.rows[row].data->deviceName);
        return names;
    }

    // The list once a command has ended: one row per present device in table
    // order, each pointing at the live record it shows. The button follows the
    // ticks once a row has changed; before that it is enabled, as it starts.
    void ExpectListMatchesMachine(bool rowsChanged = true) {
        std::vector<std::wstring> present;
        for (const SimDevice& d : sim.Devices())
            if (d.present) present.push_back(*d.friendlyName);
        ASSERT_EQ(app.m_driveTable.Count(), view.GetItemCount());
        std::vector<std::wstring> shown;
        for (int row = 0; row < view.GetItemCount(); ++row) {
            const DriveRecord& record = app.m_driveTable.At(row);
            EXPECT_EQ(view.rows[row].data, &record) << "row " << row;
            EXPECT_EQ(record.listItemIndex, row);
            EXPECT_NE(view.Text(row, 0).find(record.deviceName), std::wstring::npos);
            shown.push_back(record.deviceName);
        }
        EXPECT_EQ(shown, present);
        EXPECT_EQ(view.removeEnabled, !rowsChanged || !view.CheckedRows().empty());
        EXPECT_FALSE(app.m_bRefreshPending) << "no notification left unanswered";
    }

    void TearDown() override {
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_TRUE(sim.ProgramErrors().empty());
        EXPECT_TRUE(app.m_bRefreshAllowed);
        EXPECT_FALSE(app.m_bBuildInProgress);
        EXPECT_EQ(view.waitDepth, 0);
    }
};

// ---- Remove Devices: every box the command can show ---------------------------

struct RemoveBoxCase {
    const char* name;
    std::vector<const wchar_t*> ticks;
    std::function<void(NestedTest&)> setUp;
    const wchar_t* box;  // start of the box text the changes arrive in
    std::vector<int> answers;
    bool closeFilesInBox;
    std::vector<const wchar_t*> removed;  // gone from the machine afterwards
    std::set<std::wstring> tickedAfter;
};

void PrintTo(const RemoveBoxCase& c, std::ostream* os) {
    *os << c.name;
}

class RemoveBoxes : public NestedTest, public ::testing::WithParamInterface<RemoveBoxCase> {};

TEST_P(RemoveBoxes, NotificationsInsideTheBoxLeaveTheCommandOnLiveRecords) {
    const RemoveBoxCase& c = GetParam();
    Open();
    for (const wchar_t* name : c.ticks) Tick(name);
    if (c.setUp) c.setUp(*this);
    DeliverInBox(c.box, [this, &c] {
        if (!c.closeFilesInBox) return;
        for (wchar_t letter = L'C'; letter <= L'H'; ++letter)
            if (SimVolume* volume = sim.FindVolume(letter)) volume->filesOpen = false;
    });
    sim.messageBoxAnswers.assign(c.answers.begin(), c.answers.end());

    dlg->OnRemoveDevices();

    EXPECT_EQ(deliveries, 1) << "the box was shown";
    for (const wchar_t* id : c.removed) {
        const SimDevice* device = sim.FindDevice(id);
        EXPECT_TRUE(device == nullptr || device->removed);
    }
    size_t removedCount = 0;
    for (const SimDevice& d : sim.Devices()) removedCount += d.removed ? 1 : 0;
    EXPECT_EQ(removedCount, c.removed.size());
    ExpectListMatchesMachine();
    EXPECT_NE(RowOf(L"Arriving"), -1);
    EXPECT_EQ(RowOf(L"Leaving"), -1);
    EXPECT_EQ(TickedNames(), c.tickedAfter);
    EXPECT_EQ(view.Status(), L" Ready...");
}

void FilesOpenOn(NestedTest& t, wchar_t letter) {
    t.sim.FindVolume(letter)->filesOpen = true;
}

INSTANTIATE_TEST_SUITE_P(
    Nested, RemoveBoxes,
    ::testing::Values(RemoveBoxCase{"FilesInUseContinue",
                                    {L"Stick A"},
                                    [](NestedTest& t) { FilesOpenOn(t, L'E'); },
                                    L"Files are in use",
                                    {IDCONTINUE},
                                    true,
                                    {kStickAId},
                                    {}},
                      RemoveBoxCase{"FilesInUseTryAgain",
                                    {L"Stick A"},
                                    [](NestedTest& t) { FilesOpenOn(t, L'E'); },
                                    L"Files are in use",
                                    {IDTRYAGAIN},
                                    true,
                                    {kStickAId},
                                    {}},
                      RemoveBoxCase{"FilesInUseCancel",
                                    {L"Stick A", L"Stick B"},
                                    [](NestedTest& t) { FilesOpenOn(t, L'E'); },
                                    L"Files are in use",
                                    {IDCANCEL},
                                    false,
                                    {},
                                    {L"Stick A", L"Stick B"}},
                      RemoveBoxCase{
                          "AccessDenied",
                          {L"Stick A", L"Stick B"},
                          [](NestedTest& t) { t.sim.FindVolume(L'F')->openAccessDenied = true; },
                          L"'Access Denied",
                          {},
                          false,
                          {},
                          {L"Stick A", L"Stick B"}},
                      RemoveBoxCase{"BootSkipped",
                                    {L"Boot Disk", L"Stick B"},
                                    [](NestedTest& t) { FilesOpenOn(t, L'C'); },
                                    L"This device is the current",
                                    {IDOK},
                                    false,
                                    {kStickBId},
                                    {L"Boot Disk"}},
                      RemoveBoxCase{"BootCancelled",
                                    {L"Boot Disk", L"Stick B"},
                                    [](NestedTest& t) { FilesOpenOn(t, L'C'); },
                                    L"This device is the current",
                                    {IDCANCEL},
                                    false,
                                    {},
                                    {L"Boot Disk", L"Stick B"}},
                      RemoveBoxCase{"PageFileSkippedLeavesNothing",
                                    {L"Data Disk"},
                                    [](NestedTest& t) { FilesOpenOn(t, L'D'); },
                                    L"This device has an active",
                                    {IDOK},
                                    false,
                                    {},
                                    {L"Data Disk"}},
                      RemoveBoxCase{"Reboot",
                                    {L"Stick A"},
                                    [](NestedTest& t) {
                                        t.sim.FindDevice(kStickAId)->removal =
                                            SimRemovalOutcome::RemovedNeedsReboot;
                                    },
                                    L"One of the devices",
                                    {},
                                    false,
                                    {},
                                    {L"Stick A"}},
                      RemoveBoxCase{"Summary",
                                    {L"Stick A", L"Stick B"},
                                    nullptr,
                                    L"The following devices",
                                    {},
                                    false,
                                    {kStickAId, kStickBId},
                                    {}},
                      RemoveBoxCase{"NothingRemoved",
                                    {L"Stick A"},
                                    [](NestedTest& t) {
                                        t.sim.FindDevice(kStickAId)->removal =
                                            SimRemovalOutcome::Declined;
                                    },
                                    L"Unable to removed",
                                    {},
                                    false,
                                    {},
                                    {L"Stick A"}},
                      // The ticked stick that is pulled while the question about stick A
                      // is open has nothing open on it any more (its volume is gone): it
                      // is not asked about, and its leftover entry is removed with A.
                      RemoveBoxCase{"TickedDevicePulledDuringAnEarlierQuestion",
                                    {L"Stick A", L"Leaving"},
                                    [](NestedTest& t) { FilesOpenOn(t, L'E'); },
                                    L"Files are in use",
                                    {IDCONTINUE},
                                    true,
                                    {kStickAId, kLeavingId},
                                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Boxes shown by a build, the scan, Help and the Configuration dialog -------

struct BuildBoxCase {
    const char* name;
    std::function<void(NestedTest&)> setUp;  // after the window is open
    std::function<void(NestedTest&)> act;
    UINT boxFlags;         // the changes arrive in the first box with these flags
    bool openIsTheAction;  // the box comes during the window's first build
    // Stick A is ticked before the action (unless the action is the opening).
    std::set<std::wstring> tickedAfter = {L"Stick A"};
};

void PrintTo(const BuildBoxCase& c, std::ostream* os) {
    *os << c.name;
}

class BuildBoxes : public NestedTest, public ::testing::WithParamInterface<BuildBoxCase> {};

TEST_P(BuildBoxes, NotificationsInsideTheBoxAreAnsweredOnceTheBuildIsDone) {
    const BuildBoxCase& c = GetParam();
    if (c.openIsTheAction) {
        c.setUp(*this);
    } else {
        Open();
        Tick(L"Stick A");
        c.setUp(*this);
    }
    sim.messageBoxHook = [this, &c](const SimMessageBox& box) {
        if (deliveries == 0 && box.flags == c.boxFlags) PlugAndPull();
        return 0;
    };

    if (c.openIsTheAction)
        Open();
    else
        c.act(*this);

    EXPECT_EQ(deliveries, 1);
    ExpectListMatchesMachine();
    EXPECT_NE(RowOf(L"Arriving"), -1);
    EXPECT_EQ(RowOf(L"Leaving"), -1);
    const std::set<std::wstring> expected =
        c.openIsTheAction ? std::set<std::wstring>() : c.tickedAfter;
    EXPECT_EQ(TickedNames(), expected);
}

// Stick B's geometry request fails in every build: an error box each time.
void GeometryFailsOnStickB(NestedTest& t) {
    t.sim.FindDevice(kStickBId)->storage.ioctlErrors[IOCTL_DISK_GET_DRIVE_GEOMETRY] =
        ERROR_IO_DEVICE;
}
// Stick B's volume has two extents on its disk: the letter is met twice.
void StickBLetterTwice(NestedTest& t) {
    SimVolume* f = t.sim.FindVolume(L'F');
    f->extents.push_back(f->extents.front());
}

struct ScriptedConfigDialog : ConfigDialogRunner {
    std::function<void()> whileOpen;
    bool pressOk = true;
    int runs = 0;
    bool unreadableBox = false;
    struct Boxes : ConfigCheckBoxes {
        std::set<int> ticked;
        bool unreadable = false;
        void SetCheck(int id, bool on) override {
            if (on)
                ticked.insert(id);
            else
                ticked.erase(id);
        }
        bool GetCheck(int id, bool& on) override {
            on = ticked.count(id) != 0;
            return !unreadable;
        }
    };
    int RunConfigDialog(SvcConfig& config) override {
        ++runs;
        Boxes boxes;
        config.OnInitDialog(boxes);
        if (whileOpen) whileOpen();
        boxes.unreadable = unreadableBox;
        if (pressOk && config.OnOK(boxes)) return IDOK;
        return IDCANCEL;
    }
};

INSTANTIATE_TEST_SUITE_P(
    Nested, BuildBoxes,
    ::testing::Values(
        BuildBoxCase{"ErrorBoxInTheFirstBuild", GeometryFailsOnStickB, nullptr, MB_ICONERROR, true},
        BuildBoxCase{"WarningBoxInTheFirstBuild", StickBLetterTwice, nullptr, MB_ICONWARNING, true},
        BuildBoxCase{"ErrorBoxInARefresh", GeometryFailsOnStickB,
                     [](NestedTest& t) { t.dlg->OnRefreshKey(); }, MB_ICONERROR, false},
        BuildBoxCase{"WarningBoxInARefresh", StickBLetterTwice,
                     [](NestedTest& t) { t.dlg->OnRefreshKey(); }, MB_ICONWARNING, false},
        BuildBoxCase{"ErrorBoxInTheScansRebuild", GeometryFailsOnStickB,
                     [](NestedTest& t) { t.dlg->OnScanForDevices(); }, MB_ICONERROR, false},
        BuildBoxCase{"ScanAccessDenied",
                     [](NestedTest& t) { t.sim.reenumerateResult = CR_ACCESS_DENIED; },
                     [](NestedTest& t) { t.dlg->OnScanForDevices(); }, MB_ICONERROR, false},
        // Stick A stays ticked through the arrival's own refresh.
        BuildBoxCase{"HelpFailed", [](NestedTest& t) { t.sim.htmlHelpFails = true; },
                     [](NestedTest& t) { t.dlg->OnHelp(0x20066); }, MB_OK | MB_ICONEXCLAMATION,
                     false},
        BuildBoxCase{
            "ErrorBoxInTheRemovalReport",
            [](NestedTest& t) {
                // Stick B goes; the box comes from stick A in the report's refresh.
                t.Tick(L"Stick B");
                t.view.SetItemChecked(t.RowOf(L"Stick A"), false);
                t.sim.FindDevice(kStickAId)->storage.ioctlErrors[IOCTL_DISK_GET_DRIVE_GEOMETRY] =
                    ERROR_IO_DEVICE;
            },
            [](NestedTest& t) { t.dlg->OnRemoveDevices(); },
            MB_ICONERROR,
            false,
            {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NestedTest, ConfigurationDialogOpenWhileDevicesComeAndGo) {
    struct Case {
        const char* name;
        bool pressOk;
        bool unreadableBox;  // OK fails with "UpdateData() failed", then Cancel
    };
    const Case cases[] = {{"ok", true, false}, {"cancel", false, false}, {"box", true, true}};
    Open();
    Tick(L"Stick A");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case pulls and plugs anew.
        deliveries = 0;
        sim.FindDevice(kLeavingId)->present = true;
        leavingVolume->present = true;
        sim.FindDevice(kArrivingId)->present = false;
        arrivingVolume->present = false;
        dlg->OnRefreshKey();
        ASSERT_NE(RowOf(L"Leaving"), -1);

        ScriptedConfigDialog dialog;
        dialog.pressOk = c.pressOk;
        dialog.unreadableBox = c.unreadableBox;
        if (c.unreadableBox) {
            DeliverInBox(L"UpdateData() failed");
        } else {
            sim.messageBoxHook = nullptr;
            dialog.whileOpen = [this] { PlugAndPull(); };
        }
        dlg->SetConfigDialogRunner(&dialog);
        dlg->OnConfigure();
        dlg->SetConfigDialogRunner(nullptr);

        EXPECT_EQ(deliveries, 1);
        ExpectListMatchesMachine();
        EXPECT_NE(RowOf(L"Arriving"), -1);
        EXPECT_EQ(RowOf(L"Leaving"), -1);
        EXPECT_EQ(TickedNames(), std::set<std::wstring>{L"Stick A"});
    }
}

// ---- Commands asked for inside the build's boxes -------------------------------

// The build's boxes have no owner, so the window behind them takes clicks and
// keys. A command asked for there is refused with a beep and never run; a
// user's tick does not take; the build then ends on live records.
struct CommandInBox {
    const char* name;
    std::function<void(NestedTest&, int stickBRow)> ask;
    bool beeps;
};
const CommandInBox kCommandsInBox[] = {
    // The button, Alt+S and Enter (the default button) all end here.
    {"Scan", [](NestedTest& t, int) { t.dlg->OnScanForDevices(); }, true},
    {"Remove", [](NestedTest& t, int) { t.dlg->OnRemoveDevices(); }, true},
    {"Configure", [](NestedTest& t, int) { t.dlg->OnConfigure(); }, true},
    {"F5", [](NestedTest& t, int) { t.dlg->OnRefreshKey(); }, true},
    {"DoubleClick", [](NestedTest& t, int) { t.dlg->OnListDblClk(); }, true},
    {"Tick", [](NestedTest& t, int row) { t.view.SetItemChecked(row, true); }, false},
};

// What the build's command does besides the build; the first build is the
// window's opening, before any tick.
enum class Besides { Nothing, IsTheFirstBuild, Scans, Configures, RemovesStickA };
struct BuildWithBoxes {
    const char* name;
    std::function<void(NestedTest&)> run;
    Besides besides;
};
const BuildWithBoxes kBuildsWithBoxes[] = {
    {"FirstBuild", [](NestedTest& t) { t.Open(); }, Besides::IsTheFirstBuild},
    {"F5", [](NestedTest& t) { t.dlg->OnRefreshKey(); }, Besides::Nothing},
    {"DeviceChange",
     [](NestedTest& t) {
         t.sim.FindDevice(kArrivingId)->present = true;
         t.arrivingVolume->present = true;
         t.sim.DeliverDeviceChange(DBT_DEVICEARRIVAL);
     },
     Besides::Nothing},
    {"ScanRebuild", [](NestedTest& t) { t.dlg->OnScanForDevices(); }, Besides::Scans},
    {"ConfigureOk", [](NestedTest& t) { t.dlg->OnConfigure(); }, Besides::Configures},
    {"RemovalReport", [](NestedTest& t) { t.dlg->OnRemoveDevices(); }, Besides::RemovesStickA},
};

struct BoxOfABuild {
    const char* name;
    void (*setUp)(NestedTest&);
    UINT flags;
};
const BoxOfABuild kBoxesOfABuild[] = {{"SystemError", GeometryFailsOnStickB, MB_ICONERROR},
                                      {"AddVolumeWarning", StickBLetterTwice, MB_ICONWARNING}};

using CommandInBoxParam = std::tuple<size_t, size_t, size_t>;
class CommandsInBuildBoxes : public NestedTest,
                             public ::testing::WithParamInterface<CommandInBoxParam> {};

TEST_P(CommandsInBuildBoxes, AreRefusedAndTheBuildEndsOnLiveRecords) {
    const BuildWithBoxes& build = kBuildsWithBoxes[std::get<0>(GetParam())];
    const BoxOfABuild& kind = kBoxesOfABuild[std::get<1>(GetParam())];
    const CommandInBox& command = kCommandsInBox[std::get<2>(GetParam())];
    ScriptedConfigDialog dialog;
    dlg->SetConfigDialogRunner(&dialog);
    const bool first = build.besides == Besides::IsTheFirstBuild;
    int stickBRow = -1;
    if (!first) {
        Open();
        Tick(L"Stick A");
        stickBRow = RowOf(L"Stick B");
        // Selected and focused, so a double-click would toggle it.
        view.ClickRow(stickBRow);
    }
    kind.setUp(*this);
    sim.messageBoxHook = [&](const SimMessageBox& box) {
        if (deliveries == 0 && box.flags == kind.flags) {
            ++deliveries;
            command.ask(*this, stickBRow);
        }
        return 0;
    };

    build.run(*this);

    EXPECT_EQ(deliveries, 1);
    EXPECT_EQ(std::count(sim.beeps.begin(), sim.beeps.end(), static_cast<UINT>(MB_OK)),
              command.beeps ? 1 : 0);
    EXPECT_EQ(view.refusedTicks, command.beeps || first ? 0 : 1);
    EXPECT_EQ(dialog.runs, build.besides == Besides::Configures ? 1 : 0);
    EXPECT_EQ(sim.reenumerations, build.besides == Besides::Scans ? 1 : 0);
    const bool removes = build.besides == Besides::RemovesStickA;
    for (const SimDevice& d : sim.Devices())
        EXPECT_EQ(d.removed, removes && d.instanceId == kStickAId) << d.instanceId;
    ExpectListMatchesMachine(!first);
    EXPECT_EQ(TickedNames(),
              first || removes ? std::set<std::wstring>{} : std::set<std::wstring>{L"Stick A"});
    dlg->SetConfigDialogRunner(nullptr);
}

::testing::internal::ParamGenerator<size_t> IndicesOf(size_t count) {
    return ::testing::Range<size_t>(0, count);
}

std::string CommandInBoxName(const ::testing::TestParamInfo<CommandInBoxParam>& info) {
    return std::string(kBuildsWithBoxes[std::get<0>(info.param)].name) + "_" +
           kBoxesOfABuild[std::get<1>(info.param)].name + "_" +
           kCommandsInBox[std::get<2>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Nested, CommandsInBuildBoxes,
                         ::testing::Combine(IndicesOf(std::size(kBuildsWithBoxes)),
                                            IndicesOf(std::size(kBoxesOfABuild)),
                                            IndicesOf(std::size(kCommandsInBox))),
                         CommandInBoxName);

// ---- Big and odd machines ------------------------------------------------------

struct BigMachineTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    std::optional<CTrayhop32Dlg> dlg;

    void Open() {
        dlg.emplace(app, view);
        view.Connect(*dlg);
        dlg->InitDriveTable();
        dlg->InitDriveList();
    }
    int RowOf(const std::wstring& name) const {
        for (int i = 0; i < static_cast<int>(view.rows.size()); ++i)
            if (view.rows[i].data != nullptr && view.rows[i].data->deviceName == name) return i;
        return -1;
    }
    bool Removed(const std::wstring& id) {
        const SimDevice* d = sim.FindDevice(id);
        return d == nullptr || d->removed;
    }
    void TearDown() override {
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_TRUE(sim.ProgramErrors().empty());
        EXPECT_EQ(view.waitDepth, 0);
    }
};

TEST_F(BigMachineTest, AThousandAndTwentyFourDevicesAreAllListed) {
    for (int i = 0; i < 1024; ++i)
        sim.AddDevice(SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_K\\" + std::to_wstring(i),
                                           L"Disk " + std::to_wstring(i), static_cast<DWORD>(i),
                                           BusTypeUsb, 1000000000ULL));
    Open();
    ASSERT_EQ(view.GetItemCount(), 1024);
    for (int row = 0; row < 1024; ++row) {
        EXPECT_EQ(view.Text(row, 0), L"Disk " + std::to_wstring(row));
        EXPECT_EQ(view.rows[row].data, &app.m_driveTable.At(row));
    }
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST_F(BigMachineTest, ThirtyLettersFitAndTheThirtyFirstIsRefusedWithItsWarning) {
    sim.AddDevice(SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_L\\30", L"Lettered", 1, BusTypeUsb));
    // Digits sort before the letters: 0..6 and C..Y fill the thirty places, Z is the 31st.
    std::wstring all;
    for (wchar_t l = L'0'; l <= L'6'; ++l) all += l;
    for (wchar_t l = L'C'; l <= L'Z'; ++l) all += l;
    ASSERT_EQ(all.size(), 31u);
    for (wchar_t l : all) sim.AddVolume(SimMachine::MakeVolume(l, 1, 1000000LL, DRIVE_REMOVABLE));
    Open();

    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text, L"Number of drives exceeds max");
    EXPECT_EQ(sim.messageBoxes[0].flags, static_cast<UINT>(MB_ICONWARNING));
    ASSERT_EQ(view.GetItemCount(), 1);
    const DriveRecord& record = *view.rows[0].data;
    EXPECT_EQ(record.letterCount, kMaxDriveLetters);
    EXPECT_EQ(record.volumeCount, kMaxDriveLetters);
    EXPECT_EQ(record.LetterText(), all.substr(0, 30));
    std::wstring mountPoints;
    for (size_t i = 0; i < 30; ++i) mountPoints += (i ? L", " : L"") + std::wstring{all[i], L':'};
    EXPECT_EQ(view.Text(0, 2), mountPoints);

    // Removed: the shell hears of the thirty letters the record holds, no more.
    view.SetItemChecked(0, true);
    sim.messageBoxes.clear();
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Removed(L"USBSTOR\\DISK&VEN_L\\30"));
    ASSERT_EQ(sim.shellNotices.size(), 30u);
    for (size_t i = 0; i < 30; ++i)
        EXPECT_EQ(sim.shellNotices[i].path, std::wstring(1, all[i]) + L":\\");
}

// Every name of the summary is shown whole on its own line or counted in
// the closing "and N more"; the text stays within its bound.
void ExpectSummaryAccountsForEveryName(const std::wstring& text,
                                       const std::vector<std::wstring>& names, size_t limit) {
    EXPECT_LE(text.size(), limit);
    const std::wstring heading = names.size() == 1
                                     ? L"The following device was successfully removed:    \n\n"
                                     : L"The following devices were successfully removed:    \n\n";
    const std::wstring closing = names.size() == 1
                                     ? L"\n\nIt is safe to power it down and remove it."
                                     : L"\n\nIt is safe to power them down and remove them.";
    ASSERT_EQ(text.rfind(heading, 0), 0u);
    ASSERT_GE(text.size(), heading.size() + closing.size());
    ASSERT_EQ(text.substr(text.size() - closing.size()), closing);
    std::wstring body = text.substr(heading.size(), text.size() - heading.size() - closing.size());
    size_t shown = 0, counted = 0;
    for (size_t at = 0; at < body.size();) {
        const size_t end = body.find(L'\n', at);
        ASSERT_NE(end, std::wstring::npos);
        const std::wstring line = body.substr(at, end - at);
        at = end + 1;
        if (shown < names.size() && line == names[shown]) {
            ++shown;
            continue;
        }
        ASSERT_EQ(line.rfind(L"and ", 0), 0u) << "a cut name: " << line.size() << " chars";
        ASSERT_EQ(line.substr(line.size() - 5), L" more");
        counted = std::stoul(line.substr(4));
        EXPECT_EQ(at, body.size()) << "the count closes the list";
    }
    EXPECT_EQ(shown + counted, names.size());
}

std::wstring LongName(int i, size_t chars) {
    std::wstring name = L"Device " + std::to_wstring(i) + L" ";
    while (name.size() < chars) name += static_cast<wchar_t>(L'a' + name.size() % 26);
    return name;
}

TEST(RemovalSummaryBound, NamesAreWholeOrCountedAtEveryLimit) {
    struct Case {
        int count;
        size_t nameChars;
    };
    const Case cases[] = {{1, 99}, {2, 99}, {19, 99}, {20, 99}, {150, 99}, {150, 1}, {40, 50}};
    for (const Case& c : cases) {
        std::vector<std::wstring> names;
        for (int i = 0; i < c.count; ++i) names.push_back(LongName(i, c.nameChars));
        for (size_t limit = 200; limit <= 2000; limit += 37) {
            SCOPED_TRACE(testing::Message()
                         << c.count << " names of " << c.nameChars << ", limit " << limit);
            ExpectSummaryAccountsForEveryName(ComposeRemovalSummary(names, limit), names, limit);
        }
    }
}

TEST_F(BigMachineTest, AHundredAndFiftyLongNamedDevicesAreRemovedAtOnce) {
    std::vector<std::wstring> names;
    for (int i = 0; i < 150; ++i) {
        names.push_back(LongName(i, 99));
        sim.AddDevice(SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_W\\" + std::to_wstring(i),
                                           names.back(), static_cast<DWORD>(i), BusTypeUsb));
    }
    Open();
    ASSERT_EQ(view.GetItemCount(), 150);
    for (int row = 0; row < 150; ++row) {
        EXPECT_EQ(view.Text(row, 0), names[row]) << "shown whole";
        view.SetItemChecked(row, true);
    }
    dlg->OnRemoveDevices();
    for (int i = 0; i < 150; ++i)
        EXPECT_TRUE(Removed(L"USBSTOR\\DISK&VEN_W\\" + std::to_wstring(i)));
    EXPECT_EQ(view.GetItemCount(), 0);
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    ExpectSummaryAccountsForEveryName(sim.messageBoxes[0].text, names, kRemovalSummaryChars);
}

TEST_F(BigMachineTest, TwoHundredCharacterIdentifiersRemoveExactlyTheirDevice) {
    // Pairs that differ only in the last character, one pair with a "*"
    // that would match its twin read as a wildcard.
    const std::wstring base = L"USBSTOR\\DISK&VEN_LONG\\";
    std::wstring plain = base + std::wstring(199 - base.size(), L'x');
    std::wstring starred = base + L"*" + std::wstring(198 - base.size(), L'y');
    const std::vector<std::wstring> ids = {
        plain + L"1", plain + L"2", starred + L"1",
        base + L"Q" + std::wstring(198 - base.size(), L'y') + L"1"};
    for (size_t i = 0; i < ids.size(); ++i) {
        ASSERT_EQ(ids[i].size(), 200u);
        sim.AddDevice(SimMachine::MakeDisk(ids[i], L"Long " + std::to_wstring(i),
                                           static_cast<DWORD>(i), BusTypeUsb));
    }
    Open();
    ASSERT_EQ(view.GetItemCount(), 4);
    for (int row = 0; row < 4; ++row) EXPECT_EQ(view.rows[row].data->deviceInstanceId, ids[row]);

    const struct {
        const wchar_t* name;
        size_t id;
    } steps[] = {{L"Long 0", 0}, {L"Long 2", 2}};
    std::set<size_t> gone;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.id);
        view.SetItemChecked(RowOf(step.name), true);
        dlg->OnRemoveDevices();
        gone.insert(step.id);
        for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(Removed(ids[i]), gone.count(i) != 0);
    }
    EXPECT_EQ(view.GetItemCount(), 2);
}

TEST_F(BigMachineTest, PercentSignsAndControlCharactersAreShownAsData) {
    const std::wstring name = L"100% %s%n%ls %c %d\t\x01\x1b|end";
    const std::wstring id = L"USBSTOR\\DISK&VEN_%S\\%n%1";
    SimDevice disk = SimMachine::MakeDisk(id, name, 1, BusTypeUsb);
    disk.storage.vendor = "%s%n";
    disk.storage.product = "50% \x07";
    disk.storage.ioctlErrors[IOCTL_DISK_GET_DRIVE_GEOMETRY] = ERROR_IO_DEVICE;
    sim.AddDevice(disk);
    sim.AddVolume(SimMachine::MakeVolume(L'E', 1, 1000000LL, DRIVE_REMOVABLE)).filesOpen = true;
    // A system text with inserts and no arguments for them.
    sim.SetMessageText(ERROR_IO_DEVICE, L"Device %1 failed: %s %n");
    Open();

    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text, L"Device %1 failed: %s %n");
    ASSERT_EQ(view.GetItemCount(), 1);
    EXPECT_EQ(view.Text(0, 0), name);
    EXPECT_EQ(std::wstring(view.rows[0].data->vendorId), L"%s%n");
    EXPECT_EQ(std::wstring(view.rows[0].data->storageId),
              L"USBSTOR\\DISK&VEN_%S%N&PROD_50%_\x07&REV_1.00\\SIM1");

    view.SetItemChecked(0, true);
    sim.messageBoxes.clear();
    sim.messageBoxHook = [this](const SimMessageBox& box) {
        if (box.flags == static_cast<UINT>(MB_CANCELTRYCONTINUE | MB_ICONQUESTION))
            sim.FindVolume(L'E')->filesOpen = false;
        return 0;
    };
    sim.messageBoxAnswers = {IDCONTINUE};
    dlg->OnRemoveDevices();

    EXPECT_TRUE(Removed(id));
    ASSERT_GE(sim.messageBoxes.size(), 2u);
    EXPECT_EQ(sim.messageBoxes[0].text.rfind(
                  L"Files are in use on drive E: of device:\n\n" + name + L"\n\nMake sure", 0),
              0u);
    EXPECT_EQ(sim.messageBoxes.back().text,
              L"The following device was successfully removed:    \n\n" + name +
                  L"\n\n\nIt is safe to power it down and remove it.");
    EXPECT_NE(std::find(view.statusHistory.begin(), view.statusHistory.end(),
                        L" Attempting to remove " + name + L", please wait..."),
              view.statusHistory.end());
}

}  // namespace
