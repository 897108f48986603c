// One attached storage device as the inventory found it: identity, bus, media,
// capacity, its drive letters and volumes, and the boot and page-file marks.
// A plain fixed-size record: copying it is a deep copy of every field.
#pragma once

#include "platform/Platform.h"

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kMaxDriveLetters = 30;
inline constexpr int kMaxVolumes = 50;
inline constexpr int kVolumeNameChars = 200;
// At most this many characters of a device instance identifier are kept.
inline constexpr int kMaxDeviceInstanceIdChars = 200;
// The storage identifier is built and upper-cased in a buffer of this size.
inline constexpr int kStorageIdBufferChars = 300;

// Copies src into a fixed field, cut to the field's size and NUL-terminated.
// A null src leaves the field empty.
inline void CopyField(wchar_t* dest, std::size_t destChars, const wchar_t* src,
                      std::size_t maxSrcChars = static_cast<std::size_t>(-1)) {
    if (dest == nullptr || destChars == 0) return;
    std::size_t n = 0;
    if (src != nullptr) {
        const std::size_t limit = destChars - 1 < maxSrcChars ? destChars - 1 : maxSrcChars;
        while (n < limit && src[n] != L'\0') {
            dest[n] = src[n];
            ++n;
        }
    }
    for (std::size_t i = n; i < destChars; ++i) dest[i] = L'\0';
}

template <std::size_t N>
inline void CopyField(wchar_t (&dest)[N], const wchar_t* src) {
    CopyField(dest, N, src);
}

// A field's text. A field is NUL-terminated by CopyField, but a caller may
// have written it directly: never read past its end.
template <std::size_t N>
inline std::wstring_view FieldView(const wchar_t (&field)[N]) {
    return std::wstring_view(field, wcsnlen(field, N));
}

// The volume names of a record, entry i the GUID path of volume i. Entries
// past the record's volumes are empty strings whose tails are never read, so
// a new record does not clear the 20 KB its names may take, and a copy moves
// only the entries in use. An entry is written whole with CopyField.
class VolumeNameTable {
public:
    using Entry = wchar_t[kVolumeNameChars];

    VolumeNameTable() {
        for (Entry& name : names_) name[0] = L'\0';
    }
    VolumeNameTable(const VolumeNameTable& other) { CopyFrom(other); }
    VolumeNameTable& operator=(const VolumeNameTable& other) {
        if (this != &other) CopyFrom(other);
        return *this;
    }

    Entry& operator[](std::size_t index) { return names_[index]; }
    const Entry& operator[](std::size_t index) const { return names_[index]; }

private:
    void CopyFrom(const VolumeNameTable& other) {
        for (std::size_t i = 0; i < kMaxVolumes; ++i) {
            if (other.names_[i][0] == L'\0')
                names_[i][0] = L'\0';
            else
                std::memcpy(names_[i], other.names_[i], sizeof(Entry));
        }
    }

    Entry names_[kMaxVolumes];
};

// Room for the folders a record's volumes are mounted in ("C:\\Backup\\"):
// a few dozen ordinary paths.
inline constexpr int kMountFolderChars = 2048;

// The folders a record's volumes are mounted in, each with the index of its
// volume, in the order added. One fixed buffer keeps the record plain; a copy
// moves only the part in use. A folder that no longer fits is not kept (its
// volume still is, so it is still tested, flushed and removed).
class MountFolderList {
public:
    MountFolderList() = default;
    MountFolderList(const MountFolderList& other) { CopyFrom(other); }
    MountFolderList& operator=(const MountFolderList& other) {
        if (this != &other) CopyFrom(other);
        return *this;
    }

    // False when the folder is empty or does not fit.
    bool Add(int volume, std::wstring_view path);
    bool Empty() const { return length_ == 0; }
    // Calls visit(volume, path) for each folder in turn.
    template <typename Visit>
    void ForEach(Visit visit) const {
        for (std::size_t at = 0; at < length_;) {
            const int volume = static_cast<int>(text_[at]) - 1;
            const std::wstring_view path(text_ + at + 1);
            visit(volume, path);
            at += path.size() + 2;
        }
    }
    // The first folder of the volume, empty when it has none.
    std::wstring_view FirstOf(int volume) const;

private:
    void CopyFrom(const MountFolderList& other) {
        length_ = other.length_;
        std::memcpy(text_, other.text_, sizeof(wchar_t) * length_);
    }

    // Each entry: the volume's index plus one, the path, a NUL.
    std::size_t length_ = 0;
    wchar_t text_[kMountFolderChars];
};

struct DriveRecord {
    explicit DriveRecord(const wchar_t* deviceInstanceId);

    // A record takes over 20 KB, and every rebuild frees a table's worth and
    // takes as many again: the heap would give the freed pages back to the
    // system and fault them in anew. Freed records' memory is kept for the
    // next ones instead (records are made on the user-interface thread only).
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* block) noexcept;

    LONG deviceNumber = -1;
    // The FILE_DEVICE_ type that numbers it: disks, CD-ROM drives and tape
    // drives are numbered separately, so PhysicalDrive0, CdRom0 and Tape0
    // all have number 0. -1 while unknown.
    LONG deviceNumberType = -1;
    LONG busType = -1;
    LONG scsiDeviceType = -1;
    LONG deviceTypeModifier = -1;
    LONG mediaDeviceType = -1;
    LONG mediaType = -1;
    DWORD mediaCharacteristics = 0xFFFFFFFFu;
    bool removableMedia = false;
    bool isBootDrive = false;
    bool hasPageFile = false;
    wchar_t deviceInstanceId[500] = {};
    wchar_t storageId[500] = {};
    wchar_t vendorId[100] = {};
    wchar_t productId[100] = {};
    wchar_t deviceName[100] = {};
    wchar_t productRevision[100] = {};
    wchar_t serialNumber[100] = {};
    LONG letterCount = 0;
    // Not NUL-terminated when all 30 are used: read it with letterCount.
    wchar_t driveLetters[kMaxDriveLetters] = {};
    LONG volumeCount = 0;
    VolumeNameTable volumeNames;
    LONGLONG volumeExtentLengths[kMaxVolumes] = {};
    LONGLONG capacity = 0;
    LONG listItemIndex = -1;
    // Entry i is the drive letter of volume i, 0 for a volume without one
    // (mounted only in folders, or not at all); driveLetters keeps the
    // record's letters alone, in the order found.
    wchar_t volumeLetters[kMaxVolumes] = {};
    // Entry i is the number of disks volume i lies on: more than one for a
    // spanned or striped volume, which belongs to each of their records.
    LONG volumeDiskCounts[kMaxVolumes] = {};
    MountFolderList mountFolders;

    // Adds a volume with its drive letter (upper-cased). At the limits, or for
    // a letter the record already has, shows a warning and changes nothing.
    void AddVolume(Platform& platform, const wchar_t* volumeName, wchar_t letter,
                   LONGLONG extentLength);
    // Adds a volume with what it is mounted as: its drive letter (0 for none)
    // and the folders it is mounted in, and the number of disks it lies on.
    // A lettered volume meets AddVolume's checks; one without a letter is kept
    // once (a volume with two extents on this disk comes twice), within the
    // volume limit.
    void AddMountedVolume(Platform& platform, const wchar_t* volumeName, wchar_t letter,
                          LONGLONG extentLength, const std::vector<std::wstring>& folders,
                          LONG diskCount);

    // "None", or the letters as "C:, E:" followed by the mount folders
    // ("E:, C:\\Backup\\").
    std::wstring MountPointText() const;

    // Volume i's drive letter (0 for none) and the name a question gives it:
    // "E:", else its first folder "C:\\Backup\\", else its GUID path.
    wchar_t VolumeLetter(int index) const;
    std::wstring VolumeMountPoint(int index) const;
    // True when one of the record's volumes has this GUID path.
    bool HasVolume(std::wstring_view volumeName) const;

    // The letters as a NUL-terminated text (at most 30 characters).
    std::wstring LetterText() const;

    bool HasLetter(wchar_t upperLetter) const;

    // Entry index of volumeNames, or the empty string outside the volumes.
    const wchar_t* GetVolumeName(int index) const;

    // Display name ("USB") or enumerator name ("USBSTOR") of a bus type; empty
    // outside the table.
    static const wchar_t* BusTypeName(LONG busType, bool display);
    // Name of a SCSI peripheral device type; empty outside the table.
    static const wchar_t* ScsiDeviceTypeName(LONG scsiDeviceType);

    // The identifier that matches a volume's device to its record, for example
    // USBSTOR\DISK&VEN_...; blanks become "_", the whole text is upper-cased
    // and cut to 299 characters.
    static std::wstring BuildStorageId(Platform& platform, const wchar_t* vendorId,
                                       const wchar_t* productId, const wchar_t* productRevision,
                                       const wchar_t* serialNumber, LONG busType,
                                       LONG scsiDeviceType);
};

// True when two records describe the same device in the same state: same
// number (of the same type), letters, first volume size, capacity, instance id
// and mount points.
bool SameDevice(const DriveRecord& a, const DriveRecord& b);
