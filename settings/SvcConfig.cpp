#include "settings/SvcConfig.h"

#include "app/Trayhop32App.h"
#include "settings/SettingsStore.h"

const SvcConfig::Option SvcConfig::kOptions[kConfigOptionCount] = {
    {L"IgnoreSCSI", IDC_SHOW_SCSI, &SvcConfig::m_bShowScsi, 1},
    {L"IgnoreATAPI", IDC_SHOW_ATAPI, &SvcConfig::m_bShowAtapi, 1},
    {L"IgnoreIDE", IDC_SHOW_IDE, &SvcConfig::m_bShowIde, 1},
    {L"Ignore1394", IDC_SHOW_1394, &SvcConfig::m_bShow1394, 1},
    {L"IgnoreSSA", IDC_SHOW_SSA, &SvcConfig::m_bShowSsa, 0},
    {L"IgnoreFibre", IDC_SHOW_FIBRE, &SvcConfig::m_bShowFibre, 1},
    {L"IgnoreUSB", IDC_SHOW_USB, &SvcConfig::m_bShowUsb, 1},
    {L"IgnoreRAID", IDC_SHOW_RAID, &SvcConfig::m_bShowRaid, 0},
    {L"IgnoreCDROM", IDC_SHOW_CDROM, &SvcConfig::m_bShowCdrom, 0},
    {L"IgnoreTape", IDC_SHOW_TAPE, &SvcConfig::m_bShowTape, 0},
    {L"HideBootDrive", IDC_SHOW_BOOT_DRIVE, &SvcConfig::m_bShowBootDrive, 1},
    {L"HidePageDrives", IDC_SHOW_PAGE_DRIVES, &SvcConfig::m_bShowPageDrives, 1},
};

SvcConfig::SvcConfig(CTrayhop32App& app)
    : m_bShowBootDrive(1),
      m_bShowPageDrives(1),
      m_bShowCdrom(1),
      m_bShowTape(1),
      m_bShowIde(1),
      m_bShowAtapi(1),
      m_bShowUsb(1),
      m_bShow1394(1),
      m_bShowScsi(1),
      m_bShowSsa(1),
      m_bShowFibre(1),
      m_bShowRaid(1),
      m_app(app) {}

void SvcConfig::ReadOptions() {
    Platform& platform = m_app.GetPlatform();
    for (const Option& option : kOptions) {
        wchar_t text[kConfigValueChars] = {};
        if (ReadSettingString(platform, HKEY_CURRENT_USER, option.valueName, text,
                              kConfigValueChars))
            this->*option.flag = text[0] == L'1' ? 0 : 1;
        else
            this->*option.flag = option.defaultShown;
    }
}

void SvcConfig::WriteOptions() {
    Platform& platform = m_app.GetPlatform();
    // Every value is written, changed or not; a failed write is not reported
    // and the next rebuild reads whatever the key holds.
    for (const Option& option : kOptions)
        WriteSettingString(platform, HKEY_CURRENT_USER, option.valueName,
                           this->*option.flag != 0 ? L"0" : L"1");
}

void SvcConfig::OnInitDialog(ConfigCheckBoxes& boxes) {
    ReadOptions();
    UpdateData(boxes, false);
}

bool SvcConfig::UpdateData(ConfigCheckBoxes& boxes, bool saveAndValidate) {
    if (!saveAndValidate) {
        for (const Option& option : kOptions) boxes.SetCheck(option.boxId, this->*option.flag != 0);
        return true;
    }
    // Collected into a copy first, so a box that cannot be read leaves every
    // flag as it was.
    int collected[kConfigOptionCount] = {};
    for (int i = 0; i < kConfigOptionCount; ++i) {
        bool ticked = false;
        if (!boxes.GetCheck(kOptions[i].boxId, ticked)) return false;
        collected[i] = ticked ? 1 : 0;
    }
    for (int i = 0; i < kConfigOptionCount; ++i) this->*kOptions[i].flag = collected[i];
    return true;
}

bool SvcConfig::OnOK(ConfigCheckBoxes& boxes) {
    if (!UpdateData(boxes, true)) {
        m_app.ProgramMessageBox(L"UpdateData() failed", MB_ICONINFORMATION);
        return false;
    }
    WriteOptions();
    return true;
}
