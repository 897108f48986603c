// The Configuration dialog's behaviour, apart from the real window: the twelve
// "show" flags, reading them from the options key when the dialog opens,
// moving them in and out of the check boxes, and storing them on OK. The Win32
// dialog procedure and the tests both drive it through ConfigCheckBoxes.
#pragma once

#include "platform/Win32Types.h"
#include "settings/ConfigDialogIds.h"

class CTrayhop32App;

// The dialog's twelve check boxes, addressed by control id.
class ConfigCheckBoxes {
public:
    virtual ~ConfigCheckBoxes() = default;
    virtual void SetCheck(int boxId, bool ticked) = 0;
    // False when the box's state cannot be collected.
    virtual bool GetCheck(int boxId, bool& ticked) = 0;
};

class SvcConfig;

// Runs the Configuration dialog modally; the main window supplies the real
// one, tests a scripted one.
class ConfigDialogRunner {
public:
    virtual ~ConfigDialogRunner() = default;
    // The dialog's result: IDOK, IDCANCEL (Cancel, Escape, the close box), or
    // -1 when it could not be shown.
    virtual int RunConfigDialog(SvcConfig& config) = 0;
};

inline constexpr int kConfigOptionCount = 12;
// Characters the dialog reads of each value, NUL included: "1" or "0" fit,
// a text of four or more characters does not.
inline constexpr DWORD kConfigValueChars = 5;

class SvcConfig {
public:
    // One option: its stored value, its box, and its state when the value
    // is missing or unreadable.
    struct Option {
        const wchar_t* valueName;
        int boxId;
        int SvcConfig::*flag;
        int defaultShown;
    };
    // In the order the values are read and written.
    static const Option kOptions[kConfigOptionCount];

    static constexpr DWORD kHelpContext = CONFIGURATION_HELP_CONTEXT;

    // All twelve flags start ticked.
    explicit SvcConfig(CTrayhop32App& app);

    // Dialog initialisation: reads the twelve values and ticks the boxes.
    void OnInitDialog(ConfigCheckBoxes& boxes);
    // Moves the flags into the boxes, or with saveAndValidate the boxes'
    // states into the flags; false when a state cannot be collected (the
    // flags are then left as they were).
    bool UpdateData(ConfigCheckBoxes& boxes, bool saveAndValidate);
    // OK: collects the boxes and stores all twelve values. False when the
    // boxes could not be collected: the user was told, nothing was stored,
    // and the dialog stays open.
    bool OnOK(ConfigCheckBoxes& boxes);

    void ReadOptions();
    void WriteOptions();

    // The application whose main window owns the dialog.
    CTrayhop32App& App() { return m_app; }

    // 1 = ticked (shown), 0 = cleared (hidden), in box order 2032 to 2043.
    int m_bShowBootDrive;
    int m_bShowPageDrives;
    int m_bShowCdrom;
    int m_bShowTape;
    int m_bShowIde;
    int m_bShowAtapi;
    int m_bShowUsb;
    int m_bShow1394;
    int m_bShowScsi;
    int m_bShowSsa;
    int m_bShowFibre;
    int m_bShowRaid;

private:
    CTrayhop32App& m_app;
};
