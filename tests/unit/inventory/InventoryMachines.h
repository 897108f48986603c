// Simulated machines for the inventory tests: a workstation, a server, and a
// machine with a floppy drive and a USB stick on B:, each as a real one would
// look to the program. The option helpers write the program's options key.
#pragma once

#include "app/Trayhop32App.h"
#include "platform/sim/SimMachine.h"

#include <string>
#include <vector>

namespace inventory_test {

inline const wchar_t* const kOptionsKey = L"Software\\Quenwell\\Trayhop32\\1.3";
inline const wchar_t* const kMemoryManagementKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";

inline void SetOption(SimMachine& sim, const wchar_t* name, const wchar_t* value) {
    sim.SetRegString(HKEY_CURRENT_USER, kOptionsKey, name, value);
}
// A value the settings store cannot read as text.
inline void SetUnreadableOption(SimMachine& sim, const wchar_t* name) {
    sim.SetRegDword(HKEY_CURRENT_USER, kOptionsKey, name, 1);
}
// What the Configuration dialog writes when every kind and bus is shown.
inline void ShowEverything(SimMachine& sim) {
    for (const wchar_t* name :
         {L"IgnoreSCSI", L"IgnoreATAPI", L"IgnoreIDE", L"Ignore1394", L"IgnoreSSA", L"IgnoreFibre",
          L"IgnoreUSB", L"IgnoreRAID", L"IgnoreCDROM", L"IgnoreTape"})
        SetOption(sim, name, L"0");
}
inline void SetPagingFiles(SimMachine& sim, const std::vector<std::wstring>& entries) {
    sim.SetRegMultiString(HKEY_LOCAL_MACHINE, kMemoryManagementKey, L"PagingFiles", entries);
}

inline SimVolume LetterOnlyVolume(WCHAR letter, UINT driveType, const std::wstring& device,
                                  DWORD extentsError) {
    SimVolume v = SimMachine::MakeVolume(letter, 0, 0, driveType);
    v.extents.clear();
    v.extentsError = extentsError;
    v.deviceInstanceId = device;
    return v;
}

// Instance identifiers of the workstation's devices.
namespace ws {
inline const std::wstring kBootDisk = L"IDE\\DISKWDC_WD800JD-00LSA0\\5&2A1B3C&0&0.0.0";
inline const std::wstring kDataDisk = L"IDE\\DISKST3250823AS\\5&2A1B3C&0&0.1.0";
inline const std::wstring kUsbFlash = L"USBSTOR\\DISK&VEN_SANDISK&PROD_CRUZER&REV_8.02\\0001";
inline const std::wstring kCardReader = L"USBSTOR\\DISK&VEN_GENERIC&PROD_SD_MMC&REV_1.00\\0002";
inline const std::wstring kFirewireDisk = L"SBP2\\MAXTOR&ONETOUCH&LUN0\\0010B920";
inline const std::wstring kDvdWithDisc = L"IDE\\CDROMHL-DT-ST_DVD-RAM_GSA-H55N\\5&1";
inline const std::wstring kDvdEmpty = L"IDE\\CDROMTSSTCORP_DVD+-RW_TS-H653A\\5&2";
inline const std::wstring kTape = L"SCSI\\SEQUENTIALHP______C5683A\\4&1";
}  // namespace ws

// SATA boot disk 0 (C:, page file), data disk 1 (D:, E:), USB flash disk 2
// (F:), USB card reader 3 without a card (G:), 1394 disk 4 (J:), a DVD
// writer with a disc (H:), an empty DVD drive (I:) and a DAT tape drive.
inline void BuildWorkstation(SimMachine& sim) {
    SimDevice boot = SimMachine::MakeDisk(ws::kBootDisk, L"WDC WD800JD-00LSA0", 0, BusTypeAta,
                                          80ull * 1000 * 1000 * 1000);
    boot.storage.product = "WDC WD800JD-00LSA0";
    boot.storage.serial = "     WD-WMAM9AB12345";
    sim.AddDevice(boot);
    SimDevice data = SimMachine::MakeDisk(ws::kDataDisk, L"ST3250823AS", 1, BusTypeAta,
                                          250ull * 1000 * 1000 * 1000);
    sim.AddDevice(data);
    SimDevice flash = SimMachine::MakeDisk(ws::kUsbFlash, L"SanDisk Cruzer USB Device", 2,
                                           BusTypeUsb, 4ull * 1000 * 1000 * 1000);
    flash.storage.vendor = "SanDisk ";
    flash.storage.product = "Cruzer          ";
    flash.storage.revision = "8.02";
    flash.storage.serial = std::nullopt;
    flash.storage.serialOffsetAllOnes = true;
    sim.AddDevice(flash);
    SimDevice reader =
        SimMachine::MakeDisk(ws::kCardReader, L"Generic SD/MMC USB Device", 3, BusTypeUsb, 0);
    reader.storage.vendor = "Generic ";
    reader.storage.product = "SD/MMC          ";
    reader.storage.serial = std::nullopt;
    reader.storage.ioctlErrors[IOCTL_DISK_GET_DRIVE_GEOMETRY] = ERROR_NOT_READY;
    reader.storage.ioctlErrors[IOCTL_STORAGE_GET_MEDIA_TYPES_EX] = ERROR_NOT_READY;
    sim.AddDevice(reader);
    SimDevice firewire =
        SimMachine::MakeDisk(ws::kFirewireDisk, L"Maxtor OneTouch IEEE 1394 SBP2 Device", 4,
                             BusType1394, 300ull * 1000 * 1000 * 1000);
    firewire.storage.vendor = "Maxtor  ";
    firewire.storage.product = "OneTouch        ";
    sim.AddDevice(firewire);
    SimDevice dvd = SimMachine::MakeCdrom(ws::kDvdWithDisc, L"HL-DT-ST DVD-RAM GSA-H55N", 0);
    dvd.storage.vendor = "HL-DT-ST";
    dvd.storage.product = "DVD-RAM GSA-H55N";
    sim.AddDevice(dvd);
    SimDevice empty = SimMachine::MakeCdrom(ws::kDvdEmpty, L"TSSTcorp DVD+-RW TS-H653A", 1);
    empty.storage.vendor = "TSSTcorp";
    empty.storage.product = "DVD+-RW TS-H653A";
    empty.storage.ioctlErrors[IOCTL_CDROM_GET_DRIVE_GEOMETRY] = ERROR_NOT_READY;
    empty.storage.media.clear();
    sim.AddDevice(empty);
    SimDevice tape = SimMachine::MakeTape(ws::kTape, L"HP C5683A SCSI Sequential Device", 0);
    tape.storage.vendor = "HP      ";
    tape.storage.product = "C5683A          ";
    sim.AddDevice(tape);

    sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 80ll * 1000 * 1000 * 1000));
    sim.AddVolume(SimMachine::MakeVolume(L'D', 1, 100ll * 1000 * 1000 * 1000));
    sim.AddVolume(SimMachine::MakeVolume(L'E', 1, 150ll * 1000 * 1000 * 1000));
    sim.AddVolume(SimMachine::MakeVolume(L'F', 2, 4ll * 1000 * 1000 * 1000, DRIVE_REMOVABLE));
    sim.AddVolume(LetterOnlyVolume(L'G', DRIVE_REMOVABLE, ws::kCardReader, ERROR_NOT_READY));
    sim.AddVolume(LetterOnlyVolume(L'H', DRIVE_CDROM, ws::kDvdWithDisc, ERROR_INVALID_FUNCTION));
    sim.AddVolume(LetterOnlyVolume(L'I', DRIVE_CDROM, ws::kDvdEmpty, ERROR_INVALID_FUNCTION));
    sim.AddVolume(SimMachine::MakeVolume(L'J', 4, 300ll * 1000 * 1000 * 1000));

    sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
    SetPagingFiles(sim, {L"C:\\pagefile.sys 1536 3072"});
}

namespace srv {
inline const std::wstring kRaidDisk = L"SCSI\\DISK&VEN_DELL&PROD_PERC_5/I\\5&1A&0&000";
inline const std::wstring kSasDisk1 = L"SCSI\\DISK&VEN_SEAGATE&PROD_ST3300655SS\\5&2B&0&010";
inline const std::wstring kSasDisk2 = L"SCSI\\DISK&VEN_SEAGATE&PROD_ST3300655SS\\5&2B&0&020";
inline const std::wstring kSasDisk3 = L"SCSI\\DISK&VEN_FUJITSU&PROD_MAX3147RC\\5&2B&0&030";
inline const std::wstring kRamDisk = L"ROOT\\RAMDISK\\0000";
}  // namespace srv

// RAID boot disk 0 (C:), SAS disks 1 and 2 holding the spanned S:, a SAS
// disk 3 reporting a bus type newer than the program knows, holding T: with
// 28 extents; a network drive N:, a RAM disk R: and a SUBST drive P:.
inline void BuildServer(SimMachine& sim) {
    SimDevice raid = SimMachine::MakeDisk(srv::kRaidDisk, L"DELL PERC 5/i SCSI Disk Device", 0,
                                          BusTypeRAID, 500ull * 1000 * 1000 * 1000);
    raid.storage.vendor = "DELL    ";
    raid.storage.product = "PERC 5/i        ";
    sim.AddDevice(raid);
    for (DWORD n = 1; n <= 2; ++n) {
        SimDevice sas = SimMachine::MakeDisk(n == 1 ? srv::kSasDisk1 : srv::kSasDisk2,
                                             L"SEAGATE ST3300655SS SCSI Disk Device", n,
                                             BusTypeScsi, 300ull * 1000 * 1000 * 1000);
        sas.storage.vendor = "SEAGATE ";
        sas.storage.product = "ST3300655SS     ";
        sim.AddDevice(sas);
    }
    SimDevice sas3 = SimMachine::MakeDisk(srv::kSasDisk3, L"FUJITSU MAX3147RC SCSI Disk Device", 3,
                                          10 /* SAS */, 147ull * 1000 * 1000 * 1000);
    sim.AddDevice(sas3);
    // The RAM disk's driver publishes no storage device of the disk class.
    SimVolume raidC = SimMachine::MakeVolume(L'C', 0, 500ll * 1000 * 1000 * 1000);
    sim.AddVolume(raidC);
    SimVolume spanned = SimMachine::MakeVolume(L'S', 1, 300ll * 1000 * 1000 * 1000);
    spanned.extents.push_back(SimExtent{2, 32256, 200ll * 1000 * 1000 * 1000});
    sim.AddVolume(spanned);
    SimVolume fragmented = SimMachine::MakeVolume(L'T', 3, 1000000);
    for (int i = 1; i < 28; ++i)
        fragmented.extents.push_back(SimExtent{3, 32256 + 2000000ll * i, 1000000});
    sim.AddVolume(fragmented);
    SimVolume network = SimMachine::MakeVolume(L'N', 0, 0, DRIVE_REMOTE);
    network.extents.clear();
    sim.AddVolume(network);
    SimVolume ram = SimMachine::MakeVolume(L'R', 0, 0, DRIVE_RAMDISK);
    ram.extents.clear();
    sim.AddVolume(ram);
    SimVolume subst = SimMachine::MakeVolume(L'P', 1, 300ll * 1000 * 1000 * 1000);
    subst.mountPointError = ERROR_INVALID_PARAMETER;
    sim.AddVolume(subst);

    sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
    SetPagingFiles(sim, {L"C:\\pagefile.sys 4096 4096", L"S:\\pagefile.sys 4096 4096"});
}

namespace fl {
inline const std::wstring kBootDisk = L"IDE\\DISKMAXTOR_6Y080L0\\5&1";
inline const std::wstring kUsbStick = L"USBSTOR\\DISK&VEN_KINGSTON&PROD_DATATRAVELER\\0003";
}  // namespace fl

// A floppy drive on A: and a USB stick that was given B:.
inline void BuildFloppyAndStickOnB(SimMachine& sim) {
    sim.AddDevice(SimMachine::MakeDisk(fl::kBootDisk, L"MAXTOR 6Y080L0", 0));
    SimDevice stick = SimMachine::MakeDisk(fl::kUsbStick, L"Kingston DataTraveler USB Device", 1,
                                           BusTypeUsb, 2ull * 1000 * 1000 * 1000);
    sim.AddDevice(stick);
    SimVolume floppy = SimMachine::MakeVolume(L'A', 0, 0, DRIVE_REMOVABLE);
    floppy.extents.clear();
    floppy.extentsError = ERROR_NOT_READY;
    floppy.ntDeviceName = L"\\Device\\Floppy0";
    sim.AddVolume(floppy);
    sim.AddVolume(SimMachine::MakeVolume(L'B', 1, 2ll * 1000 * 1000 * 1000, DRIVE_REMOVABLE));
    sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 80ll * 1000 * 1000 * 1000));
    sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
}

// The records' instance identifiers, in table order.
inline std::vector<std::wstring> TableIds(const DriveTable& table) {
    std::vector<std::wstring> ids;
    for (int i = 0; i < table.Count(); ++i) ids.emplace_back(table[i].deviceInstanceId);
    return ids;
}

inline const DriveRecord* RecordOf(const DriveTable& table, const std::wstring& id) {
    for (int i = 0; i < table.Count(); ++i)
        if (id == table[i].deviceInstanceId) return &table[i];
    return nullptr;
}

inline std::wstring LettersOf(const DriveTable& table, const std::wstring& id) {
    const DriveRecord* record = RecordOf(table, id);
    return record ? record->LetterText() : L"<no record>";
}

}  // namespace inventory_test
