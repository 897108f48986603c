// F1 and the help context over real windows: which key counts as the help
// key, which dialog's context the focus chain picks, and F1 inside a modal
// dialog's loop reaching the main window. Windows build only.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "app/Trayhop32Dlg.h"
#include "app/win32/HelpKeys.h"

#include <windows.h>

#include <vector>

namespace {

constexpr WORD kButtonId = 1000;

// A dialog with one push button, built in memory: the test exe carries no
// dialog resources.
std::vector<WORD> DialogTemplate(DWORD style) {
    std::vector<WORD> words;
    auto dword = [&words](DWORD value) {
        words.push_back(LOWORD(value));
        words.push_back(HIWORD(value));
    };
    dword(style);
    dword(0);            // extended style
    words.push_back(1);  // one control
    for (WORD value : {0, 0, 120, 60}) words.push_back(value);
    words.push_back(0);                             // no menu
    words.push_back(0);                             // the dialog class
    words.push_back(0);                             // no title
    if (words.size() % 2 != 0) words.push_back(0);  // items are DWORD-aligned
    dword(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
    dword(0);
    for (WORD value : {10, 10, 50, 14}) words.push_back(value);
    words.push_back(kButtonId);
    words.push_back(0xFFFF);  // predefined class: button
    words.push_back(0x0080);
    words.push_back(0);  // no text
    words.push_back(0);  // no creation data
    return words;
}

std::vector<UINT> g_commands;

INT_PTR CALLBACK RecordingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND) {
        g_commands.push_back(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// A modeless dialog, destroyed with the test.
class TestDialog {
public:
    TestDialog(HWND owner, UINT helpTemplate) {
        const std::vector<WORD> words =
            DialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
        m_hwnd = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr),
                                              reinterpret_cast<LPCDLGTEMPLATEW>(words.data()),
                                              owner, &RecordingProc, 0);
        if (m_hwnd != nullptr && helpTemplate != 0) SetDialogHelpTemplate(m_hwnd, helpTemplate);
    }
    TestDialog(const TestDialog&) = delete;
    TestDialog& operator=(const TestDialog&) = delete;
    ~TestDialog() {
        if (m_hwnd != nullptr) ::DestroyWindow(m_hwnd);
    }
    HWND Window() const { return m_hwnd; }
    HWND Button() const { return ::GetDlgItem(m_hwnd, kButtonId); }

private:
    HWND m_hwnd = nullptr;
};

TEST(HelpKey, OnlyF1PressedAloneIsTheHelpKey) {
    struct Case {
        const char* keys;
        UINT message;
        WPARAM key;
        bool shift, ctrl, alt;
        bool help;
    };
    const Case cases[] = {
        {"F1", WM_KEYDOWN, VK_F1, false, false, false, true},
        {"Shift+F1", WM_KEYDOWN, VK_F1, true, false, false, false},
        {"Ctrl+F1", WM_KEYDOWN, VK_F1, false, true, false, false},
        {"Alt+F1", WM_SYSKEYDOWN, VK_F1, false, false, true, false},
        {"Alt+F1 as a key-down", WM_KEYDOWN, VK_F1, false, false, true, false},
        {"F1 released", WM_KEYUP, VK_F1, false, false, false, false},
        {"F5", WM_KEYDOWN, VK_F5, false, false, false, false},
        {"a character", WM_CHAR, VK_F1, false, false, false, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsPlainHelpKey(c.message, c.key, c.shift, c.ctrl, c.alt), c.help) << c.keys;
}

struct HelpWindows : ::testing::Test {
    void SetUp() override {
        g_commands.clear();
        // Wine without a display creates no windows. ctest gives the suite
        // a display and fails it on any skipped case.
        if (main.Window() == nullptr) GTEST_SKIP() << "no window can be created here";
    }
    TestDialog main{nullptr, kMainDialogTemplate};
};

TEST_F(HelpWindows, TheDialogHoldingTheFocusChoosesTheContext) {
    ::SetFocus(main.Button());
    EXPECT_EQ(FindHelpContext(main.Window()), 131174u) << "a button of the main window";

    TestDialog about(main.Window(), kAboutDialogTemplate);
    ::SetFocus(about.Button());
    EXPECT_EQ(FindHelpContext(main.Window()), 131181u) << "the About box's button";

    TestDialog config(main.Window(), kConfigDialogTemplate);
    ::SetFocus(config.Window());
    EXPECT_EQ(FindHelpContext(main.Window()), 133498u) << "the Configuration dialog itself";
}

TEST_F(HelpWindows, AWindowThatIsNotOneOfTheProgramsDialogsDoesNotAnswer) {
    // Its owner, the About box, answers instead.
    TestDialog about(main.Window(), kAboutDialogTemplate);
    TestDialog other(about.Window(), 0);
    ::SetFocus(other.Button());
    EXPECT_EQ(FindHelpContext(main.Window()), 131181u);
    EXPECT_EQ(GetDialogHelpTemplate(other.Button()), 0u);
}

TEST_F(HelpWindows, F1InAModalLoopSendsTheHelpCommandToTheMainWindow) {
    TestDialog about(main.Window(), kAboutDialogTemplate);
    HelpKeyFilter filter(main.Window());

    MSG f1 = {};
    f1.hwnd = about.Button();
    f1.message = WM_KEYDOWN;
    f1.wParam = VK_F1;
    MSG f5 = f1;
    f5.wParam = VK_F5;

    // What the dialog manager asks the filter before it handles a key.
    EXPECT_TRUE(::CallMsgFilterW(&f1, MSGF_DIALOGBOX)) << "F1 is consumed";
    EXPECT_EQ(g_commands, std::vector<UINT>{kCmdHelp});
    EXPECT_TRUE(::CallMsgFilterW(&f1, MSGF_MESSAGEBOX)) << "in a message box too";
    EXPECT_FALSE(::CallMsgFilterW(&f5, MSGF_DIALOGBOX)) << "other keys go on to the dialog";
    EXPECT_EQ(g_commands, (std::vector<UINT>{kCmdHelp, kCmdHelp}));
}

TEST_F(HelpWindows, NoFilterOnceItIsGone) {
    { HelpKeyFilter filter(main.Window()); }
    MSG f1 = {};
    f1.message = WM_KEYDOWN;
    f1.wParam = VK_F1;
    EXPECT_FALSE(::CallMsgFilterW(&f1, MSGF_DIALOGBOX));
    EXPECT_TRUE(g_commands.empty());
}

}  // namespace

#endif  // _WIN32
