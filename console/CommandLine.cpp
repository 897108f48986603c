#include "console/CommandLine.h"

#include "platform/Text.h"

#include <cwctype>

namespace {

bool Is(const std::wstring& arg, const wchar_t* word) {
    return CompareTextNoCase(arg.c_str(), word) == 0 && arg.find(L'\0') == std::wstring::npos;
}

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    const std::size_t n = TextLength(prefix);
    return text.size() >= n && CompareTextNoCaseN(text.c_str(), prefix, n) == 0;
}

std::optional<DWORD> ParseSeconds(const std::wstring& text) {
    if (text.empty() || text.size() > 6) return std::nullopt;
    DWORD value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<DWORD>(c - L'0');
    }
    if (value > kMaxWaitSeconds) return std::nullopt;
    return value;
}

// Shown in a one-line reason: control characters and overlong text would
// break the line or flood the console.
std::wstring Shown(const std::wstring& text) {
    std::wstring shown;
    for (wchar_t c : text) {
        if (shown.size() >= 60) {
            shown += L"...";
            break;
        }
        shown += c < 0x20 ? L'?' : c;
    }
    return shown;
}

}  // namespace

std::optional<Selector> ClassifySelector(const std::wstring& text, std::wstring& error) {
    if (text.empty()) {
        error = L"an empty selector names no device";
        return std::nullopt;
    }
    if (text.size() > kMaxSelectorChars) {
        error = L"a selector of " + std::to_wstring(text.size()) + L" characters names no device";
        return std::nullopt;
    }
    for (wchar_t c : text) {
        if (c < 0x20) {
            error = L"the selector \"" + Shown(text) + L"\" holds a control character";
            return std::nullopt;
        }
    }

    Selector selector;
    selector.given = text;
    const bool letterFirst = IsAsciiLetter(text[0]);
    if (letterFirst && (text.size() == 1 || (text.size() == 2 && text[1] == L':') ||
                        (text.size() == 3 && text[1] == L':' && text[2] == L'\\'))) {
        selector.kind = SelectorKind::Letter;
        selector.key = std::wstring(1, UpperLetter(text[0]));
        return selector;
    }
    if (StartsWithNoCase(text, L"\\\\?\\Volume{")) {
        selector.kind = SelectorKind::VolumeGuid;
        selector.key = text;
        if (selector.key.back() == L'\\') selector.key.pop_back();
        return selector;
    }
    if (letterFirst && text.size() > 3 && text[1] == L':' && text[2] == L'\\') {
        selector.kind = SelectorKind::MountPoint;
        selector.key = text;
        if (selector.key.back() != L'\\') selector.key += L'\\';
        return selector;
    }
    selector.kind = SelectorKind::InstanceId;
    selector.key = text;
    return selector;
}

ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& args) {
    ParsedCommandLine parsed;
    auto refuse = [&](std::wstring reason) {
        parsed.error = std::move(reason);
        return parsed;
    };
    if (args.empty()) return refuse(L"no command given");

    CommandLine line;
    const std::wstring& word = args[0];
    if (Is(word, L"help") || Is(word, L"--help") || Is(word, L"/?") || Is(word, L"-h"))
        line.command = ConsoleCommand::Help;
    else if (Is(word, L"--version"))
        line.command = ConsoleCommand::Version;
    else if (Is(word, L"list"))
        line.command = ConsoleCommand::List;
    else if (Is(word, L"remove"))
        line.command = ConsoleCommand::Remove;
    else if (Is(word, L"scan"))
        line.command = ConsoleCommand::Scan;
    else
        return refuse(L"unknown command \"" + Shown(word) + L"\"");

    const bool list = line.command == ConsoleCommand::List;
    const bool remove = line.command == ConsoleCommand::Remove;
    const bool scan = line.command == ConsoleCommand::Scan;
    const std::wstring commandName = Shown(word);

    for (std::size_t i = 1; i < args.size(); ++i) {
        std::wstring arg = args[i];
        // "--wait=5" is taken as "--wait 5".
        std::optional<std::wstring> attached;
        if (arg.rfind(L"--", 0) == 0) {
            const std::size_t equals = arg.find(L'=');
            if (equals != std::wstring::npos) {
                attached = arg.substr(equals + 1);
                arg.erase(equals);
            }
        }
        auto value = [&](const wchar_t* option) -> std::optional<std::wstring> {
            if (attached) return attached;
            if (i + 1 < args.size()) return args[++i];
            parsed.error = std::wstring(option) + L" needs a value";
            return std::nullopt;
        };
        const bool takesValue = Is(arg, L"--wait") || Is(arg, L"--label");
        if (attached && !takesValue)
            return refuse(L"the option " + Shown(arg) + L" takes no value");

        if (list && Is(arg, L"--all")) {
            line.all = true;
        } else if (list && Is(arg, L"--json")) {
            line.json = true;
        } else if (remove && Is(arg, L"--force")) {
            line.force = true;
        } else if ((remove || scan) && Is(arg, L"--quiet")) {
            line.quiet = true;
        } else if (remove && Is(arg, L"--wait")) {
            if (line.waitSeconds) return refuse(L"--wait is given twice");
            const std::optional<std::wstring> text = value(L"--wait");
            if (!text) return parsed;
            line.waitSeconds = ParseSeconds(*text);
            if (!line.waitSeconds)
                return refuse(L"--wait takes a whole number of seconds from 0 to " +
                              std::to_wstring(kMaxWaitSeconds) + L", not \"" + Shown(*text) +
                              L"\"");
        } else if (remove && Is(arg, L"--label")) {
            const std::optional<std::wstring> text = value(L"--label");
            if (!text) return parsed;
            if (text->empty()) return refuse(L"--label needs a volume label");
            std::wstring error;
            if (!ClassifySelector(*text, error)) return refuse(L"--label: " + error);
            Selector selector;
            selector.kind = SelectorKind::Label;
            selector.given = *text;
            selector.key = *text;
            line.selectors.push_back(std::move(selector));
        } else if (!arg.empty() && arg[0] == L'-') {
            return refuse(L"unknown option \"" + Shown(arg) + L"\" for " + commandName);
        } else if (remove) {
            std::wstring error;
            std::optional<Selector> selector = ClassifySelector(arg, error);
            if (!selector) return refuse(error);
            line.selectors.push_back(std::move(*selector));
        } else {
            return refuse(L"unexpected argument \"" + Shown(arg) + L"\" for " + commandName);
        }
    }
    if (remove && line.selectors.empty())
        return refuse(
            L"remove needs at least one selector: a drive letter, a mount point, a "
            L"volume GUID path, an instance identifier or --label NAME");
    parsed.line = std::move(line);
    return parsed;
}
