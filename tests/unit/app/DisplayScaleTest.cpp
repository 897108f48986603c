// The main window at its display scale over the simulated machine: the
// list's columns and the window's icons as it opens, and as it moves to a
// monitor of another scale.
#include <gtest/gtest.h>

#include "app/DisplayScale.h"
#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/FakeMainView.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using Dpi = SimMachine::DpiCalls;
using Widths = std::vector<int>;

HWND const kMainWindow = reinterpret_cast<HWND>(0x4242);

TEST(DisplayScale, PixelsScaleToTheNearestPixelHalvesAwayFromZero) {
    struct Case {
        int pixels;
        UINT from, to;
        int expected;
    } cases[] = {
        {210, 96, 144, 315}, {95, 96, 144, 143},  {55, 96, 144, 83}, {75, 96, 144, 113},
        {75, 96, 120, 94},   {143, 144, 96, 95},  {-11, 96, 144, -17}, {-11, 96, 120, -14},
        {80, 96, 0, 0},      {80, 0, 144, 80},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, ScaleBetweenDpi(c.pixels, c.from, c.to))
            << c.pixels << " from " << c.from << " to " << c.to;
    // The layout's scale from the dialog base unit, 6 pixels at 96 DPI.
    EXPECT_EQ(96u, LayoutDpi(6, 96));
    EXPECT_EQ(112u, LayoutDpi(7, 120)) << "font rounding: 7 pixels, not 7.5";
    EXPECT_EQ(144u, LayoutDpi(9, 144));
    EXPECT_EQ(120u, LayoutDpi(0, 120)) << "unknown: the DPI itself";
}

struct DisplayScaleTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    std::optional<CTrayhop32Dlg> dlg;

    void Open(Dpi calls, UINT systemDpi, UINT windowDpi, int baseUnit) {
        sim.dpiCalls = calls;
        sim.systemDpi = systemDpi;
        sim.windowDpi = windowDpi;
        view.baseUnit = baseUnit;
        app.m_hMainWnd = kMainWindow;
        dlg.emplace(app, view);
        dlg->InitDisplayScale();
    }
    Widths Columns() const {
        Widths widths;
        for (const auto& column : view.columns) widths.push_back(column.width);
        return widths;
    }
    void TearDown() override {
        dlg.reset();
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_TRUE(sim.ProgramErrors().empty()) << sim.ProgramErrors().front();
    }
};

TEST_F(DisplayScaleTest, ColumnsFollowTheLayoutAndIconsTheWindowsDpiAsItOpens) {
    struct Case {
        const char* system;
        Dpi calls;
        UINT systemDpi, windowDpi;
        int baseUnit;
        Widths columns;
        std::pair<int, int> icons;
    } cases[] = {
        {"Windows 10 at 100 %", Dpi::PerMonitorV2, 96, 96, 6, {210, 95, 80, 55, 70, 75}, {32, 16}},
        {"Windows 10, a 150 % monitor beside a 100 % one", Dpi::PerMonitorV2, 96, 144, 9,
         {315, 143, 120, 83, 105, 113}, {48, 24}},
        {"Windows 10 at 200 %", Dpi::PerMonitorV2, 192, 192, 12, {420, 190, 160, 110, 140, 150},
         {64, 32}},
        {"Windows 7 at 125 %: the font makes the layout 7 % narrower", Dpi::Missing, 120, 0, 7,
         {245, 111, 93, 64, 82, 88}, {40, 20}},
        {"XP at 96 DPI", Dpi::Missing, 96, 0, 6, {210, 95, 80, 55, 70, 75}, {32, 16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.system);
        view = FakeMainView();
        Open(c.calls, c.systemDpi, c.windowDpi, c.baseUnit);
        EXPECT_EQ(c.columns, Columns());
        ASSERT_EQ(1u, view.iconSizes.size());
        EXPECT_EQ(c.icons, view.iconSizes[0]);
        EXPECT_EQ(0u, sim.OutstandingDeviceContexts());
    }
}

TEST_F(DisplayScaleTest, MovedToAnotherScaleTheWindowTakesTheSuggestedPlaceAndKeepsProportions) {
    // Windows rescales the controls itself from 1703 on (per-monitor v2);
    // on 8.1 (no Windows 10 calls) and 1607 (v1 only) the program does.
    struct Case {
        const char* system;
        Dpi calls;
        bool programRescales;
    } cases[] = {
        {"Windows 10 1703 on", Dpi::PerMonitorV2, false},
        {"Windows 10 1607", Dpi::PerMonitor, true},
        {"Windows 8.1", Dpi::Missing, true},
    };
    const RECT suggested = {100, 50, 1004, 545};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.system);
        view = FakeMainView();
        Open(c.calls, 96, 96, 6);
        view.SetColumnWidth(0, 250);  // the user widened the first column

        dlg->OnDpiChanged(144, suggested);
        EXPECT_EQ((Widths{375, 143, 120, 83, 105, 113}), Columns());
        ASSERT_EQ(1u, view.windowRects.size());
        EXPECT_EQ(suggested.left, view.windowRects[0].left);
        EXPECT_EQ(suggested.bottom, view.windowRects[0].bottom);
        const std::vector<std::pair<UINT, UINT>> rescales =
            c.programRescales ? std::vector<std::pair<UINT, UINT>>{{96, 144}}
                              : std::vector<std::pair<UINT, UINT>>{};
        EXPECT_EQ(rescales, view.controlRescales);
        EXPECT_EQ((std::pair<int, int>{48, 24}), view.iconSizes.back());
        EXPECT_EQ(144u, dlg->Dpi());

        // Back on the first monitor: the same widths as before, no pixel lost.
        dlg->OnDpiChanged(96, suggested);
        EXPECT_EQ((Widths{250, 95, 80, 55, 70, 75}), Columns());
        EXPECT_EQ((std::pair<int, int>{32, 16}), view.iconSizes.back());
    }
}

TEST_F(DisplayScaleTest, ALayoutNarrowerThanItsDpiStaysInProportionThroughMoves) {
    Open(Dpi::PerMonitorV2, 120, 120, 7);
    const Widths opened = Columns();
    dlg->OnDpiChanged(144, {0, 0, 900, 500});
    EXPECT_EQ((Widths{293, 133, 112, 77, 98, 105}), Columns()) << "112 DPI of layout times 1.2";
    dlg->OnDpiChanged(120, {0, 0, 700, 400});
    EXPECT_EQ(opened, Columns());
}

}  // namespace
