// The console program's command line: a table of lines it must take, with
// what it reads from them, and of lines it must refuse.
#include <gtest/gtest.h>

#include "console/CommandLine.h"

#include <string>
#include <vector>

namespace {

struct GoodLine {
    std::vector<std::wstring> args;
    ConsoleCommand command;
    bool all, json, force, quiet;
    long waitSeconds;  // -1: not given
    std::vector<SelectorKind> kinds;
    std::vector<std::wstring> keys;
};

TEST(ConsoleCommandLine, TakesEveryDocumentedForm) {
    using K = SelectorKind;
    const GoodLine lines[] = {
        {{L"list"}, ConsoleCommand::List, false, false, false, false, -1, {}, {}},
        {{L"LIST", L"--JSON", L"--all"},
         ConsoleCommand::List,
         true,
         true,
         false,
         false,
         -1,
         {},
         {}},
        {{L"help"}, ConsoleCommand::Help, false, false, false, false, -1, {}, {}},
        {{L"--help"}, ConsoleCommand::Help, false, false, false, false, -1, {}, {}},
        {{L"/?"}, ConsoleCommand::Help, false, false, false, false, -1, {}, {}},
        {{L"--version"}, ConsoleCommand::Version, false, false, false, false, -1, {}, {}},
        {{L"scan", L"--quiet"}, ConsoleCommand::Scan, false, false, false, true, -1, {}, {}},
        {{L"remove", L"e", L"F:", L"g:\\"},
         ConsoleCommand::Remove,
         false,
         false,
         false,
         false,
         -1,
         {K::Letter, K::Letter, K::Letter},
         {L"E", L"F", L"G"}},
        {{L"remove", L"--wait", L"90", L"--force", L"E:", L"--quiet"},
         ConsoleCommand::Remove,
         false,
         false,
         true,
         true,
         90,
         {K::Letter},
         {L"E"}},
        {{L"remove", L"--wait=0", L"--label=BACKUP"},
         ConsoleCommand::Remove,
         false,
         false,
         false,
         false,
         0,
         {K::Label},
         {L"BACKUP"}},
        {{L"remove", L"C:\\Mount\\Backup", L"\\\\?\\Volume{1b2c}\\", L"USBSTOR\\DISK&VEN_A\\1"},
         ConsoleCommand::Remove,
         false,
         false,
         false,
         false,
         -1,
         {K::MountPoint, K::VolumeGuid, K::InstanceId},
         {L"C:\\Mount\\Backup\\", L"\\\\?\\Volume{1b2c}", L"USBSTOR\\DISK&VEN_A\\1"}},
        // Strange but well-formed: compared literally, so they can only fail to match.
        {{L"remove", L"*", L"E:*", L"\\\\?\\GLOBALROOT\\Device\\Harddisk0",
          std::wstring(32000, L'x')},
         ConsoleCommand::Remove,
         false,
         false,
         false,
         false,
         -1,
         {K::InstanceId, K::InstanceId, K::InstanceId, K::InstanceId},
         {L"*", L"E:*", L"\\\\?\\GLOBALROOT\\Device\\Harddisk0", std::wstring(32000, L'x')}},
    };
    for (const GoodLine& good : lines) {
        const ParsedCommandLine parsed = ParseCommandLine(good.args);
        const std::wstring shown = good.args[0] + L" ...";
        ASSERT_TRUE(parsed.line.has_value())
            << std::string(shown.begin(), shown.end()) << ": "
            << std::string(parsed.error.begin(), parsed.error.end());
        const CommandLine& line = *parsed.line;
        EXPECT_EQ(line.command, good.command);
        EXPECT_EQ(line.all, good.all);
        EXPECT_EQ(line.json, good.json);
        EXPECT_EQ(line.force, good.force);
        EXPECT_EQ(line.quiet, good.quiet);
        EXPECT_EQ(line.waitSeconds ? static_cast<long>(*line.waitSeconds) : -1L, good.waitSeconds);
        ASSERT_EQ(line.selectors.size(), good.kinds.size());
        for (size_t i = 0; i < good.kinds.size(); ++i) {
            EXPECT_EQ(line.selectors[i].kind, good.kinds[i]) << i;
            EXPECT_TRUE(line.selectors[i].key == good.keys[i]) << i;
        }
    }
}

TEST(ConsoleCommandLine, RefusesEachMalformedLineWithAReason) {
    const std::vector<std::vector<std::wstring>> lines = {
        {},
        {L"eject"},
        {L"list", L"--force"},
        {L"list", L"extra"},
        {L"list", L"--all=1"},
        {L"scan", L"--json"},
        {L"--version", L"now"},
        {L"remove"},
        {L"remove", L"--quiet"},
        {L"remove", L"E:", L"--wait"},
        {L"remove", L"E:", L"--wait", L"soon"},
        {L"remove", L"E:", L"--wait", L"-1"},
        {L"remove", L"E:", L"--wait", L"86401"},
        {L"remove", L"E:", L"--wait", L"99999999999"},
        {L"remove", L"E:", L"--wait", L"1", L"--wait", L"2"},
        {L"remove", L"--label"},
        {L"remove", L"--label="},
        {L"remove", L"E:", L"--bogus"},
        {L"remove", L"E:", L"-f"},
        {L"remove", L""},
        {L"remove", std::wstring(L"E:\0F:", 5)},
        {L"remove", L"E:\n"},
        {L"remove", std::wstring(kMaxSelectorChars + 1, L'x')},
        {std::wstring(L"list\0", 5)},
    };
    for (const auto& args : lines) {
        const ParsedCommandLine parsed = ParseCommandLine(args);
        EXPECT_FALSE(parsed.line.has_value()) << args.size();
        EXPECT_FALSE(parsed.error.empty());
        EXPECT_EQ(parsed.error.find(L'\n'), std::wstring::npos) << "one line";
        EXPECT_LT(parsed.error.size(), 200u) << "a reason, not the input echoed whole";
    }
}

}  // namespace
