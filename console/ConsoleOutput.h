// What the console program writes: UTF-16 text to a console through the
// console's own call, so every name shows whatever the code page; UTF-8
// without a byte-order mark, lines ended by CR LF, to a file or pipe.
#pragma once

#include "platform/Platform.h"

#include <string>

// UTF-8 of UTF-16 text; a lone surrogate becomes U+FFFD, so the bytes are
// always valid UTF-8.
std::string EncodeUtf8(const std::wstring& text);

class ConsoleOutput {
public:
    explicit ConsoleOutput(Platform& platform) : platform_(platform) {}

    // Standard output, unless quiet.
    void Out(const std::wstring& text);
    // Standard error.
    void Err(const std::wstring& text);
    bool quiet = false;

private:
    Platform& platform_;
    void Write(DWORD which, const std::wstring& text);
};

// A platform whose message boxes are written to standard error: the
// inventory's warning and error boxes would otherwise stop a script, or a
// scheduled task on a desktop no one sees, until someone pressed OK.
template <typename Base>
class ConsoleBoxes : public Base {
public:
    using Base::Base;
    int MessageBoxW(HWND, LPCWSTR lpText, LPCWSTR lpCaption, UINT) override {
        // System texts end in CR LF; the line break is the writer's.
        std::wstring text = lpText != nullptr ? lpText : L"";
        while (!text.empty() &&
               (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
            text.pop_back();
        ConsoleOutput output(*this);
        output.Err(std::wstring(lpCaption != nullptr ? lpCaption : L"") + L": " + text + L"\n");
        return IDOK;
    }
};
