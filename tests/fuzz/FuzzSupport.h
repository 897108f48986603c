// What the fuzz targets share: a check that stops the run with a message
// (libFuzzer keeps the input that did it), wide text from fuzz bytes, and the
// whole inventory build and list fill over a machine.
#pragma once

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/FakeMainView.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition, what)                                                  \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s)\n", what, #condition);  \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

namespace fuzz {

// UTF-16 units as Windows would hold them; any value, NUL included.
inline std::wstring WideText(FuzzedDataProvider& input, size_t maxChars) {
    std::wstring text;
    while (text.size() < maxChars && input.remaining_bytes() >= 2)
        text.push_back(static_cast<wchar_t>(input.ConsumeIntegral<uint16_t>()));
    return text;
}

// Builds the drive table and fills the list as the main window does when it
// opens, then refreshes once as F5 does; nothing may stay open.
inline void BuildAndFill(SimMachine& sim) {
    {
        CTrayhop32App app(sim);
        FakeMainView view;
        CTrayhop32Dlg dlg(app, view);
        view.Connect(dlg);
        dlg.InitDriveTable();
        dlg.InitDriveList();
        for (int row = 0; row < view.GetItemCount(); ++row) view.SetItemChecked(row, true);
        dlg.RefreshDriveList();
        FUZZ_CHECK(view.GetItemCount() <= app.m_driveTable.Count(), "a row per record at most");
        for (int row = 0; row < view.GetItemCount(); ++row)
            FUZZ_CHECK(view.GetItemData(row) != nullptr, "every row has its record");
    }
    FUZZ_CHECK(sim.LeakReport().empty(), "everything opened was closed");
    FUZZ_CHECK(sim.ProgramErrors().empty(), "the seam was used correctly");
}

template <size_t N>
bool Terminated(const WCHAR (&field)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (field[i] == L'\0') return true;
    return false;
}

}  // namespace fuzz
