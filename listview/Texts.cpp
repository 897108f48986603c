#include "listview/Texts.h"

#include <cwchar>

namespace {

constexpr double kKilo = 1024.0;
constexpr double kMega = 1048576.0;
constexpr double kGiga = 1073741824.0;
constexpr double kTera = 1099511627776.0;
// Subtracted so that "%.2f" cuts the third decimal instead of rounding it.
constexpr double kCut = 0.005;

void CopyText(wchar_t* buffer, const wchar_t* text) {
    int n = 0;
    while (n < kCellTextChars - 1 && text[n] != L'\0') {
        buffer[n] = text[n];
        ++n;
    }
    buffer[n] = L'\0';
}

const wchar_t* MediaTypeText(LONG deviceType, LONG mediaType) {
    switch (deviceType) {
        case FILE_DEVICE_CD_ROM:
            if (mediaType == 0x34) return L"CD-R";
            if (mediaType == 0x35) return L"CD-RW";
            return L"CD-ROM";
        case FILE_DEVICE_DISK:
            if (mediaType == 0x49) return L"IOMEGA Zip Disk";
            if (mediaType == 12) return L"Fixed Disk";
            if (mediaType == 11) return L"Removable Disk";
            return L"Disk";
        case FILE_DEVICE_TAPE:
            switch (mediaType) {
                case 0x20:
                    return L"DDS 4mm Tape";
                case 0x21:
                    return L"Mini Qic Tape";
                case 0x22:
                    return L"Travan Tape";
                case 0x23:
                    return L"QIC Tape";
                case 0x24:
                    return L"MP 8mm Tape";
                case 0x25:
                    return L"AME_8mm Tape";
                case 0x26:
                    return L"AIT1 8mm Tape";
                case 0x27:
                    return L"DLT Tape";
                case 0x28:
                    return L"Phillips NCTP Tape";
                default:
                    return L"Tape";
            }
        case FILE_DEVICE_VIRTUAL_DISK:
            return L"Virtual Disk";
        case FILE_DEVICE_MASS_STORAGE:
            return L"Mass Storage";
        case FILE_DEVICE_CHANGER:
            return L"Changer";
        case FILE_DEVICE_SMARTCARD:
            return L"SmartCard Reader";
        case FILE_DEVICE_DVD:
            if (mediaType == 0x38) return L"DVD-RW";
            if (mediaType == 0x37) return L"DVD-R";
            return L"DVD-ROM";
        default:
            return L"Unknown";
    }
}

}  // namespace

const wchar_t* FormatCapacity(LONGLONG capacity, wchar_t* buffer) {
    if (capacity == 0) {
        CopyText(buffer, L"No Media");
        return buffer;
    }
    const double bytes = static_cast<double>(capacity);
    double number = bytes;
    const wchar_t* unit = L"Bytes";
    if (bytes >= kTera) {
        number = bytes / kTera - kCut;
        unit = L"TB";
    } else if (capacity < 0) {
        // Printed as it is.
    } else if (bytes >= kGiga) {
        number = bytes / kGiga - kCut;
        unit = L"GB";
    } else if (bytes >= kMega) {
        number = bytes / kMega - kCut;
        unit = L"MB";
    } else if (bytes >= kKilo) {
        number = bytes / kKilo - kCut;
        unit = L"KB";
    }
    if (std::swprintf(buffer, kCellTextChars, L"%3.2f %ls", number, unit) < 0) buffer[0] = L'\0';
    return buffer;
}

const wchar_t* FormatMediaType(LONG mediaDeviceType, LONG mediaType, wchar_t* buffer) {
    CopyText(buffer, MediaTypeText(mediaDeviceType, mediaType));
    return buffer;
}
