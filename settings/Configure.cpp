// The main window's "&Configure..." command.
#include "app/FlagScope.h"
#include "app/Trayhop32Dlg.h"
#include "settings/SvcConfig.h"

void CTrayhop32Dlg::OnConfigure() {
    if (m_pConfigDialogRunner == nullptr) return;
    if (RefuseWhileBusy()) return;
    FlagScope command(m_bCommandInProgress);
    // The dialog object lives only for its modal run; the registry keeps
    // what it stored, and the refresh reads it from there.
    SvcConfig config(m_app);
    if (m_pConfigDialogRunner->RunConfigDialog(config) == IDOK) RefreshDriveList();
}
