// The console program's command line: its commands, options and selectors,
// read into a CommandLine or refused with a one-line reason.
#pragma once

#include "platform/Win32Types.h"

#include <optional>
#include <string>
#include <vector>

enum class ConsoleCommand { Help, Version, List, Remove, Scan };

// How a selector names devices; each is compared without regard to case.
enum class SelectorKind {
    Letter,      // "E", "E:" or "E:\"
    MountPoint,  // a folder a volume is mounted in: "C:\Backup\Disk"
    VolumeGuid,  // "\\?\Volume{...}\"
    InstanceId,  // the device instance identifier, as list --json prints it
    Label,       // --label NAME: the device holding a volume with that label
};

struct Selector {
    SelectorKind kind = SelectorKind::InstanceId;
    // As given, for messages.
    std::wstring given;
    // What is compared: the upper-case letter; the mount point with one
    // trailing backslash; the GUID path without it; the identifier; the label.
    std::wstring key;
};

struct CommandLine {
    ConsoleCommand command = ConsoleCommand::Help;
    bool all = false;    // list: ignore the bus and kind options
    bool json = false;   // list: one JSON array
    bool force = false;  // remove: go on where files are in use
    bool quiet = false;  // remove, scan: nothing on stdout
    std::optional<DWORD> waitSeconds;
    std::vector<Selector> selectors;
};

// The longest --wait accepted: a day.
inline constexpr DWORD kMaxWaitSeconds = 86400;
// Longer than any path or identifier Windows accepts.
inline constexpr std::size_t kMaxSelectorChars = 32767;

struct ParsedCommandLine {
    std::optional<CommandLine> line;  // empty when refused
    std::wstring error;               // the one-line reason
};

// `args` are the arguments after the program's own name.
ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& args);

// The form of one selector, or nothing with the reason it is malformed.
std::optional<Selector> ClassifySelector(const std::wstring& text, std::wstring& error);
