#include <gtest/gtest.h>

#include "listview/Texts.h"

#include <string>

namespace {

// The unit is chosen by the tests in order, and the number is cut rather than
// rounded, so a unit boundary itself prints just under one.
TEST(FormatCapacity, UnitsBoundariesAndCutDecimals) {
    const std::pair<LONGLONG, std::wstring> cases[] = {
        {0, L"No Media"},
        {1023, L"1023.00 Bytes"},
        {1024, L"0.99 KB"},
        {1048575, L"1023.99 KB"},
        {1048576, L"0.99 MB"},
        {1474560, L"1.40 MB"},
        {1073741824, L"0.99 GB"},
        {4700372992LL, L"4.37 GB"},
        {250059350016LL, L"232.88 GB"},
        {1099511627776LL, L"0.99 TB"},
        {-1, L"-1.00 Bytes"},
        {-5000000000LL, L"-5000000000.00 Bytes"},
    };
    for (const auto& [capacity, text] : cases) {
        wchar_t buffer[kCellTextChars];
        EXPECT_EQ(FormatCapacity(capacity, buffer), buffer);
        EXPECT_EQ(buffer, text) << capacity;
    }
}

TEST(FormatMediaType, EveryRowOfTheTable) {
    const struct {
        LONG device, media;
        std::wstring text;
    } cases[] = {
        {2, 0x34, L"CD-R"},
        {2, 0x35, L"CD-RW"},
        {2, -1, L"CD-ROM"},
        {7, 0x49, L"IOMEGA Zip Disk"},
        {7, 12, L"Fixed Disk"},
        {7, 11, L"Removable Disk"},
        {7, 0, L"Disk"},
        {31, 0x20, L"DDS 4mm Tape"},
        {31, 0x21, L"Mini Qic Tape"},
        {31, 0x22, L"Travan Tape"},
        {31, 0x23, L"QIC Tape"},
        {31, 0x24, L"MP 8mm Tape"},
        {31, 0x25, L"AME_8mm Tape"},
        {31, 0x26, L"AIT1 8mm Tape"},
        {31, 0x27, L"DLT Tape"},
        {31, 0x28, L"Phillips NCTP Tape"},
        {31, 0x29, L"Tape"},
        {36, 7, L"Virtual Disk"},
        {45, 0, L"Mass Storage"},
        {48, 0, L"Changer"},
        {49, 0, L"SmartCard Reader"},
        {51, 0x38, L"DVD-RW"},
        {51, 0x37, L"DVD-R"},
        {51, 0x34, L"DVD-ROM"},
        {34, 12, L"Unknown"},
        {-1, -1, L"Unknown"},
    };
    for (const auto& c : cases) {
        wchar_t buffer[kCellTextChars];
        EXPECT_EQ(FormatMediaType(c.device, c.media, buffer), buffer);
        EXPECT_EQ(buffer, c.text) << c.device << " " << c.media;
    }
}

}  // namespace
