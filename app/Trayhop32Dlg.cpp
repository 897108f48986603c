#include "app/Trayhop32Dlg.h"

#include "app/FlagScope.h"
#include "app/ProgramName.h"
#include "app/Trayhop32App.h"
#include "inventory/DriveRecord.h"

#include <string>

DWORD ChooseHelpContext(std::span<const UINT> focusChain, UINT lastActiveTemplate) {
    for (UINT templateId : focusChain)
        if (templateId != 0) return HelpContextForTemplate(templateId);
    if (lastActiveTemplate != 0) return HelpContextForTemplate(lastActiveTemplate);
    return HelpContextForTemplate(kMainDialogTemplate);
}

CTrayhop32Dlg::CTrayhop32Dlg(CTrayhop32App& app, MainView& view)
    : m_app(app), m_view(view), m_previousUserInterface(app.m_pUserInterface) {
    // While the window exists, the builds show its wait cursor.
    m_app.m_pUserInterface = &m_view;
}

CTrayhop32Dlg::~CTrayhop32Dlg() {
    SavedTicks.clear();
    m_app.m_pUserInterface = m_previousUserInterface;
}

void CTrayhop32Dlg::InitDriveTable() {
    WaitCursor wait(&m_view);
    m_app.m_bRefreshAllowed = true;
    m_app.RebuildDriveTable();
}

void CTrayhop32Dlg::InitDriveList() {
    WaitCursor wait(&m_view);
    FillDriveList();
    // A device change that arrived inside one of the first build's message
    // boxes was held back (see RefreshDriveList); run it now.
    if (m_app.m_bRefreshPending) RefreshDriveList();
}

bool CTrayhop32Dlg::IsBusy() const {
    return m_app.m_bBuildInProgress || m_bRefreshInProgress || m_bCommandInProgress ||
           !m_app.m_bRefreshAllowed;
}

bool CTrayhop32Dlg::RefuseWhileBusy() {
    // The build's boxes have no owner, so the window stays live behind them;
    // a command run from there would work over rows whose records are gone.
    // Run later instead, it would act on ticks the user may no longer mean.
    if (!IsBusy()) return false;
    m_app.GetPlatform().MessageBeep(MB_OK);
    return true;
}

void CTrayhop32Dlg::OnRefreshKey() {
    if (RefuseWhileBusy()) return;
    FlagScope command(m_bCommandInProgress);
    RefreshDriveList();
    m_view.SetStatusText(L" Ready...");
}

void CTrayhop32Dlg::OnHelp(DWORD helpContext) {
    Platform& platform = m_app.GetPlatform();
    const std::wstring helpFile = m_app.HelpFilePath();
    if (platform.HtmlHelpW(m_app.m_hMainWnd, helpFile.c_str(), HH_HELP_CONTEXT, helpContext))
        return;

    // The box is captioned with the program file's name, without folder and
    // extension; the help file's path differs from it only in the extension.
    std::wstring caption = helpFile;
    const size_t slash = caption.find_last_of(L"\\/");
    if (slash != std::wstring::npos) caption.erase(0, slash + 1);
    const size_t dot = caption.rfind(L'.');
    if (dot != std::wstring::npos) caption.erase(dot);
    if (caption.empty()) caption = kProgramName;
    platform.MessageBoxW(m_app.m_hMainWnd, L"Failed to launch help.", caption.c_str(),
                         MB_OK | MB_ICONEXCLAMATION);
}
