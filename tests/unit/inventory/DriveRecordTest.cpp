#include <gtest/gtest.h>

#include "app/ProgramName.h"
#include "inventory/DriveTable.h"
#include "platform/sim/SimMachine.h"

#include <functional>
#include <memory>
#include <stdexcept>

namespace {

TEST(DriveRecord, StartsEmptyWithItsIdentifierCutTo200) {
    const std::wstring longId(260, L'I');
    DriveRecord record(longId.c_str());
    EXPECT_EQ(std::wstring(record.deviceInstanceId), longId.substr(0, 200));
    EXPECT_EQ(record.deviceNumber, -1);
    EXPECT_EQ(record.mediaCharacteristics, 0xFFFFFFFFu);
    EXPECT_EQ(record.listItemIndex, -1);
    EXPECT_EQ(record.MountPointText(), L"None");
    EXPECT_EQ(sizeof(record.volumeNames), sizeof(wchar_t) * 50 * 200);
    EXPECT_EQ(sizeof(record.driveLetters), sizeof(wchar_t) * 30);
}

// The memory of freed records is used again: a record made in it starts as
// new, and a copy takes the volumes in use and nothing else.
TEST(DriveRecord, RecordInReusedMemoryStartsEmptyAndCopiesWhole) {
    SimMachine sim;
    for (int round = 0; round < 2; ++round) {
        auto used = std::make_unique<DriveRecord>(L"OLD\\1");
        used->AddVolume(sim, L"\\\\?\\Volume{old}", L'E', 5);
        used->capacity = 7;
        used.reset();
        auto fresh = std::make_unique<DriveRecord>(L"NEW\\1");
        EXPECT_EQ(fresh->volumeCount, 0);
        EXPECT_EQ(std::wstring(fresh->GetVolumeName(0)), L"");
        EXPECT_EQ(std::wstring(fresh->volumeNames[0]), L"");
        EXPECT_EQ(fresh->capacity, 0);
        fresh->AddVolume(sim, L"\\\\?\\Volume{new}", L'F', 9);
        const DriveRecord copy(*fresh);
        EXPECT_EQ(std::wstring(copy.volumeNames[0]), L"\\\\?\\Volume{new}");
        EXPECT_EQ(std::wstring(copy.volumeNames[1]), L"");
        EXPECT_TRUE(SameDevice(copy, *fresh));
    }
    EXPECT_EQ("", sim.LeakReport());
}

const wchar_t* const kThirty = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ1234";

struct AddCase {
    const char* situation;
    std::wstring lettersBefore;
    wchar_t letter;
    const wchar_t* warning;  // null: stored without a warning
    std::wstring lettersAfter;
};

TEST(DriveRecord, AddVolumeStoresOrWarns) {
    const AddCase cases[] = {
        {"lower case is stored upper case", L"", L'd', nullptr, L"D"},
        {"duplicate first letter", L"D", L'D', L"Drive D is already found at index 0 in D.", L"D"},
        {"duplicate in lower case", L"CDE", L'e', L"Drive E is already found at index 2 in CDE.",
         L"CDE"},
        {"a NUL letter is never stored", L"C", L'\0',
         L"Error drive found but not in the drive letter list.", L"C"},
        {"the 31st letter", kThirty, L'5', L"Number of drives exceeds max", kThirty},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        SimMachine sim;
        DriveRecord record(L"?");
        for (wchar_t letter : c.lettersBefore) record.AddVolume(sim, L"v", letter, 100);
        ASSERT_TRUE(sim.messageBoxes.empty());
        const DriveRecord before = record;
        record.AddVolume(sim, L"\\\\?\\Volume{new}", c.letter, 7);
        EXPECT_EQ(record.LetterText(), c.lettersAfter);
        EXPECT_EQ(record.volumeCount, record.letterCount);
        if (c.warning == nullptr) {
            EXPECT_TRUE(sim.messageBoxes.empty());
            EXPECT_EQ(std::wstring(record.GetVolumeName(record.volumeCount - 1)),
                      L"\\\\?\\Volume{new}");
            EXPECT_EQ(record.volumeExtentLengths[record.volumeCount - 1], 7);
            continue;
        }
        ASSERT_EQ(sim.messageBoxes.size(), 1u);
        EXPECT_EQ(sim.messageBoxes[0].text, c.warning);
        EXPECT_EQ(sim.messageBoxes[0].caption, kProgramName);
        EXPECT_EQ(sim.messageBoxes[0].flags, static_cast<UINT>(MB_ICONWARNING));
        EXPECT_EQ(sim.messageBoxes[0].owner, nullptr);
        EXPECT_EQ(record.volumeCount, before.volumeCount);
        EXPECT_TRUE(SameDevice(record, before));
    }
}

TEST(DriveRecord, VolumeLimitNamesAndMountPoints) {
    SimMachine sim;
    DriveRecord record(L"?");
    record.volumeCount = 50;
    record.AddVolume(sim, L"v", L'C', 1);
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text, L"Number of volumes exceeds max");
    EXPECT_EQ(record.letterCount, 0);

    DriveRecord full(L"?");
    const std::wstring longName(300, L'n');
    for (const wchar_t* p = kThirty; *p; ++p) full.AddVolume(sim, longName.c_str(), *p, 0);
    EXPECT_EQ(full.letterCount, 30);
    EXPECT_EQ(std::wstring(full.GetVolumeName(0)), longName.substr(0, 199));
    EXPECT_EQ(std::wstring(full.GetVolumeName(full.volumeCount)), L"");
    EXPECT_EQ(std::wstring(full.GetVolumeName(-1)), L"");
    EXPECT_EQ(full.MountPointText().size(), 118u);
    EXPECT_EQ(full.MountPointText().substr(0, 8), L"A:, B:, ");
    EXPECT_EQ(full.MountPointText().substr(112), L"3:, 4:");
    EXPECT_EQ("", sim.LeakReport());
}

TEST(DriveRecord, NamingTables) {
    const wchar_t* display[] = {
        L"Unknown", L"SCSI", L"ATAPI",   L"IDE",   L"1394",                 L"SSA",
        L"FIBRE",   L"USB",  L"RAID",    L"iSCSI", L"SAS",                  L"SATA",
        L"SD",      L"MMC",  L"Virtual", L"File Backed Virtual", L"Spaces", L"NVMe",
        L"SCM",     L"UFS"};
    const wchar_t* enumerator[] = {L"Unknown", L"SCSI",  L"ATAPI",   L"IDE", L"SBP2",
                                   L"SSA",     L"FIBRE", L"USBSTOR", L"RAID"};
    for (LONG i = 0; i < 20; ++i) {
        EXPECT_STREQ(DriveRecord::BusTypeName(i, true), display[i]);
        // The storage identifier keeps its old names; newer buses add none.
        EXPECT_STREQ(DriveRecord::BusTypeName(i, false), i < 9 ? enumerator[i] : L"");
    }
    EXPECT_STREQ(DriveRecord::ScsiDeviceTypeName(0), L"DISK");
    EXPECT_STREQ(DriveRecord::ScsiDeviceTypeName(9), L"Comm. Device");
    EXPECT_STREQ(DriveRecord::ScsiDeviceTypeName(10), L"ASCIT8");
    EXPECT_STREQ(DriveRecord::ScsiDeviceTypeName(11), L"ASCIT8");
    EXPECT_STREQ(DriveRecord::ScsiDeviceTypeName(15), L"CARDREADER");
    for (LONG out : {-1L, 20L, 1000L}) EXPECT_STREQ(DriveRecord::BusTypeName(out, true), L"");
    for (LONG out : {-1L, 16L}) EXPECT_STREQ(DriveRecord::ScsiDeviceTypeName(out), L"");
}

TEST(DriveRecord, StorageIdentifiers) {
    SimMachine sim;
    struct {
        const wchar_t *vendor, *product, *revision, *serial;
        LONG bus, scsi;
        std::wstring id;
    } const cases[] = {
        {L"Generic ", L"Flash Disk      ", L"8.07", L"", 7, 0,
         L"USBSTOR\\DISK&VEN_GENERIC_&PROD_FLASH_DISK______&REV_8.07\\"},
        {L"ata", L"%s%n cd", L"1.0", L"sn 1", 2, 5,
         L"ATAPI\\CDROM&VEN_ATA&PROD_%S%N_CD&REV_1.0\\SN_1"},
        {L"v", L"p", L"r", L"s", 9, 16, L"\\&VEN_V&PROD_P&REV_R\\S"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DriveRecord::BuildStorageId(sim, c.vendor, c.product, c.revision, c.serial, c.bus,
                                              c.scsi),
                  c.id);
    const std::wstring field(99, L'a');
    const std::wstring id = DriveRecord::BuildStorageId(sim, field.c_str(), field.c_str(),
                                                        field.c_str(), field.c_str(), 1, 0);
    EXPECT_EQ(id.size(), 299u);
    EXPECT_EQ(id.substr(0, 15), L"SCSI\\DISK&VEN_A");
    EXPECT_EQ("", sim.LeakReport());
}

TEST(DriveRecord, SameDeviceTestsEachFieldInTurn) {
    SimMachine sim;
    DriveRecord base(L"USBSTOR\\DISK\\1");
    base.deviceNumber = 2;
    base.capacity = 1000;
    base.AddVolume(sim, L"v1", L'E', 500);
    base.AddVolume(sim, L"v2", L'F', 400);
    const std::pair<const char*, std::function<void(DriveRecord&)>> changes[] = {
        {"device number", [](DriveRecord& r) { r.deviceNumber = 3; }},
        {"letter count", [](DriveRecord& r) { r.letterCount = 1; }},
        {"first extent", [](DriveRecord& r) { r.volumeExtentLengths[0] = 501; }},
        {"capacity", [](DriveRecord& r) { r.capacity = 0; }},
        {"instance id case", [](DriveRecord& r) { r.deviceInstanceId[0] = L'u'; }},
        {"letters", [](DriveRecord& r) { r.driveLetters[1] = L'G'; }},
    };
    for (const auto& [field, change] : changes) {
        DriveRecord copy = base;
        EXPECT_TRUE(SameDevice(copy, base));
        change(copy);
        EXPECT_FALSE(SameDevice(copy, base)) << field;
    }
    DriveRecord renamed = base;
    CopyField(renamed.deviceName, L"Another name");
    renamed.volumeExtentLengths[1] = 1;
    EXPECT_TRUE(SameDevice(renamed, base));
    EXPECT_EQ("", sim.LeakReport());
}

// Folders follow the letters, and a device mounted only in folders shows
// them, not "None"; a volume without a letter is kept once; a copy keeps the
// folders, and a changed folder is another state of the device.
TEST(DriveRecord, MountFoldersFollowTheLettersAndTravelWithACopy) {
    SimMachine sim;
    DriveRecord record(L"USBSTOR\\DISK\\1");
    record.AddMountedVolume(sim, L"v1", 0, 10, {L"C:\\Backup\\"}, 1);
    EXPECT_EQ(record.MountPointText(), L"C:\\Backup\\");
    record.AddMountedVolume(sim, L"v2", L'e', 20, {L"C:\\Media\\", L"D:\\Media\\"}, 2);
    record.AddMountedVolume(sim, L"v1", 0, 10, {L"C:\\Backup\\"}, 1);  // its second extent
    record.AddMountedVolume(sim, L"v3", 0, 30, {}, 1);
    EXPECT_EQ(record.MountPointText(), L"E:, C:\\Backup\\, C:\\Media\\, D:\\Media\\");
    EXPECT_EQ(record.LetterText(), L"E");
    EXPECT_EQ(record.volumeCount, 3);
    EXPECT_EQ(record.VolumeMountPoint(0), L"C:\\Backup\\");
    EXPECT_EQ(record.VolumeMountPoint(1), L"E:");
    EXPECT_EQ(record.VolumeMountPoint(2), L"v3");
    EXPECT_EQ(record.VolumeLetter(0), L'\0');
    EXPECT_EQ(record.VolumeLetter(1), L'E');
    EXPECT_EQ(record.volumeDiskCounts[1], 2);
    EXPECT_TRUE(record.HasVolume(L"v3"));
    EXPECT_FALSE(record.HasVolume(L"v"));

    const DriveRecord copy(record);
    EXPECT_EQ(copy.MountPointText(), record.MountPointText());
    EXPECT_TRUE(SameDevice(copy, record));
    DriveRecord moved(L"USBSTOR\\DISK\\1");
    moved.AddMountedVolume(sim, L"v1", 0, 10, {L"C:\\Elsewhere\\"}, 1);
    moved.AddMountedVolume(sim, L"v2", L'E', 20, {L"C:\\Media\\", L"D:\\Media\\"}, 2);
    EXPECT_FALSE(SameDevice(moved, record));

    // Folders past the room are left out; the volume stays.
    DriveRecord crowded(L"X");
    std::vector<std::wstring> many;
    for (int i = 0; i < 150; ++i)
        many.push_back(L"C:\\Customers\\" + std::to_wstring(1000 + i) + L"\\");
    crowded.AddMountedVolume(sim, L"v", 0, 1, many, 1);
    EXPECT_EQ(crowded.volumeCount, 1);
    const std::wstring text = crowded.MountPointText();
    EXPECT_LT(text.size(), static_cast<size_t>(kMountFolderChars));
    EXPECT_EQ(text.rfind(L"C:\\Customers\\1000\\, C:\\Customers\\1001\\", 0), 0u);
    EXPECT_EQ(text.find(L"1149"), std::wstring::npos);
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST(DriveTable, OwnsRecordsInOrderAndFindsThem) {
    SimMachine sim;
    DriveTable table;
    EXPECT_EQ(table.FindByLetter(L'C'), nullptr);
    for (int i = 0; i < 3; ++i) {
        auto record = std::make_unique<DriveRecord>(L"?");
        record->deviceNumber = i % 2;
        // Numbers count per device type: CdRom0 and PhysicalDrive0 both have 0.
        record->deviceNumberType = i == 0 ? FILE_DEVICE_CD_ROM : FILE_DEVICE_DISK;
        CopyField(record->deviceName, i == 2 ? L"Disk B" : L"Disk A");
        CopyField(record->storageId, i == 1 ? L"SCSI\\DISK&X" : L"IDE\\DISK&Y");
        record->AddVolume(sim, L"v", static_cast<wchar_t>(L'C' + i), 0);
        table.Append(std::move(record));
    }
    table.Append(nullptr);
    ASSERT_EQ(table.Count(), 3);
    table[0].driveLetters[1] = L'Q';  // beyond letterCount: not a letter of the record

    EXPECT_EQ(table.FindByDeviceNumber(FILE_DEVICE_DISK, 1), &table[1]);
    EXPECT_EQ(table.FindByDeviceNumber(FILE_DEVICE_DISK, 0), &table[2]);
    EXPECT_EQ(table.FindByDeviceNumber(FILE_DEVICE_CD_ROM, 0), &table[0]);
    EXPECT_EQ(table.FindByDeviceNumber(FILE_DEVICE_TAPE, 0), nullptr);
    EXPECT_EQ(table.FindByDeviceNumber(FILE_DEVICE_DISK, -1), nullptr);
    EXPECT_EQ(table.FindByLetter(L'e'), &table[2]);
    EXPECT_EQ(table.FindByLetter(L'Q'), nullptr);
    EXPECT_EQ(table.FindByDeviceName(L"Disk A"), &table[0]);
    EXPECT_EQ(table.FindByDeviceName(L"disk b"), nullptr);
    EXPECT_EQ(table.FindByStorageId(L"SCSI\\DISK&X"), &table[1]);
    EXPECT_EQ(table.FindByStorageId(L"scsi\\disk&x"), nullptr);

    for (int bad : {-1, 3}) EXPECT_THROW(table.At(bad), std::invalid_argument);
    table.Clear();
    EXPECT_EQ(table.Count(), 0);
    EXPECT_THROW(table[0], std::invalid_argument);
    EXPECT_EQ("", sim.LeakReport());
}

}  // namespace
