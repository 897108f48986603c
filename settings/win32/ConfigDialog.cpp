#include "settings/win32/ConfigDialog.h"

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "app/win32/DialogScale.h"
#include "app/win32/HelpKeys.h"

namespace {

// The dialog's check boxes over the real controls.
class DialogCheckBoxes : public ConfigCheckBoxes {
public:
    explicit DialogCheckBoxes(HWND dialog) : m_dialog(dialog) {}

    void SetCheck(int boxId, bool ticked) override {
        CheckDlgButton(m_dialog, boxId, ticked ? BST_CHECKED : BST_UNCHECKED);
    }
    bool GetCheck(int boxId, bool& ticked) override {
        HWND box = GetDlgItem(m_dialog, boxId);
        if (box == nullptr) return false;
        ticked = SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
        return true;
    }

private:
    HWND m_dialog;
};

// What the dialog's procedure needs while it runs.
struct ConfigWindow {
    SvcConfig& config;
    DialogScale scale;
};

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        // The main window's Help command finds the topic by this mark; F1
        // pressed here reaches that command through its message filter.
        SetDialogHelpTemplate(dialog, kConfigDialogTemplate);
        SetWindowContextHelpId(dialog, SvcConfig::kHelpContext);
        auto* window = reinterpret_cast<ConfigWindow*>(lParam);
        window->scale.OnInitDialog(dialog, window->config.App().GetPlatform());
        DialogCheckBoxes boxes(dialog);
        window->config.OnInitDialog(boxes);
        return TRUE;  // the focus goes to the first tab stop
    }

    auto* window = reinterpret_cast<ConfigWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (window == nullptr) return FALSE;
    SvcConfig* config = &window->config;

    switch (message) {
        case WM_DPICHANGED:
            window->scale.OnDpiChanged(dialog, config->App().GetPlatform(), wParam, lParam);
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK: {
                    DialogCheckBoxes boxes(dialog);
                    if (config->OnOK(boxes)) EndDialog(dialog, IDOK);
                    return TRUE;
                }
                case IDCANCEL:  // Cancel, Escape and the close box
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                default:
                    break;
            }
            break;
        case WM_HELP:
            // F1 alone has already reached the main window's Help command
            // through its message filter, which finds this dialog and opens
            // its topic. Windows also sends WM_HELP for every F1 key-down,
            // Shift, Ctrl or Alt held or not: answered, it opens nothing.
            return TRUE;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

int Win32ConfigDialogRunner::RunConfigDialog(SvcConfig& config) {
    ConfigWindow window{config, {}};
    const INT_PTR result =
        DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_CONFIGURATION), config.App().m_hMainWnd,
                        ConfigDialogProc, reinterpret_cast<LPARAM>(&window));
    return static_cast<int>(result);
}
