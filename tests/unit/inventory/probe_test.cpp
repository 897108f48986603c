#include "app/ProgramName.h"
#include "inventory/Enumerate.h"
#include "inventory/Probe.h"
#include "platform/Owners.h"
#include "tests/unit/inventory/InventoryMachines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace inventory_test;

namespace {

const std::wstring kIoError =
    L"The request could not be performed because of an I/O device error.\r\n";
const std::wstring kDenied = L"Access is denied.\r\n";
const std::wstring kDisk0 = L"IDE\\DISK0\\1";
const std::wstring kDisk1 = L"USBSTOR\\DISK&VEN_SIM\\2";
const std::wstring kDvd = L"IDE\\CDROMSIM\\3";

std::vector<std::wstring> BoxTexts(const SimMachine& sim) {
    std::vector<std::wstring> texts;
    for (const SimMessageBox& box : sim.messageBoxes) texts.push_back(box.text);
    return texts;
}

}  // namespace

TEST(ReportSystemError, ExpectedDeviceAnswersStaySilent) {
    struct Case {
        DWORD code;
        std::wstring shown;  // empty: nothing at all
    };
    const std::vector<Case> cases = {
        {ERROR_INVALID_FUNCTION, L""},
        {ERROR_NOT_READY, L""},
        {ERROR_NOT_SUPPORTED, L""},
        {ERROR_ACCESS_DENIED, kDenied},
        {ERROR_IO_DEVICE, kIoError},
        {ERROR_MORE_DATA, L"More data is available.\r\n"},
        {4242, L""},  // the system has no text for it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        SimMachine sim;
        ReportSystemError(sim, c.code);
        EXPECT_EQ("", sim.LeakReport());
        if (c.shown.empty()) {
            EXPECT_TRUE(sim.messageBoxes.empty());
            EXPECT_TRUE(sim.debugOutput.empty());
            continue;
        }
        EXPECT_EQ(std::vector<std::wstring>{c.shown}, sim.debugOutput);
        ASSERT_EQ(1u, sim.messageBoxes.size());
        EXPECT_EQ(c.shown, sim.messageBoxes[0].text);
        EXPECT_EQ(kProgramName, sim.messageBoxes[0].caption);
        EXPECT_EQ(nullptr, sim.messageBoxes[0].owner);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), sim.messageBoxes[0].flags);
    }
    // The debugger hears it before the box opens.
    SimMachine order;
    ReportSystemError(order, ERROR_ACCESS_DENIED);
    std::vector<std::string> methods;
    for (const SimCall& call : order.Calls()) methods.push_back(call.method);
    EXPECT_EQ((std::vector<std::string>{"FormatMessageW", "OutputDebugStringW", "MessageBoxW"}),
              methods);
}

namespace {

// A descriptor as a device might send it: the fixed part with the given Size
// and offsets, then `tail` at offset 40.
std::vector<BYTE> RawDescriptor(DWORD size, DWORD vendor, DWORD product, DWORD revision,
                                DWORD serial, const std::string& tail) {
    STORAGE_DEVICE_DESCRIPTOR d{};
    d.Version = sizeof(d);
    d.Size = size;
    d.DeviceType = 0;
    d.BusType = BusTypeUsb;
    d.VendorIdOffset = vendor;
    d.ProductIdOffset = product;
    d.ProductRevisionOffset = revision;
    d.SerialNumberOffset = serial;
    std::vector<BYTE> bytes(sizeof(d) + tail.size());
    std::memcpy(bytes.data(), &d, sizeof(d));
    if (!tail.empty()) std::memcpy(bytes.data() + sizeof(d), tail.data(), tail.size());
    return bytes;
}

struct DescriptorCase {
    const char* name;
    std::vector<BYTE> raw;
    std::wstring vendor, product, revision, serial;
};

}  // namespace

TEST(QueryStorageDescriptor, StringsNeverComeFromOutsideTheAnswer) {
    const std::string strings =
        std::string("VEND    ") + '\0' + "PRODUCT " + '\0' + "1.0" + '\0' + "SN1" + '\0';
    const std::vector<DescriptorCase> cases = {
        {"well formed",
         RawDescriptor(40 + static_cast<DWORD>(strings.size()), 40, 49, 58, 62, strings),
         L"VEND    ", L"PRODUCT ", L"1.0", L"SN1"},
        {"offsets at and past the end",
         RawDescriptor(49, 40, 49, 5000, 0xFFFFFFF0u, std::string("VEND    ") + '\0'), L"VEND    ",
         L"", L"", L""},
        {"serial number all ones",
         RawDescriptor(44, 40, 0, 0, 0xFFFFFFFFu, std::string("AB") + '\0' + '\0'), L"AB", L"", L"",
         L""},
        {"last string without NUL is cut at the end", RawDescriptor(46, 0, 40, 0, 0, "ABCDEF"), L"",
         L"ABCDEF", L"", L""},
        {"string longer than the field",
         RawDescriptor(40 + 151, 0, 40, 0, 0, std::string(150, 'X') + '\0'), L"",
         std::wstring(99, L'X'), L"", L""},
        {"Size larger than what was sent", RawDescriptor(4000, 40, 0, 3000, 0, std::string("ABC")),
         L"ABC", L"", L"", L""},
        {"Size smaller than what was sent",
         RawDescriptor(44, 40, 45, 0, 0, std::string("ABC") + '\0' + "HIDDEN" + '\0'), L"ABC", L"",
         L"", L""},
        {"Size beyond any sense", RawDescriptor(0xFFFFFFFFu, 40, 0, 0, 0, std::string("OK") + '\0'),
         L"OK", L"", L"", L""},
        {"Size that wraps the buffer length",
         RawDescriptor(0xFFFFFF80u, 40, 0, 0, 0, std::string("OK") + '\0'), L"OK", L"", L"", L""},
        {"shorter than the fixed part", std::vector<BYTE>(16, 0x28), L"", L"", L"", L""},
    };
    for (const DescriptorCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimMachine sim;
        SimDevice disk = SimMachine::MakeDisk(kDisk0, L"Disk", 0);
        disk.storage.rawDescriptor = c.raw;
        sim.AddDevice(disk);
        UniqueHandle h(sim, sim.CreateFileW(disk.interfacePath.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(h.Valid());
        StorageDescriptor descriptor;
        QueryStorageDescriptor(sim, h.Get(), descriptor);
        EXPECT_EQ(c.vendor, std::wstring(descriptor.vendorId));
        EXPECT_EQ(c.product, std::wstring(descriptor.productId));
        EXPECT_EQ(c.revision, std::wstring(descriptor.productRevision));
        EXPECT_EQ(c.serial, std::wstring(descriptor.serialNumber));
        EXPECT_TRUE(sim.messageBoxes.empty());
        h.Reset();
        EXPECT_EQ("", sim.LeakReport());
    }
}

namespace {

// Disk 0 (IDE), disk 1 (USB) and a DVD drive, enumerated into `table`.
void BuildProbeMachine(SimMachine& sim, DriveTable& table) {
    sim.AddDevice(SimMachine::MakeDisk(kDisk0, L"Disk 0", 0));
    sim.AddDevice(SimMachine::MakeDisk(kDisk1, L"Disk 1", 1, BusTypeUsb));
    sim.AddDevice(SimMachine::MakeCdrom(kDvd, L"DVD", 0));
    const WCHAR* const classes[] = {L"DiskDrive", L"CDROM"};
    ASSERT_EQ(kEnumerateDone, EnumerateStorageClasses(sim, table, classes, 2));
    ASSERT_EQ(3, table.Count());
}

struct ProbeCase {
    const char* name;
    SimVolume volume;
    std::function<void(SimMachine&)> afterEnumeration;
    std::vector<std::wstring> boxes;
    std::wstring disk0, disk1, dvd;  // letters each record holds afterwards
    LONGLONG extentLength = 0;       // of the first attached volume
};

SimVolume LetterOnly(DWORD error, const std::wstring& device) {
    return LetterOnlyVolume(L'E', DRIVE_CDROM, device, error);
}
SimVolume OnDisk(DWORD disk) {
    return SimMachine::MakeVolume(L'E', disk, 5000);
}
SimVolume WithVolume(SimVolume v, const std::function<void(SimVolume&)>& change) {
    change(v);
    return v;
}
// A volume that does not answer the device-number request itself.
SimVolume NoDeviceNumber(SimVolume v) {
    v.ioctlErrors[IOCTL_STORAGE_GET_DEVICE_NUMBER] = ERROR_INVALID_FUNCTION;
    return v;
}

}  // namespace

TEST(ProbeVolume, EveryFailureIsShownOrSilentAndKeepsOrDropsTheLetter) {
    auto none = [](SimMachine&) {};
    auto deviceOf = [](const std::wstring& id, const std::function<void(SimStorage&)>& change) {
        return [=](SimMachine& sim) { change(sim.FindDevice(id)->storage); };
    };
    const std::vector<ProbeCase> cases = {
        {"extents on disk 1", OnDisk(1), none, {}, L"", L"E", L"", 5000},
        // The DVD drive is CdRom0 and disk 0 is PhysicalDrive0: the volume
        // names its device by type and number, so only the DVD record matches.
        {"CD volume without extents, matched by its own device number",
         LetterOnly(ERROR_INVALID_FUNCTION, kDvd),
         none,
         {},
         L"",
         L"",
         L"E",
         0},
        {"volume that names no device number, matched by storage identifier",
         NoDeviceNumber(LetterOnly(ERROR_INVALID_FUNCTION, kDvd)),
         none,
         {},
         L"",
         L"",
         L"E",
         0},
        // The volume's answer decides alone: its device is not in the table.
        {"volume on a device outside the table",
         LetterOnly(ERROR_INVALID_FUNCTION, L"IDE\\OUTSIDE\\9"),
         [](SimMachine& sim) {
             SimDevice outside = SimMachine::MakeCdrom(L"IDE\\OUTSIDE\\9", L"DVD", 1);
             outside.storage = sim.FindDevice(kDvd)->storage;
             outside.storage.deviceNumber = 1;
             sim.AddDevice(outside);
         },
         {},
         L"",
         L"",
         L""},
        {"empty card slot", LetterOnly(ERROR_NOT_READY, kDisk1), none, {}, L"", L"E", L"", 0},
        {"volume cannot be opened",
         WithVolume(OnDisk(1), [](SimVolume& v) { v.openError = ERROR_ACCESS_DENIED; }),
         none,
         {},
         L"",
         L"",
         L""},
        // Both opens ask for no access, which a user without rights still gets.
        {"volume refuses read access",
         WithVolume(OnDisk(1), [](SimVolume& v) { v.openAccessDenied = true; }),
         none,
         {},
         L"",
         L"E",
         L"",
         5000},
        {"CD volume refuses read access",
         WithVolume(LetterOnly(ERROR_INVALID_FUNCTION, kDvd),
                    [](SimVolume& v) { v.openAccessDenied = true; }),
         none,
         {},
         L"",
         L"",
         L"E",
         0},
        {"more than 27 extents",
         WithVolume(OnDisk(1), [](SimVolume& v) { v.extents.resize(28, v.extents[0]); }),
         none,
         {L"More data is available.\r\n"},
         L"",
         L"",
         L""},
        {"extents denied",
         WithVolume(OnDisk(1),
                    [](SimVolume& v) {
                        v.ioctlErrors[IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS] = ERROR_ACCESS_DENIED;
                    }),
         none,
         {kDenied},
         L"",
         L"",
         L""},
        {"extents not supported",
         WithVolume(OnDisk(1),
                    [](SimVolume& v) {
                        v.ioctlErrors[IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS] = ERROR_NOT_SUPPORTED;
                    }),
         none,
         {},
         L"",
         L"",
         L""},
        {"physical drive denied: still attached by number",
         OnDisk(1),
         deviceOf(kDisk1, [](SimStorage& s) { s.openError = ERROR_ACCESS_DENIED; }),
         {kDenied},
         L"",
         L"E",
         L"",
         5000},
        {"physical drive not supported: silent",
         OnDisk(1),
         deviceOf(kDisk1, [](SimStorage& s) { s.openError = ERROR_NOT_SUPPORTED; }),
         {},
         L"",
         L"E",
         L"",
         5000},
        {"descriptor I/O error: both queries shown, still attached",
         OnDisk(0),
         deviceOf(
             kDisk0,
             [](SimStorage& s) { s.ioctlErrors[IOCTL_STORAGE_QUERY_PROPERTY] = ERROR_IO_DEVICE; }),
         {kIoError, kIoError},
         L"E",
         L"",
         L"",
         5000},
        {"disk not in the table",
         OnDisk(7),
         [](SimMachine& sim) { sim.AddDevice(SimMachine::MakeDisk(L"IDE\\LATE\\7", L"Late", 7)); },
         {},
         L"",
         L"",
         L""},
        {"spanned over disks 0 and 1",
         WithVolume(OnDisk(0),
                    [](SimVolume& v) {
                        v.extents.push_back(SimExtent{1, 0, 7000});
                    }),
         none,
         {},
         L"E",
         L"E",
         L"",
         5000},
        {"two extents on one disk warn about the letter",
         WithVolume(OnDisk(1), [](SimVolume& v) { v.extents.push_back(v.extents[0]); }),
         none,
         {L"Drive E is already found at index 0 in E."},
         L"",
         L"E",
         L"",
         5000},
        {"letter's device cannot be described: no match by an empty identity",
         NoDeviceNumber(LetterOnly(ERROR_INVALID_FUNCTION, kDvd)),
         deviceOf(
             kDvd,
             [](SimStorage& s) { s.ioctlErrors[IOCTL_STORAGE_QUERY_PROPERTY] = ERROR_IO_DEVICE; }),
         {kIoError, kIoError},
         L"",
         L"",
         L""},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimMachine sim;
        DriveTable table;
        BuildProbeMachine(sim, table);
        const SimVolume& volume = sim.AddVolume(c.volume);
        c.afterEnumeration(sim);
        const std::wstring name = volume.guidPath.substr(0, volume.guidPath.size() - 1);

        ProbeVolume(sim, table, L"E:\\", name.c_str());

        EXPECT_EQ(c.boxes, BoxTexts(sim));
        EXPECT_EQ(c.disk0, LettersOf(table, kDisk0));
        EXPECT_EQ(c.disk1, LettersOf(table, kDisk1));
        EXPECT_EQ(c.dvd, LettersOf(table, kDvd));
        for (int i = 0; i < table.Count(); ++i) {
            if (table[i].volumeCount == 0) continue;
            EXPECT_EQ(name, std::wstring(table[i].volumeNames[0]));
        }
        if (const DriveRecord* holder = table.FindByLetter(L'E')) {
            EXPECT_EQ(c.extentLength, holder->volumeExtentLengths[0]);
        }
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_TRUE(sim.ProgramErrors().empty());
    }
}

TEST(ProbeVolume, LetterDeviceThatCannotBeOpenedMatchesNothing) {
    SimMachine sim;
    DriveTable table;
    BuildProbeMachine(sim, table);
    // A record whose own descriptor could not be read carries the empty identity too.
    auto blank = std::make_unique<DriveRecord>(L"IDE\\BLANK\\9");
    const std::wstring emptyId = DriveRecord::BuildStorageId(sim, L"", L"", L"", L"", 0, 0);
    CopyField(blank->storageId, emptyId.c_str());
    table.Append(std::move(blank));
    const SimVolume& volume =
        sim.AddVolume(NoDeviceNumber(LetterOnly(ERROR_INVALID_FUNCTION, kDvd)));
    const std::wstring name = volume.guidPath.substr(0, volume.guidPath.size() - 1);
    // The volume opens; the open of "\\?\E:" after it fails.
    sim.FailMethod("CreateFileW", sim.CallCount("CreateFileW") + 2, ERROR_ACCESS_DENIED);

    ProbeVolume(sim, table, L"E:\\", name.c_str());

    EXPECT_EQ(std::vector<std::wstring>{kDenied}, BoxTexts(sim));
    EXPECT_EQ(nullptr, table.FindByLetter(L'E'));
    EXPECT_EQ("", sim.LeakReport());
}
