// Any command line of the console program, run whole over a small machine:
// the parser either takes it or refuses it with one line, and a device is
// only ever removed when a selector of the line names it (by one of its
// letters, a volume GUID path, its instance identifier or a volume label).
// The input is UTF-16LE; U+FFFF separates the arguments.
#include "console/CommandLine.h"
#include "console/ConsoleOutput.h"
#include "console/ConsoleProgram.h"
#include "platform/Text.h"
#include "tests/fuzz/FuzzSupport.h"

#include <vector>

namespace {

bool SameNoCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && CompareTextNoCaseN(a.c_str(), b.c_str(), a.size()) == 0;
}

struct Names {
    std::vector<std::wstring> paths;  // letters, GUID paths, the instance identifier
    std::wstring label;
};

// What the machine calls the device of disk `number`, before anything is removed.
Names NamesOf(const SimMachine& sim, const std::wstring& id, DWORD number) {
    Names names;
    names.paths.push_back(id);
    for (const SimVolume& volume : sim.Volumes()) {
        if (volume.extents.empty() || volume.extents[0].diskNumber != number) continue;
        const std::wstring letter(1, volume.letter);
        std::wstring guid = volume.guidPath;
        guid.pop_back();
        for (const std::wstring& name :
             {letter, letter + L":", letter + L":\\", volume.guidPath, guid})
            names.paths.push_back(name);
        names.label = volume.label;
    }
    return names;
}

bool Named(const CommandLine& line, const Names& names) {
    for (const Selector& selector : line.selectors) {
        if (selector.kind == SelectorKind::Label) {
            if (!names.label.empty() && SameNoCase(selector.given, names.label)) return true;
            continue;
        }
        for (const std::wstring& name : names.paths)
            if (SameNoCase(selector.given, name)) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> args(1);
    for (size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (c == 0xFFFF)
            args.emplace_back();
        else
            args.back() += c;
    }
    if (size < 2) args.clear();

    const ParsedCommandLine parsed = ParseCommandLine(args);
    FUZZ_CHECK(parsed.line.has_value() == parsed.error.empty(), "a line or a reason");
    FUZZ_CHECK(parsed.error.find(L'\n') == std::wstring::npos, "the reason is one line");

    ConsoleBoxes<SimMachine> sim;
    sim.recordCalls = false;
    const wchar_t* const ids[] = {L"USBSTOR\\DISK&VEN_A\\1", L"USBSTOR\\DISK&VEN_B\\2",
                                  L"IDE\\DISK*\\3"};
    const wchar_t letters[] = {L'E', L'F', L'G'};
    for (DWORD n = 0; n < 3; ++n) {
        sim.AddDevice(SimMachine::MakeDisk(ids[n], L"Disk", n, BusTypeUsb, 2000000000ULL));
        sim.AddVolume(SimMachine::MakeVolume(letters[n], n, 1000000000LL, DRIVE_REMOVABLE));
    }
    sim.FindVolume(L'F')->label = L"BACKUP";
    std::vector<Names> names;
    for (DWORD n = 0; n < 3; ++n) names.push_back(NamesOf(sim, ids[n], n));

    const int code = RunConsoleProgram(sim, args, L"Trayhop32Cmd");
    FUZZ_CHECK(code >= 0 && code <= 8, "a documented exit code");
    FUZZ_CHECK(!parsed.line || code != kExitUsage, "a line taken is not a usage error");
    FUZZ_CHECK(parsed.line || code == kExitUsage, "a refused line is a usage error");
    for (DWORD n = 0; n < 3; ++n) {
        if (sim.FindDevice(ids[n]) != nullptr) continue;
        FUZZ_CHECK(parsed.line && parsed.line->command == ConsoleCommand::Remove,
                   "only remove removes");
        FUZZ_CHECK(Named(*parsed.line, names[n]), "a removed device was named");
    }
    FUZZ_CHECK(sim.LeakReport().empty(), "everything opened was closed");
    FUZZ_CHECK(sim.ProgramErrors().empty(), "the seam was used correctly");
    return 0;
}
