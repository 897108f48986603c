#include "inventory/DriveTable.h"

#include <cwchar>
#include <stdexcept>
#include <string_view>

namespace {

template <std::size_t N>
bool FieldEquals(const wchar_t (&field)[N], const wchar_t* text) {
    if (text == nullptr) return false;
    return std::wstring_view(field, wcsnlen(field, N)) == std::wstring_view(text);
}

}  // namespace

void DriveTable::Append(std::unique_ptr<DriveRecord> record) {
    if (record) records_.push_back(std::move(record));
}

DriveRecord& DriveTable::At(int index) {
    if (index < 0 || index >= Count())
        throw std::invalid_argument("drive table index out of range");
    return *records_[static_cast<std::size_t>(index)];
}

const DriveRecord& DriveTable::At(int index) const {
    if (index < 0 || index >= Count())
        throw std::invalid_argument("drive table index out of range");
    return *records_[static_cast<std::size_t>(index)];
}

DriveRecord* DriveTable::FindByDeviceNumber(LONG deviceNumberType, LONG deviceNumber) const {
    // A record whose number is unknown (-1) matches nothing.
    if (deviceNumber < 0 || deviceNumberType < 0) return nullptr;
    for (const auto& record : records_)
        if (record->deviceNumber == deviceNumber && record->deviceNumberType == deviceNumberType)
            return record.get();
    return nullptr;
}

DriveRecord* DriveTable::FindByLetter(wchar_t letter) const {
    if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - L'a' + L'A');
    for (const auto& record : records_)
        if (record->HasLetter(letter)) return record.get();
    return nullptr;
}

DriveRecord* DriveTable::FindByDeviceName(const wchar_t* name) const {
    for (const auto& record : records_)
        if (FieldEquals(record->deviceName, name)) return record.get();
    return nullptr;
}

DriveRecord* DriveTable::FindByStorageId(const wchar_t* storageId) const {
    for (const auto& record : records_)
        if (FieldEquals(record->storageId, storageId)) return record.get();
    return nullptr;
}
