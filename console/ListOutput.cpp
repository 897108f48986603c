#include "console/ListOutput.h"

#include <cwchar>

std::wstring ListTable(const std::vector<ListedDevice>& devices) {
    std::size_t widths[kListColumnCount];
    for (int c = 0; c < kListColumnCount; ++c) widths[c] = std::wcslen(kListColumns[c].header);
    for (const ListedDevice& device : devices)
        for (int c = 0; c < kListColumnCount; ++c)
            if (device.row[c].size() > widths[c]) widths[c] = device.row[c].size();

    auto line = [&](auto cell) {
        std::wstring text;
        for (int c = 0; c < kListColumnCount; ++c) {
            const std::wstring value = cell(c);
            text += value;
            if (c + 1 < kListColumnCount) text.append(widths[c] - value.size() + 2, L' ');
        }
        return text + L"\n";
    };
    std::wstring table = line([](int c) { return std::wstring(kListColumns[c].header); });
    for (const ListedDevice& device : devices) table += line([&](int c) { return device.row[c]; });
    return table;
}

std::wstring JsonString(const std::wstring& text) {
    std::wstring out = L"\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const unsigned code = static_cast<unsigned>(c);
        const bool high = code >= 0xD800 && code <= 0xDBFF;
        const bool low = code >= 0xDC00 && code <= 0xDFFF;
        const bool paired = high && i + 1 < text.size() &&
                            static_cast<unsigned>(text[i + 1]) >= 0xDC00 &&
                            static_cast<unsigned>(text[i + 1]) <= 0xDFFF;
        if (c == L'"') {
            out += L"\\\"";
        } else if (c == L'\\') {
            out += L"\\\\";
        } else if (code < 0x20 || ((high || low) && !paired)) {
            // Control characters, and a surrogate without its partner, which
            // UTF-8 cannot carry, are written as escapes.
            wchar_t escape[8];
            std::swprintf(escape, 8, L"\\u%04x", code & 0xFFFFu);
            out += escape;
        } else if (paired) {
            out += c;
            out += text[++i];
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

std::wstring ListJson(const std::vector<ListedDevice>& devices) {
    std::wstring json = L"[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const DriveRecord& record = *devices[i].record;
        const ListRowTexts& row = devices[i].row;
        std::wstring mountPoints = L"[";
        const LONG letters =
            record.letterCount < kMaxDriveLetters ? record.letterCount : kMaxDriveLetters;
        for (LONG l = 0; l < letters; ++l) {
            if (l > 0) mountPoints += L", ";
            mountPoints += JsonString(std::wstring(1, record.driveLetters[l]) + L":");
        }
        // Then the folders its volumes are mounted in, as the Mount Points column shows them.
        record.mountFolders.ForEach([&](int, std::wstring_view folder) {
            if (mountPoints.size() > 1) mountPoints += L", ";
            mountPoints += JsonString(std::wstring(folder));
        });
        mountPoints += L"]";
        const LONGLONG bytes = record.capacity > 0 ? record.capacity : 0;

        json += i == 0 ? L"\n  {" : L",\n  {";
        json += L"\"name\": " + JsonString(std::wstring(FieldView(record.deviceName)));
        json += L", \"type\": " + JsonString(row[1]);
        json += L", \"mountPoints\": " + mountPoints;
        json += L", \"bus\": " + JsonString(row[3]);
        json += L", \"capacity\": " + JsonString(row[4]);
        json += L", \"capacityBytes\": " + std::to_wstring(bytes);
        json += L", \"mediaType\": " + JsonString(row[5]);
        json +=
            L", \"instanceId\": " + JsonString(std::wstring(FieldView(record.deviceInstanceId)));
        json += L", \"boot\": " + std::wstring(record.isBootDrive ? L"true" : L"false");
        json += L", \"pageFile\": " + std::wstring(record.hasPageFile ? L"true" : L"false");
        json += L"}";
    }
    json += devices.empty() ? L"]\n" : L"\n]\n";
    return json;
}
