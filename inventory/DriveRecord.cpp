#include "inventory/DriveRecord.h"

#include "app/ProgramName.h"
#include "platform/Text.h"

#include <cwchar>
#include <string_view>
#include <vector>

namespace {

// 9 and up are the buses of newer drivers (iSCSI and SAS from Server 2003,
// SATA to UFS from Vista on).
constexpr const wchar_t* kBusDisplayNames[] = {
    L"Unknown", L"SCSI",  L"ATAPI", L"IDE",  L"1394", L"SSA", L"FIBRE",   L"USB",
    L"RAID",    L"iSCSI", L"SAS",   L"SATA", L"SD",   L"MMC", L"Virtual", L"File Backed Virtual",
    L"Spaces",  L"NVMe",  L"SCM",   L"UFS"};
constexpr const wchar_t* kBusEnumeratorNames[] = {L"Unknown", L"SCSI",  L"ATAPI",   L"IDE", L"SBP2",
                                                  L"SSA",     L"FIBRE", L"USBSTOR", L"RAID"};
constexpr const wchar_t* kScsiDeviceTypeNames[] = {
    L"DISK",    L"SEQUENTIAL", L"PRINTER", L"PROCESSOR",    L"WORM",   L"CDROM",
    L"SCANNER", L"OPTICAL",    L"CHANGER", L"Comm. Device", L"ASCIT8", L"ASCIT8",
    L"ARRAY",   L"Enclosure",  L"RBC",     L"CARDREADER"};

constexpr LONG kBusDisplayNameCount = sizeof(kBusDisplayNames) / sizeof(kBusDisplayNames[0]);
// The storage identifier keeps the names it has always been built with.
constexpr LONG kBusEnumeratorNameCount =
    sizeof(kBusEnumeratorNames) / sizeof(kBusEnumeratorNames[0]);
constexpr LONG kScsiNameCount = sizeof(kScsiDeviceTypeNames) / sizeof(kScsiDeviceTypeNames[0]);

void ShowWarning(Platform& platform, const wchar_t* text) {
    platform.MessageBoxW(nullptr, text, kProgramName, MB_ICONWARNING);
}

}  // namespace

namespace {

// The address sanitizer must see every record freed, so that a stale pointer
// to one is caught: its builds take records straight from the heap.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepFreedRecords = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kKeepFreedRecords = false;
#else
constexpr bool kKeepFreedRecords = true;
#endif
#else
constexpr bool kKeepFreedRecords = true;
#endif
// A server with a few thousand LUNs still fits; beyond, blocks go back.
constexpr std::size_t kMaxKeptRecords = 8192;

std::vector<void*>& FreedRecords() {
    static std::vector<void*> blocks;
    return blocks;
}

}  // namespace

void* DriveRecord::operator new(std::size_t size) {
    if (void* block = operator new(size, std::nothrow)) return block;
    throw std::bad_alloc();
}

void* DriveRecord::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    std::vector<void*>& freed = FreedRecords();
    if (kKeepFreedRecords && size == sizeof(DriveRecord) && !freed.empty()) {
        void* block = freed.back();
        freed.pop_back();
        return block;
    }
    return ::operator new(size, std::nothrow);
}

void DriveRecord::operator delete(void* block) noexcept {
    if (block == nullptr) return;
    std::vector<void*>& freed = FreedRecords();
    if (kKeepFreedRecords && freed.size() < kMaxKeptRecords) {
        try {
            freed.push_back(block);
            return;
        } catch (const std::bad_alloc&) {
            // No room to remember it: it goes back to the heap.
        }
    }
    ::operator delete(block);
}

bool MountFolderList::Add(int volume, std::wstring_view path) {
    if (path.empty() || volume < 0 || volume >= kMaxVolumes) return false;
    if (length_ + path.size() + 2 > static_cast<std::size_t>(kMountFolderChars)) return false;
    // A folder with a NUL inside would end early and misplace the next entry.
    if (path.find(L'\0') != std::wstring_view::npos) return false;
    text_[length_] = static_cast<wchar_t>(volume + 1);
    std::memcpy(text_ + length_ + 1, path.data(), sizeof(wchar_t) * path.size());
    length_ += path.size() + 1;
    text_[length_++] = L'\0';
    return true;
}

std::wstring_view MountFolderList::FirstOf(int volume) const {
    std::wstring_view first;
    ForEach([&](int of, std::wstring_view path) {
        if (of == volume && first.empty()) first = path;
    });
    return first;
}

DriveRecord::DriveRecord(const wchar_t* id) {
    CopyField(deviceInstanceId, sizeof(deviceInstanceId) / sizeof(deviceInstanceId[0]), id,
              kMaxDeviceInstanceIdChars);
}

bool DriveRecord::HasLetter(wchar_t upperLetter) const {
    const LONG count = letterCount < kMaxDriveLetters ? letterCount : kMaxDriveLetters;
    for (LONG i = 0; i < count; ++i)
        if (driveLetters[i] == upperLetter) return true;
    return false;
}

void DriveRecord::AddVolume(Platform& platform, const wchar_t* volumeName, wchar_t letter,
                            LONGLONG extentLength) {
    if (letterCount >= kMaxDriveLetters) {
        ShowWarning(platform, L"Number of drives exceeds max");
        return;
    }
    if (volumeCount >= kMaxVolumes) {
        ShowWarning(platform, L"Number of volumes exceeds max");
        return;
    }
    const wchar_t upper = UpperLetter(letter);
    // A NUL letter would end the letter string; it counts as present but is
    // never in the list, which the second warning reports.
    if (upper != L'\0' && !HasLetter(upper)) {
        driveLetters[letterCount++] = upper;
        CopyField(volumeNames[volumeCount], kVolumeNameChars, volumeName);
        volumeExtentLengths[volumeCount] = extentLength;
        volumeLetters[volumeCount] = upper;
        volumeDiskCounts[volumeCount] = 1;
        ++volumeCount;
        return;
    }
    const LONG count = letterCount < kMaxDriveLetters ? letterCount : kMaxDriveLetters;
    for (LONG i = 0; i < count; ++i) {
        if (driveLetters[i] == upper) {
            const wchar_t letterText[2] = {upper, L'\0'};
            const std::wstring letters = LetterText();
            wchar_t text[128];
            std::swprintf(text, sizeof(text) / sizeof(text[0]),
                          L"Drive %ls is already found at index %d in %ls.", letterText,
                          static_cast<int>(i), letters.c_str());
            ShowWarning(platform, text);
            return;
        }
    }
    ShowWarning(platform, L"Error drive found but not in the drive letter list.");
}

void DriveRecord::AddMountedVolume(Platform& platform, const wchar_t* volumeName, wchar_t letter,
                                   LONGLONG extentLength, const std::vector<std::wstring>& folders,
                                   LONG diskCount) {
    const LONG before = volumeCount;
    if (letter != L'\0') {
        AddVolume(platform, volumeName, letter, extentLength);
    } else if (!HasVolume(volumeName != nullptr ? volumeName : L"")) {
        if (volumeCount >= kMaxVolumes) {
            ShowWarning(platform, L"Number of volumes exceeds max");
            return;
        }
        CopyField(volumeNames[volumeCount], kVolumeNameChars, volumeName);
        volumeExtentLengths[volumeCount] = extentLength;
        volumeLetters[volumeCount] = L'\0';
        ++volumeCount;
    }
    if (volumeCount == before) return;
    const int index = static_cast<int>(volumeCount) - 1;
    volumeDiskCounts[index] = diskCount;
    for (const std::wstring& folder : folders) mountFolders.Add(index, folder);
}

std::wstring DriveRecord::LetterText() const {
    const LONG count = letterCount < 0                  ? 0
                       : letterCount < kMaxDriveLetters ? letterCount
                                                        : kMaxDriveLetters;
    return std::wstring(driveLetters, static_cast<std::size_t>(count));
}

std::wstring DriveRecord::MountPointText() const {
    const std::wstring letters = LetterText();
    std::wstring text;
    for (std::size_t i = 0; i < letters.size(); ++i) {
        if (i != 0) text += L", ";
        text += letters[i];
        text += L':';
    }
    mountFolders.ForEach([&](int, std::wstring_view path) {
        if (!text.empty()) text += L", ";
        text += path;
    });
    return text.empty() ? L"None" : text;
}

wchar_t DriveRecord::VolumeLetter(int index) const {
    if (index < 0 || index >= volumeCount || index >= kMaxVolumes) return L'\0';
    return volumeLetters[index];
}

std::wstring DriveRecord::VolumeMountPoint(int index) const {
    if (const wchar_t letter = VolumeLetter(index); letter != L'\0')
        return std::wstring{letter, L':'};
    const std::wstring_view folder = mountFolders.FirstOf(index);
    if (!folder.empty()) return std::wstring(folder);
    return GetVolumeName(index);
}

bool DriveRecord::HasVolume(std::wstring_view volumeName) const {
    if (volumeName.empty()) return false;
    for (int i = 0; i < volumeCount && i < kMaxVolumes; ++i)
        if (FieldView(volumeNames[i]) == volumeName) return true;
    return false;
}

const wchar_t* DriveRecord::GetVolumeName(int index) const {
    if (index < 0 || index >= volumeCount || volumeCount > kMaxVolumes) return L"";
    return volumeNames[index];
}

const wchar_t* DriveRecord::BusTypeName(LONG type, bool display) {
    if (display) return type >= 0 && type < kBusDisplayNameCount ? kBusDisplayNames[type] : L"";
    return type >= 0 && type < kBusEnumeratorNameCount ? kBusEnumeratorNames[type] : L"";
}

const wchar_t* DriveRecord::ScsiDeviceTypeName(LONG type) {
    if (type < 0 || type >= kScsiNameCount) return L"";
    return kScsiDeviceTypeNames[type];
}

std::wstring DriveRecord::BuildStorageId(Platform& platform, const wchar_t* vendor,
                                         const wchar_t* product, const wchar_t* revision,
                                         const wchar_t* serial, LONG type, LONG scsiType) {
    auto text = [](const wchar_t* s) { return std::wstring(s != nullptr ? s : L""); };
    // Concatenated rather than formatted: the device strings are data.
    std::wstring id = text(BusTypeName(type, false));
    id += L'\\';
    id += ScsiDeviceTypeName(scsiType);
    id += L"&VEN_";
    id += text(vendor);
    id += L"&PROD_";
    id += text(product);
    id += L"&REV_";
    id += text(revision);
    id += L'\\';
    id += text(serial);

    wchar_t buffer[kStorageIdBufferChars];
    CopyField(buffer, kStorageIdBufferChars, id.c_str());
    const DWORD length = static_cast<DWORD>(wcsnlen(buffer, kStorageIdBufferChars));
    for (DWORD i = 0; i < length; ++i)
        if (buffer[i] == L' ') buffer[i] = L'_';
    platform.CharUpperBuffW(buffer, length);
    buffer[kStorageIdBufferChars - 1] = L'\0';
    return std::wstring(buffer);
}

bool SameDevice(const DriveRecord& a, const DriveRecord& b) {
    return a.deviceNumber == b.deviceNumber && a.deviceNumberType == b.deviceNumberType &&
           a.letterCount == b.letterCount && a.volumeExtentLengths[0] == b.volumeExtentLengths[0] &&
           a.capacity == b.capacity &&
           FieldView(a.deviceInstanceId) == FieldView(b.deviceInstanceId) &&
           a.MountPointText() == b.MountPointText();
}
