// The drive table: the records of the attached devices in the order the
// inventory found them. It owns its records; Clear destroys them, so a
// pointer into the table is valid only until the next Clear.
#pragma once

#include "inventory/DriveRecord.h"

#include <memory>
#include <vector>

class DriveTable {
public:
    void Clear() { records_.clear(); }
    // Takes ownership; a null record is ignored.
    void Append(std::unique_ptr<DriveRecord> record);
    int Count() const { return static_cast<int>(records_.size()); }

    // An index outside 0..Count()-1 is a program error: std::invalid_argument.
    DriveRecord& At(int index);
    const DriveRecord& At(int index) const;
    DriveRecord& operator[](int index) { return At(index); }
    const DriveRecord& operator[](int index) const { return At(index); }

    // First record in table order that matches, or nullptr.
    // Device numbers count per device type (FILE_DEVICE_DISK, _CD_ROM, _TAPE),
    // so a number alone does not name a device.
    DriveRecord* FindByDeviceNumber(LONG deviceNumberType, LONG deviceNumber) const;
    // a to z are upper-cased first; only the record's letterCount letters count.
    DriveRecord* FindByLetter(wchar_t letter) const;
    // Exact, case-sensitive comparisons.
    DriveRecord* FindByDeviceName(const wchar_t* name) const;
    DriveRecord* FindByStorageId(const wchar_t* storageId) const;

private:
    std::vector<std::unique_ptr<DriveRecord>> records_;
};
