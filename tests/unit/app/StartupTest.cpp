#include <gtest/gtest.h>

#include "app/ProgramName.h"
#include "app/Trayhop32App.h"
#include "platform/sim/SimMachine.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t* const kMutex = L"Global\\Quenwell Trayhop32";
const wchar_t* const kKey = L"Software\\Quenwell\\Trayhop32\\1.3";
const wchar_t* const k64BitMessage =
    L"The 32-bit version of Trayhop does not run on 64-bit versions of Windows. \n\n"
    L"Please upgrade to Trayhop64";
const wchar_t* const kOtherSessionMessage =
    L"Trayhop is already running in another user's session on this computer.\n\nOnly one copy "
    L"of Trayhop can run at a time, for all users. Close it in that session, then start "
    TRAYHOP_PROGRAM_NAME L" again.";
const wchar_t* const kRegistryMessage =
    L"You do not have sufficient registry privileges to run " TRAYHOP_PROGRAM_NAME L".  \n\nYou "
    L"must have privileges to create values in the HKEY_CURRENT_USER section of the registry.";
// Trayhop32 refuses a 64-bit edition; Trayhop64 runs there.
const wchar_t* const kOn64BitMessage = kRefusesWindows64 ? k64BitMessage : nullptr;
HWND const kMainWindow = reinterpret_cast<HWND>(0x4242);

// Stands in for the main window: records the run and what start-up held then.
class FakeRunner : public MainWindowRunner {
public:
    void RunMainWindow(CTrayhop32App& app) override {
        ran = true;
        heldMutexDuringRun = app.HoldsInstanceMutex();
        app.m_hMainWnd = kMainWindow;
        app.ProgramMessageBox(L"owned", MB_OK);
    }
    void DestroyMainWindow(CTrayhop32App& app) override {
        heldMutexAtDestroy = app.HoldsInstanceMutex();
        app.m_hMainWnd = nullptr;
    }
    bool ran = false;
    bool heldMutexDuringRun = false;
    bool heldMutexAtDestroy = true;
};

struct StartCase {
    const char* situation;
    std::function<void(SimMachine&)> setUp;
    bool runs;
    bool holdsMutex;         // during the run, or after an error exit
    const wchar_t* message;  // the start-up error box, if any
    bool activates;
    UINT flags = MB_ICONERROR;  // of the box
};

TEST(Startup, EachBranchOfTheSequence) {
    auto window = [](bool iconic) {
        return [iconic](SimMachine& sim) {
            sim.AddExistingMutex(kMutex);
            sim.AddWindow({L"#32770", kProgramName, iconic, true, nullptr});
        };
    };
    auto unwritable = [](SimMachine& sim) {
        sim.SetRegKeyRefusesWrites(HKEY_CURRENT_USER, L"Software\\Quenwell");
    };
    const StartCase cases[] = {
        {"normal start", [](SimMachine&) {}, true, true, nullptr, false},
        {"running instance, minimised", window(true), false, false, nullptr, true},
        {"running instance, shown", window(false), false, false, nullptr, true},
        {"running instance of the other edition",
         [](SimMachine& sim) {
             sim.AddExistingMutex(kMutex);
             sim.AddWindow({L"#32770", kOtherEditionName, false, true, nullptr});
         },
         false, false, nullptr, true},
        {"mutex held, its window in another user's session",
         [](SimMachine& sim) {
             sim.AddExistingMutex(kMutex);
             SimWindow other{L"#32770", kProgramName, false, true, nullptr};
             other.sessionId = 2;
             sim.AddWindow(other);
             sim.AddWindow({L"#32770", kProgramName + std::wstring(L" "), false, true, nullptr});
         },
         false, false, kOtherSessionMessage, false, MB_ICONINFORMATION},
        {"mutex creation fails, window exists",
         [&](SimMachine& sim) {
             window(false)(sim);
             sim.mutexCreateError = ERROR_ACCESS_DENIED;
         },
         false, false, nullptr, true},
        {"mutex of another user's session refuses access, no window here",
         [](SimMachine& sim) { sim.mutexCreateError = ERROR_ACCESS_DENIED; }, false, false,
         kOtherSessionMessage, false, MB_ICONINFORMATION},
        {"mutex creation fails for another reason: nothing says another runs",
         [](SimMachine& sim) { sim.mutexCreateError = ERROR_NOT_ENOUGH_MEMORY; }, true, false,
         nullptr, false},
        {"64-bit edition", [](SimMachine& sim) { sim.edition = SimEdition::Bits64; },
         !kRefusesWindows64, true, kOn64BitMessage, false},
        {"64-bit check comes before the registry check",
         [&](SimMachine& sim) {
             sim.edition = SimEdition::Bits64;
             unwritable(sim);
         },
         false, true, kRefusesWindows64 ? k64BitMessage : kRegistryMessage, false},
        {"edition query fails otherwise",
         [](SimMachine& sim) { sim.edition = SimEdition::QueryFails; }, !kRefusesWindows64, true,
         kOn64BitMessage, false},
        {"function missing counts as 32-bit",
         [](SimMachine& sim) { sim.edition = SimEdition::FunctionMissing; }, true, true, nullptr,
         false},
        {"no kernel32 counts as 32-bit", [](SimMachine& sim) { sim.kernel32Missing = true; }, true,
         true, nullptr, false},
        {"registry not writable", unwritable, false, true, kRegistryMessage, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        SimMachine sim;
        c.setUp(sim);
        FakeRunner runner;
        auto app = std::make_unique<CTrayhop32App>(sim);
        EXPECT_TRUE(app->m_bRefreshAllowed);
        EXPECT_EQ(app->m_driveTable.Count(), 0);

        EXPECT_FALSE(app->InitInstance(runner));

        EXPECT_EQ(sim.initCommonControlsCalls, 1);
        // Trayhop64 never asks which edition it runs on.
        if (!kRefusesWindows64) {
            for (const SimCall& call : sim.Calls())
                EXPECT_FALSE(call.method == "GetProcAddress" &&
                             call.args.find("GetSystemWow64DirectoryW") != std::string::npos);
        }
        EXPECT_EQ(runner.ran, c.runs);
        std::vector<SimMessageBox> boxes = sim.messageBoxes;
        if (c.runs) {
            EXPECT_EQ(runner.heldMutexDuringRun, c.holdsMutex);
            EXPECT_FALSE(runner.heldMutexAtDestroy);
            EXPECT_FALSE(app->HoldsInstanceMutex());
            EXPECT_EQ(app->m_hMainWnd, nullptr);
            // "User" was written, and removed again.
            EXPECT_EQ(sim.CallCount("RegSetValueExW"), 1u);
            EXPECT_EQ(sim.CallCount("RegDeleteValueW"), 1u);
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].owner, kMainWindow);
            boxes.clear();
        } else {
            EXPECT_EQ(app->HoldsInstanceMutex(), c.holdsMutex);
        }
        if (c.message != nullptr) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.message);
            EXPECT_EQ(boxes[0].caption, kProgramName);
            EXPECT_EQ(boxes[0].flags, c.flags);
            EXPECT_EQ(boxes[0].owner, nullptr);
        } else {
            EXPECT_TRUE(boxes.empty());
        }
        EXPECT_EQ(sim.windowActions.empty(), !c.activates);
        EXPECT_FALSE(sim.GetRegValue(HKEY_CURRENT_USER, kKey, L"User"));
        EXPECT_EQ(sim.OutstandingKeys(), 0u);

        ASSERT_EQ(sim.mutexCreates.size(), 1u);
        EXPECT_EQ(sim.mutexCreates[0].name, kMutex);
        EXPECT_TRUE(sim.mutexCreates[0].nullDacl);
        EXPECT_EQ(sim.mutexCreates[0].initialOwner, FALSE);

        // The error exits leave the mutex to the end of the process.
        app.reset();
        EXPECT_EQ(sim.LeakReport(), "");
        EXPECT_TRUE(sim.ProgramErrors().empty());
    }
}

TEST(Startup, TheLibrarySearchLosesTheCurrentFolderBeforeAnythingLoads) {
    for (const bool oldSystem : {false, true}) {
        SCOPED_TRACE(oldSystem ? "before Windows 8" : "Windows 8 on");
        SimMachine sim;
        sim.defaultDllDirectoriesMissing = oldSystem;
        FakeRunner runner;
        CTrayhop32App app(sim);
        app.InitInstance(runner);

        EXPECT_TRUE(runner.ran);
        ASSERT_EQ(sim.dllDirectories.size(), 1u);
        EXPECT_EQ(sim.dllDirectories[0], std::wstring()) << "empty, not null (the default)";
        EXPECT_EQ(
            sim.defaultDllDirectories,
            oldSystem ? std::vector<DWORD>{} : std::vector<DWORD>{LOAD_LIBRARY_SEARCH_SYSTEM32});
        std::vector<std::string> first;
        for (size_t i = 0; i < sim.Calls().size() && sim.Calls()[i].method != "InitCommonControls";
             ++i)
            first.push_back(sim.Calls()[i].method);
        std::vector<std::string> expected = {"SetDllDirectoryW", "GetModuleHandleW",
                                             "GetProcAddress"};
        if (!oldSystem) expected.push_back("SetDefaultDllDirectories");
        EXPECT_EQ(first, expected);
    }
}

TEST(Startup, ActivationRestoresAndFocusesTheLastPopup) {
    SimMachine sim;
    HWND popup = sim.AddWindow({L"#32770", L"Remove Devices", false, true, nullptr});
    HWND running = sim.AddWindow({L"#32770", kProgramName, true, true, popup});
    CTrayhop32App app(sim);
    ASSERT_TRUE(app.ActivateRunningInstance());
    const std::pair<std::string, HWND> expected[] = {{"ShowWindow", running},
                                                     {"GetLastActivePopup", running},
                                                     {"BringWindowToTop", running},
                                                     {"SetForegroundWindow", popup}};
    ASSERT_EQ(sim.windowActions.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sim.windowActions[i].call, expected[i].first);
        EXPECT_EQ(sim.windowActions[i].hwnd, expected[i].second);
    }
    EXPECT_EQ(sim.windowActions[0].arg, SW_RESTORE);
}

// One instance of either edition runs per machine: a second start brings
// forward the window titled with its own name, or else the other edition's.
// The host build and the i686 tree run this as Trayhop32, the x86_64 tree as
// Trayhop64, so both orders are tried.
TEST(Startup, EitherEditionsWindowIsBroughtForwardOwnNameFirst) {
    const std::wstring lookAlike = std::wstring(kProgramName) + L" ";
    const struct {
        const char* situation;
        std::vector<std::wstring> titles;  // windows present, in creation order
        int activated;                     // index into titles, -1: none
    } cases[] = {
        {"own edition running", {kProgramName}, 0},
        {"other edition running", {kOtherEditionName}, 0},
        {"both titles present: its own first", {kOtherEditionName, kProgramName}, 1},
        {"a title that only starts with the name", {lookAlike, L"Trayhop"}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        SimMachine sim;
        std::vector<HWND> windows;
        for (const std::wstring& title : c.titles)
            windows.push_back(sim.AddWindow({L"#32770", title, false, true, nullptr}));
        CTrayhop32App app(sim);
        EXPECT_EQ(app.ActivateRunningInstance(), c.activated >= 0);
        if (c.activated < 0) {
            EXPECT_TRUE(sim.windowActions.empty());
            continue;
        }
        ASSERT_FALSE(sim.windowActions.empty());
        EXPECT_EQ(sim.windowActions.back().call, "SetForegroundWindow");
        EXPECT_EQ(sim.windowActions.back().hwnd, windows[c.activated]);
    }
}

TEST(Startup, HelpFileSitsBesideTheProgram) {
    SimMachine sim;
    CTrayhop32App app(sim);
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Program Files\\Quenwell\\Trayhop32.exe",
         L"C:\\Program Files\\Quenwell\\Trayhop32.CHM"},
        {L"C:\\v1.3\\Trayhop32", L"C:\\v1.3\\Trayhop32.CHM"},
    };
    for (const auto& [module, help] : cases) {
        sim.modulePath = module;
        EXPECT_EQ(app.HelpFilePath(), help);
    }
}

}  // namespace
