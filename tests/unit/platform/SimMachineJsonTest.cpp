// Machine files: the examples load into working machines, and bad files are
// refused with the file and the field named.
#include "platform/sim/SimMachine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The machine files beside the tests, found from this source file's place;
// a Windows test exe under Wine reaches the same path through drive Z:.
std::string MachinePath(const std::string& name) {
    std::string here = __FILE__;
    std::string root = here.substr(0, here.find("tests/unit/platform/"));
    std::string path = root + "tests/machines/" + name;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
    return path;
}

TEST(SimMachineFile, WorkstationLoadsWithItsDevicesVolumesAndRegistry) {
    SimMachine sim;
    std::string error;
    ASSERT_TRUE(LoadSimMachineFromFile(sim, MachinePath("workstation.json"), error)) << error;
    EXPECT_EQ(4u, sim.Devices().size());
    const SimDevice* cd =
        sim.FindDevice(L"IDE\\CdRomHL-DT-ST_DVD-ROM_GDR8164B_0L06\\5&2a3b4c5d&0&1.0.0");
    ASSERT_NE(nullptr, cd);
    EXPECT_EQ(5, cd->storage.deviceType);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY),
              cd->storage.ioctlErrors.at(IOCTL_CDROM_GET_DRIVE_GEOMETRY));
    EXPECT_FALSE(sim.Devices()[0].storage.vendor.has_value());

    WCHAR roots[32];
    EXPECT_EQ(12u, sim.GetLogicalDriveStringsW(32, roots)) << "C, D and E now; F after a scan";
    auto paging = sim.GetRegValue(
        HKEY_LOCAL_MACHINE,
        L"system\\currentcontrolset\\control\\session manager\\memory management", L"PagingFiles");
    ASSERT_TRUE(paging.has_value());
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), paging->type);
    EXPECT_EQ(sizeof(WCHAR) * (25 + 2), paging->data.size());
}

TEST(SimMachineFile, EveryExampleLoads) {
    for (const char* name :
         {"workstation.json", "busy-server.json", "empty-wine.json", "mounted-images.json",
          "mounted-volumes.json"}) {
        SimMachine sim;
        std::string error;
        EXPECT_TRUE(LoadSimMachineFromFile(sim, MachinePath(name), error)) << error;
    }
    SimMachine sim;
    std::string error;
    ASSERT_TRUE(LoadSimMachineFromFile(sim, MachinePath("busy-server.json"), error));
    EXPECT_EQ(SimRemovalOutcome::Declined, sim.Devices()[2].removal);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_CLASS_INSTALLER), sim.Devices()[2].removalError);
    EXPECT_EQ(SimEdition::Bits64, sim.edition);
}

TEST(SimMachineFile, MalformedFilesAreRefusedNamingTheFileAndTheField) {
    struct Case {
        const char* json;
        const char* message;
    } cases[] = {
        {"{\"devices\": [{\"instanceId\": \"A\\\\1\"}, {\"instanceId\": \"B\\\\2\"}, "
         "{\"instanceId\": \"C\\\\3\", \"storage\": {\"busType\": \"seven\"}}]}",
         "machine.json: devices[2].storage.busType: expected a number"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"storage\": {\"busType\": 256}}]}",
         "machine.json: devices[0].storage.busType: out of range"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"storage\": {\"deviceNumber\": -1}}]}",
         "machine.json: devices[0].storage.deviceNumber: out of range"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"storage\": {\"capacity\": 1.5}}]}",
         "machine.json: devices[0].storage.capacity: expected a whole number"},
        {"{\"devices\": [{\"friendlyName\": \"no id\"}]}",
         "machine.json: devices[0].instanceId: missing"},
        {"{\"devices\": [{\"instanceId\": \"A\"}, {\"instanceId\": \"a\"}]}",
         "machine.json: devices[1].instanceId: used by an earlier device"},
        {"{\"devices\": {\"instanceId\": \"A\"}}", "machine.json: devices: expected an array"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"removal\": \"maybe\"}]}",
         "machine.json: devices[0].removal: expected"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"frendlyName\": \"typo\"}]}",
         "machine.json: devices[0].frendlyName: unknown field"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"storage\": {\"vendor\": \"\\u4e2d\"}}]}",
         "machine.json: devices[0].storage.vendor: character outside the ANSI code page"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"storage\": {\"rawDescriptor\": [1, 2, 300]}}]}",
         "machine.json: devices[0].storage.rawDescriptor[2]: out of range"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"storage\": {\"ioctlErrors\": {\"0xZZ\": 5}}}]}",
         "machine.json: devices[0].storage.ioctlErrors.0xZZ: expected a number"},
        {"{\"volumes\": [{\"letter\": \"CD\"}]}", "machine.json: volumes[0].letter: longer than 1"},
        {"{\"volumes\": [{\"letter\": \"1\"}]}",
         "machine.json: volumes[0].letter: expected one letter"},
        {"{\"volumes\": [{\"letter\": \"C\"}, {\"letter\": \"c\"}]}",
         "machine.json: volumes[1].letter: used by an earlier"},
        {"{\"volumes\": [{\"extents\": [{\"length\": 5}]}]}",
         "machine.json: volumes[0].extents[0].disk: missing"},
        {"{\"volumes\": [{\"guidPath\": \"C:\\\\\"}]}",
         "machine.json: volumes[0].guidPath: expected"},
        {"{\"volumes\": [{\"mountFolders\": \"C:\\\\B\\\\\"}]}",
         "machine.json: volumes[0].mountFolders: expected an array of strings"},
        {"{\"volumes\": [{\"mountFolders\": [\"C:\\\\\"]}]}",
         "machine.json: volumes[0].mountFolders[0]: expected a folder"},
        {"{\"volumes\": [{\"mountFolders\": [\"C:\\\\B\\\\\", \"Backup\"]}]}",
         "machine.json: volumes[0].mountFolders[1]: expected a folder"},
        {"{\"volumes\": [{\"mountFolders\": [\"C:\\\\B\\\\\"]}, {\"mountFolders\": "
         "[\"c:\\\\b\\\\\"]}]}",
         "machine.json: volumes[1].mountFolders[0]: used by an earlier volume"},
        {"{\"volumes\": [{\"ntDeviceName\": \"Floppy0\"}]}",
         "machine.json: volumes[0].ntDeviceName: expected a name"},
        {"{\"registry\": [{\"root\": \"HKCR\", \"key\": \"x\"}]}",
         "machine.json: registry[0].root: expected"},
        {"{\"registry\": [{\"root\": \"HKCU\", \"key\": \"x\", \"values\": [{\"name\": \"v\", "
         "\"type\": \"dword\", \"data\": \"many\"}]}]}",
         "machine.json: registry[0].values[0].data: expected a number"},
        {"{\"classes\": {\"Odd\": [\"not-a-guid\"]}}",
         "machine.json: classes.Odd[0]: expected a GUID"},
        {"{\"environment\": {\"A\": 5}}", "machine.json: environment.A: expected a string"},
        {"{\"edition\": 64}", "machine.json: edition: expected"},
        {"{\"messageBoxAnswers\": [99]}", "machine.json: messageBoxAnswers[0]: out of range"},
        {"{\"windows\": [{\"title\": [\"x\"]}]}",
         "machine.json: windows[0].title: expected a string"},
        {"{\"processes\": [{\"imageName\": \"a.exe\"}]}",
         "machine.json: processes[0].processId: missing"},
        {"{\"processes\": [{\"processId\": 7, \"files\": [{\"path\": \"\\\\x\"}]}]}",
         "machine.json: processes[0].files[0].letter: missing"},
        {"{\"processes\": [{\"processId\": 7}, {\"processId\": 7}]}",
         "machine.json: processes[1].processId: used by an earlier process"},
        {"{\"processes\": [{\"processId\": 7, \"services\": \"WSearch\"}]}",
         "machine.json: processes[0].services: expected an array"},
        {"{\"processes\": [{\"processId\": 7, \"services\": [\"\"]}]}",
         "machine.json: processes[0].services[0]: empty"},
        {"{\"processes\": [{\"processId\": 7, \"protected\": 1}]}",
         "machine.json: processes[0].protected: expected"},
        {"{\"processes\": [{\"processId\": 7, \"needsDebugPrivilege\": \"yes\"}]}",
         "machine.json: processes[0].needsDebugPrivilege: expected"},
        {"{\"processes\": [{\"processId\": 7, \"files\": [{\"path\": \"\\\\p\", \"pipe\": "
         "true, \"mapped\": true}]}]}",
         "machine.json: processes[0].files[0].mapped: a pipe or folder is not mapped"},
        {"{\"processes\": [{\"processId\": 7, \"files\": [{\"letter\": \"E\", \"stall\": "
         "true}]}]}",
         "machine.json: processes[0].files[0].stall: unknown"},
        {"{\"handleTable\": \"huge\"}", "machine.json: handleTable: expected"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"virtualDisk\": {}}]}",
         "machine.json: devices[0].virtualDisk.image: missing"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"virtualDisk\": {\"image\": \"build.vhdx\"}}]}",
         "machine.json: devices[0].virtualDisk.image: expected a file path"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"virtualDisk\": {\"image\": \"D:\\\\a.iso\", "
         "\"detachError\": 0}}]}",
         "machine.json: devices[0].virtualDisk.detachError: an error must not be 0"},
        {"{\"devices\": [{\"instanceId\": \"A\", \"virtualDisk\": {\"image\": \"D:\\\\a.iso\", "
         "\"file\": 1}}]}",
         "machine.json: devices[0].virtualDisk.file: unknown field"},
        {"{\"volumes\": [{\"bitLockerLocked\": \"yes\"}]}",
         "machine.json: volumes[0].bitLockerLocked: expected true or false"},
        {"{\"volumes\": [{\"lockRefusals\": -2}]}",
         "machine.json: volumes[0].lockRefusals: out of range"},
        {"{\"virtualDiskServiceMissing\": 1}",
         "machine.json: virtualDiskServiceMissing: expected true or false"},
        {"{\"devices\": [", "machine.json: not valid JSON"},
        {"[1, 2]", "machine.json: expected an object at the top"},
        {"", "machine.json: not valid JSON"},
    };
    for (const auto& c : cases) {
        SimMachine sim;
        sim.AddVolume(SimMachine::MakeVolume(L'Q', 0, 1));
        std::string error;
        EXPECT_FALSE(LoadSimMachineFromJson(sim, c.json, "machine.json", error)) << c.json;
        EXPECT_EQ(0u, error.rfind(c.message, 0)) << "got: " << error;
        EXPECT_NE(nullptr, sim.FindVolume(L'Q')) << "a refused file leaves the machine as it was";
    }
    SimMachine sim;
    std::string error;
    EXPECT_FALSE(LoadSimMachineFromFile(sim, MachinePath("no-such-machine.json"), error));
    EXPECT_NE(std::string::npos, error.find("no-such-machine.json: cannot be read"));
}

}  // namespace
