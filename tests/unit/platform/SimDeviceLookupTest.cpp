// The simulated machine finds devices by instance identifier and interface
// path through an index; these cases pin that it answers as a walk over all
// devices would: any case, the latest device added, identities changed after
// AddDevice, duplicates, and devices that are gone.
#include "platform/sim/SimMachine.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

class SimDeviceLookup : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ("", sim.LeakReport()); }

    SimDevice& AddDisk(const std::wstring& id, DWORD number) {
        return sim.AddDevice(SimMachine::MakeDisk(id, L"Disk " + std::to_wstring(number), number));
    }

    // The device number behind an interface path, or -1 when it does not open.
    long NumberBehind(const std::wstring& path) {
        HANDLE h = sim.CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return -1;
        STORAGE_DEVICE_NUMBER number{};
        DWORD returned = 0;
        const BOOL ok = sim.DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                            sizeof(number), &returned, nullptr);
        sim.CloseHandle(h);
        return ok ? static_cast<long>(number.DeviceNumber) : -1;
    }

    // Device numbers of the disk interfaces listed with `enumerator`.
    std::vector<long> InterfacesOf(const std::wstring& enumerator) {
        std::vector<long> numbers;
        HDEVINFO set = sim.SetupDiGetClassDevsW(&kGuidDevInterfaceDisk, enumerator.c_str(), nullptr,
                                                DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return numbers;
        SP_DEVICE_INTERFACE_DATA ifc{};
        ifc.cbSize = sizeof(ifc);
        for (DWORD i = 0;
             sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevInterfaceDisk, i, &ifc); ++i) {
            std::vector<DWORD> storage(256, 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (sim.SetupDiGetDeviceInterfaceDetailW(
                    set, &ifc, detail, static_cast<DWORD>(sizeof(DWORD) * 256), nullptr, nullptr))
                numbers.push_back(NumberBehind(detail->DevicePath));
        }
        sim.SetupDiDestroyDeviceInfoList(set);
        return numbers;
    }

    SimMachine sim;
};

TEST_F(SimDeviceLookup, DevicesAreFoundByIdentifierAndPathInAnyCase) {
    AddDisk(L"SCSI\\DISK&VEN_A\\0", 0);
    AddDisk(L"SCSI\\DISK&VEN_B\\1", 1);
    const std::wstring path = sim.Devices()[1].interfacePath;
    std::wstring upperPath = path;
    for (auto& c : upperPath) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));

    struct Case {
        const wchar_t* id;
        bool found;
    } cases[] = {
        {L"SCSI\\DISK&VEN_B\\1", true},
        {L"scsi\\disk&ven_b\\1", true},
        {L"SCSI\\DISK&VEN_B\\2", false},
        {L"SCSI\\DISK&VEN_B", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.id, c.id + std::wcslen(c.id)));
        SimDevice* d = sim.FindDevice(c.id);
        ASSERT_EQ(c.found, d != nullptr);
        if (d) {
            EXPECT_EQ(&sim.Devices()[1], d);
        }
    }
    EXPECT_EQ(1, NumberBehind(path));
    EXPECT_EQ(1, NumberBehind(upperPath));
    EXPECT_EQ(-1, NumberBehind(path + L"x"));
    EXPECT_EQ(std::vector<long>{1}, InterfacesOf(L"scsi\\disk&ven_b\\1"));
    EXPECT_EQ(std::vector<long>{}, InterfacesOf(L"SCSI\\DISK&VEN_C\\9"));
    // A bus name still lists every device on that bus, in interface order.
    EXPECT_EQ((std::vector<long>{0, 1}), InterfacesOf(L"SCSI"));
}

TEST_F(SimDeviceLookup, DevicesAddedOrRenamedAfterALookupAreFound) {
    AddDisk(L"SCSI\\DISK\\0", 0);
    ASSERT_NE(nullptr, sim.FindDevice(L"SCSI\\DISK\\0"));

    SimDevice& late = AddDisk(L"SCSI\\DISK\\1", 1);
    EXPECT_EQ(&late, sim.FindDevice(L"SCSI\\DISK\\1"));
    EXPECT_EQ(1, NumberBehind(late.interfacePath));

    // A test may rename a device it holds: found under the new name (asked
    // first, so the index cannot have noticed yet), unknown under the old.
    late.instanceId = L"SCSI\\DISK\\RENAMED";
    late.interfacePath = SimMachine::InterfacePathFor(late.instanceId, kGuidDevInterfaceDisk);
    EXPECT_EQ(&late, sim.FindDevice(L"SCSI\\DISK\\RENAMED"));
    EXPECT_EQ(nullptr, sim.FindDevice(L"SCSI\\DISK\\1"));
    EXPECT_EQ(-1,
              NumberBehind(SimMachine::InterfacePathFor(L"SCSI\\DISK\\1", kGuidDevInterfaceDisk)));
    EXPECT_EQ(1, NumberBehind(late.interfacePath));
    EXPECT_EQ(std::vector<long>{1}, InterfacesOf(L"SCSI\\DISK\\RENAMED"));
}

TEST_F(SimDeviceLookup, DuplicatesAnswerAsBeforeAndAbsentDevicesAreSkipped) {
    // Two devices sharing one interface path: the later present one opens.
    SimDevice& first = AddDisk(L"SCSI\\DISK\\0", 5);
    SimDevice& second = AddDisk(L"SCSI\\DISK\\1", 6);
    second.interfacePath = first.interfacePath;
    EXPECT_EQ(6, NumberBehind(first.interfacePath));
    second.present = false;
    EXPECT_EQ(5, NumberBehind(first.interfacePath));
    first.present = false;
    EXPECT_EQ(-1, NumberBehind(first.interfacePath));

    // A device the system has removed is no longer known by its identifier;
    // SetupDiOpenDeviceInfoW still finds one that is merely absent.
    SimDevice& gone = AddDisk(L"SCSI\\DISK\\2", 7);
    gone.removed = true;
    EXPECT_EQ(nullptr, sim.FindDevice(L"SCSI\\DISK\\2"));
    HDEVINFO set = sim.SetupDiCreateDeviceInfoListExW(nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof(data);
    EXPECT_FALSE(sim.SetupDiOpenDeviceInfoW(set, L"SCSI\\DISK\\2", nullptr, 0, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SUCH_DEVINST), sim.GetLastError());
    EXPECT_TRUE(sim.SetupDiOpenDeviceInfoW(set, L"scsi\\disk\\0", nullptr, 0, &data));
    sim.SetupDiDestroyDeviceInfoList(set);
}

}  // namespace
