#include "removal/DeviceRemoval.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct MatchCase {
    const wchar_t* pattern;
    const wchar_t* id;
    bool matches;
};

class DevicePatternMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(DevicePatternMatch, AnswersAsExpected) {
    const MatchCase& c = GetParam();
    const DevicePattern pattern = ParseDevicePattern(c.pattern);
    EXPECT_EQ(MatchDevicePattern(pattern, c.id), c.matches)
        << testing::PrintToString(std::wstring(c.pattern)) << " against "
        << testing::PrintToString(std::wstring(c.id));
}

const MatchCase kMatchCases[] = {
    // No wildcard: the whole identifier, ignoring case.
    {L"USB\\VID_1234", L"usb\\vid_1234", true},
    {L"USB\\VID_1234", L"USB\\VID_12345", false},
    {L"", L"", true},
    {L"", L"A", false},
    // a*c: prefix and anchored last segment.
    {L"a*c", L"ABC", true},
    {L"a*c", L"AC", true},
    {L"a*c", L"aXYc", true},
    {L"a*c", L"ACD", false},
    {L"a*c", L"BC", false},
    // Leading "*": any start, the rest anchored to the end.
    {L"*d", L"D", true},
    {L"*d", L"xyzd", true},
    {L"*d", L"xyzdx", false},
    {L"*", L"", true},
    {L"*", L"anything", true},
    // Middle segments in order, leftmost first.
    {L"a*b*c", L"aXbYc", true},
    {L"a*b*c", L"abc", true},
    {L"a*b*c", L"aXcYb", false},
    {L"a*bc*d", L"abxbcyd", true},  // first b fails, the search moves on
    {L"a*bc*d", L"abxbd", false},
    {L"*b*b", L"bb", true},
    {L"*b*b", L"b", false},
    {L"*b*b", L"xbyb", true},
    {L"*ab*ab", L"ab", false},  // the middle segment consumes the only ab
    // Trailing "*": only the prefix and middle segments count.
    {L"ab*", L"AB", true},
    {L"ab*", L"abcdef", true},
    {L"ab*", L"xab", false},
    {L"*cd*", L"abCDef", true},
    // A segment starting with a letter is found in either case; a digit or
    // a sign is found exactly.
    {L"*x1*", L"AX1B", true},
    {L"*&rev*", L"PCI\\VEN_8086&REV_02", true},
    {L"*&rev*", L"PCI\\VEN_8086REV_02", false},
    {L"USBSTOR\\Disk&Ven_*&Prod_*&Rev_1", L"USBSTOR\\DISK&VEN_KINGSTON&PROD_DT&REV_1", true},
    {L"USBSTOR\\Disk&Ven_*&Prod_*&Rev_1", L"USBSTOR\\DISK&VEN_KINGSTON&PROD_DT&REV_12", false},
    {L"USBSTOR\\Disk&Ven_*&Prod_*&Rev_1", L"USBSTOR\\DISK&VEN_KINGSTON&REV_1", false},
    // The instance-identifier prefix is not part of the text compared.
    {L"@USBSTOR\\DISK*", L"usbstor\\disk&ven_x\\1", true},
    {L"@USBSTOR\\DISK*", L"@USBSTOR\\DISK", false},
    {L"@*", L"", true},
    // "@'" makes the rest literal: "*" is an ordinary character.
    {L"@'ROOT\\A*B", L"root\\a*b", true},
    {L"@'ROOT\\A*B", L"ROOT\\AXB", false},
    {L"@'*", L"*", true},
    // Only a leading quote is special.
    {L"@A'*", L"a'xyz", true},
};

INSTANTIATE_TEST_SUITE_P(Table, DevicePatternMatch, testing::ValuesIn(kMatchCases));

TEST(DevicePatternParse, PrefixesAndWildcard) {
    const wchar_t* text = L"@'A*B";
    DevicePattern p = ParseDevicePattern(text);
    EXPECT_TRUE(p.isInstanceId);
    EXPECT_EQ(p.text, text + 2);
    EXPECT_EQ(p.wildcard, nullptr);

    text = L"PCI\\VEN*";
    p = ParseDevicePattern(text);
    EXPECT_FALSE(p.isInstanceId);
    EXPECT_EQ(p.text, text);
    EXPECT_EQ(p.wildcard, text + 7);
}

}  // namespace
