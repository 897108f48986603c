// The drive list: rows from the drive table, the ticks kept across a rebuild,
// and the list's notifications.
#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "app/FlagScope.h"
#include "inventory/DriveRecord.h"
#include "inventory/DriveTable.h"
#include "listview/ListRows.h"
#include "settings/SettingsStore.h"

#include <cwchar>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

bool AnyRowTicked(MainView& view) {
    const int count = view.GetItemCount();
    for (int row = 0; row < count; ++row)
        if (view.IsItemChecked(row)) return true;
    return false;
}

}  // namespace

void CTrayhop32Dlg::FillDriveList() {
    if (!m_app.m_bRefreshAllowed) return;
    WaitCursor wait(&m_view);
    // Drawn once when the rows are in: drawing each row as it comes costs
    // seconds for a few hundred rows.
    ListUpdate update(m_view);

    m_view.DeleteAllItems();
    m_view.SetStatusText(L" Loading the drive list, please wait...");

    const ListOptions options = ReadListOptions(m_app.GetPlatform());

    DriveTable& table = m_app.m_driveTable;
    int next = 0;
    // A list with check boxes may report each new row's box as a change;
    // such changes are counted, not handled: handling one walks every row.
    m_deferredRowChanges = 0;
    FlagScope defer(m_bRowsChanging);
    for (int i = 0; i < table.Count(); ++i) {
        DriveRecord& record = table.At(i);
        const std::optional<ListRowTexts> texts = ListRowFor(record, options);
        if (!texts) {
            record.listItemIndex = -1;
            continue;
        }

        const int row = m_view.InsertItem(next, (*texts)[0].c_str(), &record);
        if (row < 0) {
            record.listItemIndex = -1;
            continue;
        }
        record.listItemIndex = row;
        for (int column = 1; column < kListColumnCount; ++column)
            m_view.SetItemText(row, column, (*texts)[column].c_str());
        next = row + 1;
    }
    if (m_deferredRowChanges > 0) m_view.EnableRemoveButton(AnyRowTicked(m_view));

    m_view.SetStatusText(L" Ready...");
}

void CTrayhop32Dlg::SaveTickedDrives() {
    // Copies left from a save that was never restored are stale.
    SavedTicks.clear();
    const int count = m_view.GetItemCount();
    for (int row = 0; row < count; ++row) {
        if (!m_view.IsItemChecked(row)) continue;
        const DriveRecord* record = m_view.GetItemData(row);
        if (record == nullptr) continue;
        // A copy that cannot be allocated loses only its own tick.
        std::unique_ptr<DriveRecord> copy(new (std::nothrow) DriveRecord(*record));
        if (copy) SavedTicks.push_back(std::move(copy));
    }
}

void CTrayhop32Dlg::RestoreTickedDrives() {
    // Taken out first, so the saved copies are gone on every way out.
    std::vector<std::unique_ptr<DriveRecord>> saved;
    saved.swap(SavedTicks);

    DriveTable& table = m_app.m_driveTable;
    // The shown records by name, so each saved tick looks at its namesakes
    // only. Every record of that name is tried, not only the first: two
    // identical sticks share a name and differ in device number and instance
    // identifier, and a tick on either must come back.
    std::unordered_multimap<std::wstring_view, DriveRecord*> shownByName;
    if (!saved.empty()) {
        shownByName.reserve(static_cast<std::size_t>(table.Count()));
        for (int i = 0; i < table.Count(); ++i) {
            DriveRecord& record = table.At(i);
            if (record.listItemIndex >= 0)
                shownByName.emplace(FieldView(record.deviceName), &record);
        }
    }
    {
        m_deferredRowChanges = 0;
        FlagScope defer(m_bRowsChanging);
        for (const auto& copy : saved) {
            if (!copy) continue;
            const auto [first, last] = shownByName.equal_range(FieldView(copy->deviceName));
            for (auto it = first; it != last; ++it) {
                DriveRecord& record = *it->second;
                if (m_view.GetItemData(record.listItemIndex) != &record) continue;
                if (!SameDevice(*copy, record)) continue;
                SetTickByProgram(record.listItemIndex, true);
            }
        }
    }
    // The rows were all replaced, and a tick that did not come back raises no
    // notification; without this the button would stay enabled with nothing
    // ticked.
    m_view.EnableRemoveButton(AnyRowTicked(m_view));
    // What the last restored tick's notification would have said.
    if (m_deferredRowChanges > 0) m_view.SetStatusText(L"  Ready...");
}

void CTrayhop32Dlg::FillAndRestoreTicks() {
    ListUpdate update(m_view);
    FillDriveList();
    RestoreTickedDrives();
}

void CTrayhop32Dlg::RefreshDriveList() {
    if (!m_app.m_bRefreshAllowed) return;

    // A refresh asked for while a build or a refresh is already running (a
    // device-change notification delivered inside one of the build's message
    // boxes) is not run nested: the outer build has cleared the table the
    // rows still point to, and a nested rebuild would destroy the records the
    // outer one is filling. It is noted in m_bRefreshPending (RebuildDriveTable
    // notes it the same way when it is called nested) and run here once the
    // running refresh has finished its steps. One extra pass at most per call,
    // so a stream of notifications cannot keep the window busy; a request that
    // comes during that pass stays pending for the next refresh.
    if (m_app.m_bBuildInProgress || m_bRefreshInProgress) {
        m_app.m_bRefreshPending = true;
        return;
    }

    WaitCursor wait(&m_view);
    FlagScope inProgress(m_bRefreshInProgress);
    for (int pass = 0; pass < 2; ++pass) {
        m_app.m_bRefreshPending = false;
        SaveTickedDrives();
        m_app.RebuildDriveTable();
        FillAndRestoreTicks();
        if (!m_app.m_bRefreshPending || !m_app.m_bRefreshAllowed) break;
    }
}

LRESULT CTrayhop32Dlg::OnListItemChanged(int changedItem) {
    if (m_bRowsChanging) {
        ++m_deferredRowChanges;
        return 0;
    }
    m_view.EnableRemoveButton(AnyRowTicked(m_view));

    // A change for no single row (index -1) is not a selected, unticked row.
    const bool validRow = changedItem >= 0 && changedItem < m_view.GetItemCount();
    if (validRow && !m_view.IsItemChecked(changedItem) && m_view.IsItemSelected(changedItem))
        m_view.SetStatusText(L"  Check the box to mark this device for removal.");
    else
        m_view.SetStatusText(L"  Ready...");
    return 0;
}

bool CTrayhop32Dlg::AllowTickChange() const {
    return m_bProgramTicking || !IsBusy();
}

void CTrayhop32Dlg::SetTickByProgram(int row, bool checked) {
    FlagScope ticking(m_bProgramTicking);
    m_view.SetItemChecked(row, checked);
}

LRESULT CTrayhop32Dlg::OnListDblClk() {
    if (RefuseWhileBusy()) return 0;
    // With no row both focused and selected there is nothing to toggle.
    const int row = m_view.GetFocusedSelectedItem();
    if (row >= 0) SetTickByProgram(row, !m_view.IsItemChecked(row));
    return 0;
}

LRESULT CTrayhop32Dlg::OnListColumnClick(int /*column*/) {
    // The list keeps table order; a header click does not sort.
    return 0;
}
