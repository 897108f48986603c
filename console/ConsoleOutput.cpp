#include "console/ConsoleOutput.h"

namespace {

// WriteConsoleW takes at most about 64 KB at once on older Windows.
constexpr std::size_t kConsoleChunkChars = 8192;

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void Append(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string EncodeUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if constexpr (sizeof(wchar_t) > 2) {
            // The host build's wchar_t holds a whole code point.
            const std::uint32_t whole = static_cast<std::uint32_t>(text[i]);
            if (whole > 0xFFFF) {
                Append(out, whole <= 0x10FFFF ? whole : 0xFFFD);
                continue;
            }
        }
        const std::uint32_t c = static_cast<std::uint32_t>(text[i]) & 0xFFFFu;
        if (IsHighSurrogate(static_cast<wchar_t>(c)) && i + 1 < text.size() &&
            IsLowSurrogate(text[i + 1])) {
            const std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]) & 0xFFFFu;
            Append(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(static_cast<wchar_t>(c)) ||
                   IsLowSurrogate(static_cast<wchar_t>(c))) {
            Append(out, 0xFFFD);
        } else {
            Append(out, c);
        }
    }
    return out;
}

void ConsoleOutput::Out(const std::wstring& text) {
    if (!quiet) Write(STD_OUTPUT_HANDLE, text);
}

void ConsoleOutput::Err(const std::wstring& text) {
    Write(STD_ERROR_HANDLE, text);
}

void ConsoleOutput::Write(DWORD which, const std::wstring& text) {
    HANDLE handle = platform_.GetStdHandle(which);
    // A program started without standard handles (from a service, say) has
    // nowhere to write; its exit code still tells.
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;

    DWORD mode = 0;
    if (platform_.GetConsoleMode(handle, &mode)) {
        for (std::size_t at = 0; at < text.size();) {
            std::size_t chars = text.size() - at;
            if (chars > kConsoleChunkChars) {
                chars = kConsoleChunkChars;
                // A surrogate pair stays in one piece.
                if (IsHighSurrogate(text[at + chars - 1])) --chars;
            }
            DWORD written = 0;
            if (!platform_.WriteConsoleW(handle, text.data() + at, static_cast<DWORD>(chars),
                                         &written, nullptr) ||
                written == 0)
                return;
            at += written;
        }
        return;
    }

    std::wstring lines;
    lines.reserve(text.size() + text.size() / 32);
    for (wchar_t c : text) {
        if (c == L'\n') lines += L'\r';
        lines += c;
    }
    const std::string bytes = EncodeUtf8(lines);
    for (std::size_t at = 0; at < bytes.size();) {
        DWORD written = 0;
        // A closed pipe (the reader went away) ends the writing, not the program.
        if (!platform_.WriteFile(handle, bytes.data() + at, static_cast<DWORD>(bytes.size() - at),
                                 &written, nullptr) ||
            written == 0)
            return;
        at += written;
    }
}
