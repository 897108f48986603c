// A storage device whose descriptor answer is any bytes: any Size, any
// string offsets, any length. The query must read only inside the answer, and
// the inventory built over such a device must stay sound.
#include "inventory/Probe.h"
#include "platform/Owners.h"
#include "tests/fuzz/FuzzSupport.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SimMachine sim;
    SimDevice disk = SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_FUZZ\\1", L"Fuzz Disk", 1,
                                          BusTypeUsb, 4000000000ULL);
    disk.storage.rawDescriptor = std::vector<BYTE>(data, data + size);
    const std::wstring path = disk.interfacePath;
    sim.AddDevice(disk);
    sim.AddVolume(SimMachine::MakeVolume(L'E', 1, 1000000000LL, DRIVE_REMOVABLE));
    // A volume without extents is matched to its device by the descriptor alone.
    SimVolume letterOnly = SimMachine::MakeVolume(L'F', 1, 0, DRIVE_REMOVABLE);
    letterOnly.extents.clear();
    letterOnly.extentsError = ERROR_INVALID_FUNCTION;
    letterOnly.deviceInstanceId = L"USBSTOR\\DISK&VEN_FUZZ\\1";
    sim.AddVolume(letterOnly);
    sim.SetEnvironmentVariable(L"SystemDrive", L"C:");

    {
        UniqueHandle device(sim, sim.CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
        FUZZ_CHECK(device.Valid(), "the device opens");
        StorageDescriptor descriptor;
        QueryStorageDescriptor(sim, device.Get(), descriptor);
        FUZZ_CHECK(fuzz::Terminated(descriptor.vendorId), "vendor ends in its field");
        FUZZ_CHECK(fuzz::Terminated(descriptor.productId), "product ends in its field");
        FUZZ_CHECK(fuzz::Terminated(descriptor.productRevision), "revision ends in its field");
        FUZZ_CHECK(fuzz::Terminated(descriptor.serialNumber), "serial ends in its field");
    }
    fuzz::BuildAndFill(sim);
    return 0;
}
