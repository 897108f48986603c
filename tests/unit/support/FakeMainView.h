// A main window for tests that behaves like the real controls: rows with six
// column texts, row data, tick, selection and focus; a tick or selection
// change raises the item-changed notification into the connected window
// logic, as the list control does, and a tick change first asks the logic
// whether it may happen, as the control's item-changing notification does
// (the program's own ticks go through the same question). It records the status texts, the Remove
// button state and the wait cursor.
#pragma once

#include "app/MainView.h"
#include "app/Trayhop32Dlg.h"

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class FakeMainView : public MainView {
public:
    struct Row {
        std::wstring text[6];
        DriveRecord* data = nullptr;
        bool checked = false;
        bool selected = false;
        bool focused = false;
    };

    // Notifications go to the window logic from now on.
    void Connect(CTrayhop32Dlg& dlg) {
        onItemChanged = [&dlg](int item) { dlg.OnListItemChanged(item); };
        onTickChanging = [&dlg] { return dlg.AllowTickChange(); };
    }

    // MainView.
    int GetItemCount() override { return static_cast<int>(rows.size()); }
    void DeleteAllItems() override { rows.clear(); }
    int InsertItem(int index, const wchar_t* text, DriveRecord* data) override {
        ++insertCalls;
        if (failInsertCalls.count(insertCalls) != 0) return -1;
        // Like the control, an index past the end appends.
        if (index < 0) return -1;
        if (index > GetItemCount()) index = GetItemCount();
        Row row;
        row.text[0] = text ? text : L"";
        row.data = data;
        rows.insert(rows.begin() + index, row);
        // Windows' list reports the new row's check box as a change.
        if (notifyOnInsert) Notify(index);
        return index;
    }
    void SetItemText(int index, int column, const wchar_t* text) override {
        if (!ValidRow(index) || column < 0 || column >= 6) return;
        rows[index].text[column] = text ? text : L"";
    }
    DriveRecord* GetItemData(int index) override {
        return ValidRow(index) ? rows[index].data : nullptr;
    }
    bool IsItemChecked(int index) override {
        ++tickReads;
        return ValidRow(index) && rows[index].checked;
    }
    void SetItemChecked(int index, bool checked) override {
        if (!ValidRow(index) || rows[index].checked == checked) return;
        if (onTickChanging && !onTickChanging()) {
            ++refusedTicks;
            return;
        }
        rows[index].checked = checked;
        Notify(index);
    }
    bool IsItemSelected(int index) override { return ValidRow(index) && rows[index].selected; }
    int GetFocusedSelectedItem() override {
        for (int i = 0; i < GetItemCount(); ++i)
            if (rows[i].focused && rows[i].selected) return i;
        return -1;
    }
    void EnableRemoveButton(bool enable) override { removeEnabled = enable; }
    void SetStatusText(const wchar_t* text) override { statusHistory.push_back(text ? text : L""); }
    void BeginWaitCursor() override {
        ++waitDepth;
        ++waitCursorShown;
    }
    void EndWaitCursor() override { --waitDepth; }
    void BeginListUpdate() override {
        if (updateDepth++ == 0) ++listUpdates;
    }
    void EndListUpdate() override { --updateDepth; }
    bool PumpMessagesFor(DWORD milliseconds) override {
        pumps.push_back(milliseconds);
        return onPump ? onPump(milliseconds) : true;
    }
    void InsertColumn(int index, const wchar_t* header, int width) override {
        columns.insert(columns.begin() + std::min<size_t>(index, columns.size()),
                       Column{header ? header : L"", width});
    }
    int GetColumnWidth(int index) override {
        return index >= 0 && index < static_cast<int>(columns.size()) ? columns[index].width : -1;
    }
    void SetColumnWidth(int index, int width) override {
        if (index >= 0 && index < static_cast<int>(columns.size())) columns[index].width = width;
    }
    void SetWindowIcons(int bigSize, int smallSize) override {
        iconSizes.push_back({bigSize, smallSize});
    }
    void SetWindowRect(const RECT& rect) override { windowRects.push_back(rect); }
    void RescaleControls(UINT fromDpi, UINT toDpi) override {
        controlRescales.push_back({fromDpi, toDpi});
    }
    int DialogUnitsToPixels(int units) override { return units * baseUnit / 4; }

    // What a user does with the mouse: a click selects one row and focuses it
    // (the previous selection goes); each row whose state changes notifies.
    void ClickRow(int index) {
        for (int i = 0; i < GetItemCount(); ++i) {
            const bool select = i == index;
            rows[i].focused = select;
            if (rows[i].selected != select) {
                rows[i].selected = select;
                Notify(i);
            }
        }
    }

    // The test's view of the window.
    std::wstring Status() const { return statusHistory.empty() ? L"" : statusHistory.back(); }
    std::wstring Text(int row, int column) const { return rows.at(row).text[column]; }
    std::vector<int> CheckedRows() const {
        std::vector<int> result;
        for (int i = 0; i < static_cast<int>(rows.size()); ++i)
            if (rows[i].checked) result.push_back(i);
        return result;
    }

    struct Column {
        std::wstring header;
        int width;
    };
    std::vector<Column> columns;
    // The window's icons (big, small), rectangles and control rescales
    // (from, to DPI), in the order they were asked for.
    std::vector<std::pair<int, int>> iconSizes;
    std::vector<RECT> windowRects;
    std::vector<std::pair<UINT, UINT>> controlRescales;
    // Pixels per 4 dialog units of the window's font: 6 at 96 DPI.
    int baseUnit = 6;

    std::vector<Row> rows;
    // 1-based numbers of InsertItem calls that fail, counted over the fake's life.
    std::set<int> failInsertCalls;
    int insertCalls = 0;
    // The real button starts enabled.
    bool removeEnabled = true;
    std::vector<std::wstring> statusHistory;
    int waitDepth = 0;
    int waitCursorShown = 0;
    int notifications = 0;
    // Tick reads (a walk over the rows reads every row's tick) and the
    // outermost list updates (each ends in one redraw).
    int tickReads = 0;
    int updateDepth = 0;
    int listUpdates = 0;
    // As Windows' list does and Wine's does not: a new row notifies.
    bool notifyOnInsert = false;
    int refusedTicks = 0;
    // Each wait of a command, in milliseconds; onPump runs inside it (a test
    // moves the machine's clock there) and answers whether the window lives.
    std::vector<DWORD> pumps;
    std::function<bool(DWORD)> onPump;
    std::function<void(int)> onItemChanged;
    std::function<bool()> onTickChanging;

private:
    bool ValidRow(int index) const { return index >= 0 && index < static_cast<int>(rows.size()); }
    void Notify(int index) {
        ++notifications;
        if (onItemChanged) onItemChanged(index);
    }
};
