// The simulated device installation services: setup classes, device
// information sets, interfaces, properties, removal and re-enumeration.
#include "platform/sim/SimInternal.h"

#include <algorithm>
#include <numeric>

using sim::FromPtr;
using sim::Quote;
using State = SimMachine::State;

namespace {

constexpr DEVINST kRootDevInst = 0x7FFF0000;  // the root of the device tree

DEVINST DevInstOf(size_t device) {
    return static_cast<DEVINST>(device + 1);
}

std::string SetText(HDEVINFO set) {
    return sim::Hex(reinterpret_cast<std::uintptr_t>(set));
}

bool LocalMachine(PCWSTR machine) {
    return !machine || !*machine;
}

const std::vector<size_t> kNoDevices;

enum class DeviceKey { Id, Path };

const std::wstring& KeyOf(const SimDevice& d, DeviceKey key) {
    return key == DeviceKey::Id ? d.instanceId : d.interfacePath;
}

// Whether every indexed device still has the identity it was indexed under.
bool IndexIsCurrent(const State& s, const std::deque<SimDevice>& devices) {
    for (size_t i = 0; i < s.devicesIndexed; ++i)
        if (s.indexedIdentity[i].first != devices[i].instanceId ||
            s.indexedIdentity[i].second != devices[i].interfacePath)
            return false;
    return true;
}

const std::vector<size_t>& DevicesWithKey(State& s, const std::deque<SimDevice>& devices,
                                          DeviceKey key, const std::wstring& text) {
    const std::wstring upper = sim::Upper(text);
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (; s.devicesIndexed < devices.size(); ++s.devicesIndexed) {
            const SimDevice& d = devices[s.devicesIndexed];
            s.devicesById[sim::Upper(d.instanceId)].push_back(s.devicesIndexed);
            if (!d.interfacePath.empty())
                s.devicesByPath[sim::Upper(d.interfacePath)].push_back(s.devicesIndexed);
            s.indexedIdentity.emplace_back(d.instanceId, d.interfacePath);
        }
        auto& index = key == DeviceKey::Id ? s.devicesById : s.devicesByPath;
        auto it = index.find(upper);
        if (it != index.end()) {
            const bool current = std::all_of(it->second.begin(), it->second.end(), [&](size_t i) {
                return sim::Upper(KeyOf(devices[i], key)) == upper;
            });
            if (current) return it->second;
        } else if (IndexIsCurrent(s, devices)) {
            // A miss is believed only when no device was renamed since.
            return kNoDevices;
        }
        s.devicesById.clear();
        s.devicesByPath.clear();
        s.indexedIdentity.clear();
        s.devicesIndexed = 0;
    }
    return kNoDevices;
}

}  // namespace

const std::vector<size_t>& State::DevicesWithId(const SimMachine& m, const std::wstring& id) {
    return DevicesWithKey(*m.state_, m.devices_, DeviceKey::Id, id);
}

const std::vector<size_t>& State::DevicesWithPath(const SimMachine& m, const std::wstring& path) {
    if (path.empty()) return kNoDevices;
    return DevicesWithKey(*m.state_, m.devices_, DeviceKey::Path, path);
}

GUID State::InterfaceClassOf(const SimMachine& m, const SimDevice& device) {
    GUID own = m.ClassGuidOf(device.setupClass);
    if (SameGuid(own, m.ClassGuidOf(L"DiskDrive"))) return kGuidDevInterfaceDisk;
    if (SameGuid(own, m.ClassGuidOf(L"CDROM"))) return kGuidDevInterfaceCdrom;
    if (SameGuid(own, m.ClassGuidOf(L"TapeDrive"))) return kGuidDevInterfaceTape;
    return own;
}

bool State::DeviceIsDisk(const SimMachine& m, const SimDevice& device) {
    return SameGuid(InterfaceClassOf(m, device), kGuidDevInterfaceDisk);
}

SimDevice* State::DeviceOfVolume(SimMachine& m, const SimVolume& volume) {
    if (!volume.deviceInstanceId.empty()) {
        SimDevice* d = m.FindDevice(volume.deviceInstanceId);
        return d && d->present ? d : nullptr;
    }
    if (volume.extents.empty()) return nullptr;
    for (auto& d : m.devices_)
        if (d.present && d.storage.deviceNumber == volume.extents[0].diskNumber &&
            DeviceIsDisk(m, d))
            return &d;
    return nullptr;
}

// Does this volume lie on (or belong to) the device?
bool State::VolumeOnDevice(const SimMachine& m, const SimVolume& v, const SimDevice& d) {
    if (!v.deviceInstanceId.empty()) return sim::EqualNoCase(v.deviceInstanceId, d.instanceId);
    if (!State::DeviceIsDisk(m, d)) return false;
    for (const auto& e : v.extents)
        if (e.diskNumber == d.storage.deviceNumber) return true;
    return false;
}

bool State::DeviceInUse(const SimMachine& m, size_t device) {
    const SimDevice& d = m.devices_[device];
    for (const auto& [value, h] : m.state_->handles) {
        if (h.kind == Kind::Device && h.index == device) return true;
        if (h.kind == Kind::Volume && State::VolumeOnDevice(m, m.volumes_[h.index], d)) return true;
    }
    for (size_t i = 0; i < m.volumes_.size(); ++i) {
        const SimVolume& v = m.volumes_[i];
        if (v.present && (v.filesOpen || VolumeHeld(m, i)) && VolumeOnDevice(m, v, d)) return true;
    }
    return false;
}

void State::RemoveDeviceNow(SimMachine& m, size_t device) {
    SimDevice& d = m.devices_[device];
    // Uninstalling a virtual disk's device leaves its image attached: the
    // disk and its volumes come back at the next re-enumeration.
    const bool comesBack = d.virtualDisk && !d.virtualDisk->detached;
    for (auto& v : m.volumes_) {
        if (!v.present || !VolumeOnDevice(m, v, d)) continue;
        v.present = false;
        v.pending = comesBack;
        QueueVolumeChange(m, DBT_DEVICEREMOVECOMPLETE, v);
    }
    d.present = false;
    d.pending = comesBack;
    d.removed = !comesBack;
    QueueInterfaceChange(m, DBT_DEVICEREMOVECOMPLETE, d);
}

// ---- Setup classes --------------------------------------------------------------

BOOL SimMachine::SetupDiClassGuidsFromNameExW(PCWSTR ClassName, LPGUID ClassGuidList,
                                              DWORD ClassGuidListSize, PDWORD RequiredSize,
                                              PCWSTR MachineName, PVOID Reserved) {
    if (auto e =
            State::Enter(*this, "SetupDiClassGuidsFromNameExW", [&] { return Quote(ClassName); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (!ClassName || !RequiredSize || Reserved || (ClassGuidListSize && !ClassGuidList)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!LocalMachine(MachineName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto it = state_->classes.find(sim::Upper(ClassName));
    // An unknown name succeeds with no GUIDs, as SetupAPI does.
    const std::vector<GUID> none;
    const std::vector<GUID>& guids = it == state_->classes.end() ? none : it->second;
    *RequiredSize = static_cast<DWORD>(guids.size());
    if (guids.size() > ClassGuidListSize) {
        // Windows fills what fits before it reports the shortage.
        std::copy_n(guids.begin(), ClassGuidListSize, ClassGuidList);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(guids.begin(), guids.end(), ClassGuidList);
    return TRUE;
}

BOOL SimMachine::SetupDiClassGuidsFromNameW(PCWSTR ClassName, LPGUID ClassGuidList,
                                            DWORD ClassGuidListSize, PDWORD RequiredSize) {
    if (auto e =
            State::Enter(*this, "SetupDiClassGuidsFromNameW", [&] { return Quote(ClassName); })) {
        SetLastError(*e);
        return FALSE;
    }
    // Answered by the Ex form without logging it a second time.
    return State::AsPartOfOuterCall(*this, "SetupDiClassGuidsFromNameExW", [&] {
        return SetupDiClassGuidsFromNameExW(ClassName, ClassGuidList, ClassGuidListSize,
                                            RequiredSize, nullptr, nullptr);
    });
}

// ---- Device information sets ------------------------------------------------------

HDEVINFO SimMachine::SetupDiGetClassDevsExW(const GUID* ClassGuid, PCWSTR Enumerator,
                                            HWND hwndParent, DWORD Flags, HDEVINFO DeviceInfoSet,
                                            PCWSTR MachineName, PVOID Reserved) {
    (void)hwndParent;
    if (auto e = State::Enter(*this, "SetupDiGetClassDevsExW", [&] {
            return (ClassGuid ? sim::Narrow(sim::GuidText(*ClassGuid)) : "null") + " " +
                   Quote(Enumerator) + " flags " + sim::Hex(Flags);
        })) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    State& s = *state_;
    if (Reserved || !LocalMachine(MachineName) ||
        (!ClassGuid && !(Flags & (DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE)))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    State::DevInfoSet* target = nullptr;
    std::uintptr_t value = 0;
    if (DeviceInfoSet && DeviceInfoSet != INVALID_HANDLE_VALUE) {
        auto it = s.sets.find(reinterpret_cast<std::uintptr_t>(DeviceInfoSet));
        if (it == s.sets.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return INVALID_HANDLE_VALUE;
        }
        value = it->first;
        target = &it->second;
    }
    State::DevInfoSet fresh;
    fresh.openedByCall = callCount_;
    if (!target) {
        if (ClassGuid && !(Flags & (DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE))) {
            fresh.hasClass = true;
            fresh.classGuid = *ClassGuid;
        }
        target = &fresh;
    }

    const std::wstring enumerator = sim::Upper(FromPtr(Enumerator));
    auto wanted = [&](const SimDevice& d) {
        if (d.removed) return false;
        if ((Flags & DIGCF_PRESENT) && !d.present) return false;
        // With DIGCF_DEVICEINTERFACE the enumerator may also be one device's
        // instance identifier: only that device's interfaces are listed.
        if (!enumerator.empty() &&
            sim::Upper(d.instanceId.substr(0, d.instanceId.find(L'\\'))) != enumerator &&
            !((Flags & DIGCF_DEVICEINTERFACE) && sim::Upper(d.instanceId) == enumerator))
            return false;
        return true;
    };
    // A device is in a set once: its first element is the one that counts.
    std::unordered_map<size_t, size_t> elementOfDevice;
    for (size_t i = 0; i < target->elements.size(); ++i)
        elementOfDevice.emplace(target->elements[i].device, i);
    auto elementOf = [&](size_t device) {
        auto [it, added] = elementOfDevice.emplace(device, target->elements.size());
        if (added) target->elements.push_back(State::Element{device, 0, false});
        return it->second;
    };

    if (Flags & DIGCF_DEVICEINTERFACE) {
        // Interfaces are listed in their own order; devices join the set in
        // the order their interfaces are met.
        std::vector<size_t> order;
        // An enumerator with a backslash is no bus name, so only the device
        // with that identifier can be listed: look it up rather than walk
        // the machine.
        if (enumerator.find(L'\\') != std::wstring::npos) {
            order = State::DevicesWithId(*this, enumerator);
        } else {
            order.resize(devices_.size());
            std::iota(order.begin(), order.end(), size_t{0});
        }
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return devices_[a].interfaceOrder < devices_[b].interfaceOrder;
        });
        for (size_t i : order) {
            const SimDevice& d = devices_[i];
            if (!wanted(d) || d.interfacePath.empty()) continue;
            GUID ifc = State::InterfaceClassOf(*this, d);
            if (!(Flags & DIGCF_ALLCLASSES) && !SameGuid(ifc, *ClassGuid)) continue;
            size_t element = elementOf(i);
            target->interfaces.push_back(State::Interface{element, ifc});
        }
    } else {
        for (size_t i = 0; i < devices_.size(); ++i) {
            const SimDevice& d = devices_[i];
            if (!wanted(d)) continue;
            if (!(Flags & DIGCF_ALLCLASSES) && !SameGuid(ClassGuidOf(d.setupClass), *ClassGuid))
                continue;
            elementOf(i);
        }
    }
    if (target == &fresh) {
        value = s.NewHandleValue();
        s.sets[value] = std::move(fresh);
    }
    return reinterpret_cast<HDEVINFO>(value);
}

HDEVINFO SimMachine::SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                          DWORD Flags) {
    if (auto e = State::Enter(*this, "SetupDiGetClassDevsW", [&] {
            return (ClassGuid ? sim::Narrow(sim::GuidText(*ClassGuid)) : "null") + " " +
                   Quote(Enumerator) + " flags " + sim::Hex(Flags);
        })) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    const size_t call = callCount_;
    HDEVINFO set = State::AsPartOfOuterCall(*this, "SetupDiGetClassDevsExW", [&] {
        return SetupDiGetClassDevsExW(ClassGuid, Enumerator, hwndParent, Flags, nullptr, nullptr,
                                      nullptr);
    });
    if (auto it = state_->sets.find(reinterpret_cast<std::uintptr_t>(set));
        it != state_->sets.end())
        it->second.openedByCall = call;
    return set;
}

HDEVINFO SimMachine::SetupDiCreateDeviceInfoListExW(const GUID* ClassGuid, HWND hwndParent,
                                                    PCWSTR MachineName, PVOID Reserved) {
    (void)hwndParent;
    if (auto e = State::Enter(*this, "SetupDiCreateDeviceInfoListExW", [&] {
            return ClassGuid ? sim::Narrow(sim::GuidText(*ClassGuid)) : "null";
        })) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    if (Reserved || !LocalMachine(MachineName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    State::DevInfoSet set;
    set.openedByCall = callCount_;
    if (ClassGuid) {
        set.hasClass = true;
        set.classGuid = *ClassGuid;
    }
    auto value = state_->NewHandleValue();
    state_->sets[value] = std::move(set);
    return reinterpret_cast<HDEVINFO>(value);
}

namespace {

State::DevInfoSet* FindSet(State& s, HDEVINFO set) {
    auto it = s.sets.find(reinterpret_cast<std::uintptr_t>(set));
    return it == s.sets.end() ? nullptr : &it->second;
}

}  // namespace

BOOL SimMachine::SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId,
                                        HWND hwndParent, DWORD OpenFlags,
                                        PSP_DEVINFO_DATA DeviceInfoData) {
    (void)hwndParent, (void)OpenFlags;
    if (auto e = State::Enter(*this, "SetupDiOpenDeviceInfoW",
                              [&] { return Quote(DeviceInstanceId); })) {
        SetLastError(*e);
        return FALSE;
    }
    State::DevInfoSet* set = FindSet(*state_, DeviceInfoSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!DeviceInstanceId || !*DeviceInstanceId) {
        SetLastError(ERROR_INVALID_DEVINST_NAME);
        return FALSE;
    }
    if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    // Present or not, as long as the system still knows the device.
    size_t device = devices_.size();
    for (size_t i : State::DevicesWithId(*this, DeviceInstanceId))
        if (!devices_[i].removed) device = i;
    if (device == devices_.size()) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    GUID cls = ClassGuidOf(devices_[device].setupClass);
    if (set->hasClass && !SameGuid(set->classGuid, cls)) {
        SetLastError(0xE0000206L);  // ERROR_CLASS_MISMATCH
        return FALSE;
    }
    size_t element = set->elements.size();
    for (size_t i = 0; i < set->elements.size(); ++i)
        if (set->elements[i].device == device) element = i;
    if (element == set->elements.size()) set->elements.push_back(State::Element{device, 0, false});
    if (DeviceInfoData) {
        DeviceInfoData->ClassGuid = cls;
        DeviceInfoData->DevInst = DevInstOf(device);
        DeviceInfoData->Reserved = element + 1;
    }
    return TRUE;
}

namespace {

// The element a SP_DEVINFO_DATA names; sets the last error when it is none.
State::Element* ElementOf(SimMachine& m, State::DevInfoSet* set, PSP_DEVINFO_DATA data) {
    if (!set) {
        m.SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        m.SetLastError(data ? ERROR_INVALID_USER_BUFFER : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (data->Reserved == 0 || data->Reserved > set->elements.size()) {
        m.SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &set->elements[data->Reserved - 1];
}

}  // namespace

BOOL SimMachine::SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                       PSP_DEVINFO_DATA DeviceInfoData) {
    if (auto e = State::Enter(*this, "SetupDiEnumDeviceInfo",
                              [&] { return std::to_string(MemberIndex); })) {
        SetLastError(*e);
        return FALSE;
    }
    State::DevInfoSet* set = FindSet(*state_, DeviceInfoSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (MemberIndex >= set->elements.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    size_t device = set->elements[MemberIndex].device;
    DeviceInfoData->ClassGuid = ClassGuidOf(devices_[device].setupClass);
    DeviceInfoData->DevInst = DevInstOf(device);
    DeviceInfoData->Reserved = MemberIndex + 1;
    return TRUE;
}

BOOL SimMachine::SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet,
                                             PSP_DEVINFO_DATA DeviceInfoData,
                                             const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                             PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    if (auto e = State::Enter(*this, "SetupDiEnumDeviceInterfaces", [&] {
            return std::to_string(MemberIndex) + (DeviceInfoData ? " device" : "");
        })) {
        SetLastError(*e);
        return FALSE;
    }
    State::DevInfoSet* set = FindSet(*state_, DeviceInfoSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!InterfaceClassGuid || !DeviceInterfaceData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::optional<size_t> onlyElement;
    if (DeviceInfoData) {
        State::Element* element = ElementOf(*this, set, DeviceInfoData);
        if (!element) return FALSE;
        onlyElement = static_cast<size_t>(element - set->elements.data());
    }
    DWORD seen = 0;
    for (size_t i = 0; i < set->interfaces.size(); ++i) {
        const auto& ifc = set->interfaces[i];
        if (!SameGuid(ifc.interfaceClass, *InterfaceClassGuid)) continue;
        if (onlyElement && ifc.element != *onlyElement) continue;
        if (seen++ != MemberIndex) continue;
        DeviceInterfaceData->InterfaceClassGuid = ifc.interfaceClass;
        DeviceInterfaceData->Flags = SPINT_ACTIVE;
        DeviceInterfaceData->Reserved = i + 1;
        return TRUE;
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL SimMachine::SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
    if (auto e = State::Enter(*this, "SetupDiGetDeviceInterfaceDetailW",
                              [&] { return std::to_string(DeviceInterfaceDetailDataSize); })) {
        SetLastError(*e);
        return FALSE;
    }
    State::DevInfoSet* set = FindSet(*state_, DeviceInfoSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        DeviceInterfaceData->Reserved == 0 ||
        DeviceInterfaceData->Reserved > set->interfaces.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DeviceInterfaceDetailData
            ? DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
            : DeviceInterfaceDetailDataSize != 0) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const auto& ifc = set->interfaces[DeviceInterfaceData->Reserved - 1];
    const size_t device = set->elements[ifc.element].device;
    const std::wstring& path = devices_[device].interfacePath;
    const DWORD required =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           sizeof(WCHAR) * (path.size() + 1));
    if (RequiredSize) *RequiredSize = required;
    if (DeviceInfoData) {
        DeviceInfoData->ClassGuid = ClassGuidOf(devices_[device].setupClass);
        DeviceInfoData->DevInst = DevInstOf(device);
        DeviceInfoData->Reserved = ifc.element + 1;
    }
    if (!DeviceInterfaceDetailData || DeviceInterfaceDetailDataSize < required) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(DeviceInterfaceDetailData->DevicePath, path.c_str(),
                sizeof(WCHAR) * (path.size() + 1));
    return TRUE;
}

BOOL SimMachine::SetupDiGetDeviceInfoListDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_LIST_DETAIL_DATA_W DeviceInfoSetDetailData) {
    if (auto e = State::Enter(*this, "SetupDiGetDeviceInfoListDetailW",
                              [&] { return SetText(DeviceInfoSet); })) {
        SetLastError(*e);
        return FALSE;
    }
    State::DevInfoSet* set = FindSet(*state_, DeviceInfoSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!DeviceInfoSetDetailData ||
        DeviceInfoSetDetailData->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    DeviceInfoSetDetailData->ClassGuid = set->hasClass ? set->classGuid : GUID{};
    DeviceInfoSetDetailData->RemoteMachineHandle = nullptr;  // the local machine
    DeviceInfoSetDetailData->RemoteMachineName[0] = L'\0';
    return TRUE;
}

BOOL SimMachine::SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet,
                                             PSP_DEVINFO_DATA DeviceInfoData,
                                             PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                             PDWORD RequiredSize) {
    if (auto e = State::Enter(*this, "SetupDiGetDeviceInstanceIdW",
                              [&] { return std::to_string(DeviceInstanceIdSize); })) {
        SetLastError(*e);
        return FALSE;
    }
    State::Element* element = ElementOf(*this, FindSet(*state_, DeviceInfoSet), DeviceInfoData);
    if (!element) return FALSE;
    const std::wstring& id = devices_[element->device].instanceId;
    if (RequiredSize) *RequiredSize = static_cast<DWORD>(id.size() + 1);
    if (!sim::CopyWithNul(id, DeviceInstanceId, DeviceInstanceIdSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

BOOL SimMachine::SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                                   PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                                   PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                                   DWORD PropertyBufferSize, PDWORD RequiredSize) {
    if (auto e = State::Enter(*this, "SetupDiGetDeviceRegistryPropertyW", [&] {
            return std::to_string(Property) + " size " + std::to_string(PropertyBufferSize);
        })) {
        SetLastError(*e);
        return FALSE;
    }
    State::Element* element = ElementOf(*this, FindSet(*state_, DeviceInfoSet), DeviceInfoData);
    if (!element) return FALSE;
    if (!PropertyBuffer && PropertyBufferSize) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const SimDevice& d = devices_[element->device];
    std::wstring block;
    DWORD type = REG_SZ;
    auto single = [&](const std::optional<std::wstring>& v) {
        if (!v) return false;
        block = *v + std::wstring(1, L'\0');
        return true;
    };
    auto multi = [&](const std::optional<std::vector<std::wstring>>& v) {
        if (!v) return false;
        type = REG_MULTI_SZ;
        for (const auto& s : *v) block += s + std::wstring(1, L'\0');
        block += L'\0';
        return true;
    };
    bool found = false;
    switch (Property) {
        case SPDRP_DEVICEDESC:
            found = single(d.deviceDesc);
            break;
        case SPDRP_FRIENDLYNAME:
            found = single(d.friendlyName);
            break;
        case SPDRP_HARDWAREID:
            found = multi(d.hardwareIds);
            break;
        case SPDRP_COMPATIBLEIDS:
            found = multi(d.compatibleIds);
            break;
        default:
            break;
    }
    if (!found) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const DWORD size = static_cast<DWORD>(sizeof(WCHAR) * block.size());
    if (PropertyRegDataType) *PropertyRegDataType = type;
    if (RequiredSize) *RequiredSize = size;
    if (PropertyBufferSize < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(PropertyBuffer, block.data(), size);
    return TRUE;
}

// ---- Removal ----------------------------------------------------------------------

BOOL SimMachine::SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet,
                                               PSP_DEVINFO_DATA DeviceInfoData,
                                               PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                               DWORD ClassInstallParamsSize) {
    if (auto e = State::Enter(*this, "SetupDiSetClassInstallParamsW",
                              [&] { return std::to_string(ClassInstallParamsSize); })) {
        SetLastError(*e);
        return FALSE;
    }
    State::DevInfoSet* set = FindSet(*state_, DeviceInfoSet);
    State::Element* element = ElementOf(*this, set, DeviceInfoData);
    if (!element) return FALSE;
    if (!ClassInstallParams) {
        element->removeParams = false;
        return TRUE;
    }
    if (ClassInstallParams->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (ClassInstallParams->InstallFunction != DIF_REMOVE ||
        ClassInstallParamsSize != sizeof(SP_REMOVEDEVICE_PARAMS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DWORD error = devices_[element->device].setClassInstallParamsError) {
        SetLastError(error);
        return FALSE;
    }
    element->removeParams = true;
    return TRUE;
}

BOOL SimMachine::SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                           PSP_DEVINFO_DATA DeviceInfoData) {
    if (auto e = State::Enter(*this, "SetupDiCallClassInstaller",
                              [&] { return std::to_string(InstallFunction); })) {
        SetLastError(*e);
        return FALSE;
    }
    State::DevInfoSet* set = FindSet(*state_, DeviceInfoSet);
    State::Element* element = ElementOf(*this, set, DeviceInfoData);
    if (!element) return FALSE;
    if (InstallFunction != DIF_REMOVE) {
        SetLastError(ERROR_DI_DO_DEFAULT);
        return FALSE;
    }
    SimDevice& d = devices_[element->device];
    if (d.removed) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    SimRemovalOutcome outcome = d.removal;
    if (outcome == SimRemovalOutcome::Declined) {
        SetLastError(d.removalError);
        return FALSE;
    }
    // A device that cannot be stopped now is taken out at the next boot.
    if (outcome == SimRemovalOutcome::Removed && State::DeviceInUse(*this, element->device))
        outcome = SimRemovalOutcome::RemovedNeedsReboot;
    switch (outcome) {
        case SimRemovalOutcome::RemovedNeedsRestart:
            element->installFlags |= DI_NEEDRESTART;
            break;
        case SimRemovalOutcome::RemovedNeedsReboot:
            element->installFlags |= DI_NEEDREBOOT;
            break;
        default:
            State::RemoveDeviceNow(*this, element->device);
            break;
    }
    return TRUE;
}

BOOL SimMachine::SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet,
                                                PSP_DEVINFO_DATA DeviceInfoData,
                                                PSP_DEVINSTALL_PARAMS_W DeviceInstallParams) {
    if (auto e = State::Enter(*this, "SetupDiGetDeviceInstallParamsW",
                              [&] { return SetText(DeviceInfoSet); })) {
        SetLastError(*e);
        return FALSE;
    }
    State::DevInfoSet* set = FindSet(*state_, DeviceInfoSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD flags = 0;
    if (DeviceInfoData) {
        State::Element* element = ElementOf(*this, set, DeviceInfoData);
        if (!element) return FALSE;
        flags = element->installFlags;
    }
    if (!DeviceInstallParams || DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    *DeviceInstallParams = SP_DEVINSTALL_PARAMS_W{};
    DeviceInstallParams->cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
    DeviceInstallParams->Flags = flags;
    return TRUE;
}

BOOL SimMachine::SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    if (auto e = State::Enter(*this, "SetupDiDestroyDeviceInfoList",
                              [&] { return SetText(DeviceInfoSet); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (!state_->sets.erase(reinterpret_cast<std::uintptr_t>(DeviceInfoSet))) {
        State::ProgramError(*this, "SetupDiDestroyDeviceInfoList on an unknown or destroyed set " +
                                       SetText(DeviceInfoSet));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// ---- Configuration manager -------------------------------------------------------

CONFIGRET SimMachine::CM_Get_Device_ID_ExW(DEVINST dnDevInst, PWCHAR Buffer, ULONG BufferLen,
                                           ULONG ulFlags, HMACHINE hMachine) {
    (void)ulFlags;
    if (auto e = State::Enter(*this, "CM_Get_Device_ID_ExW", [&] {
            return std::to_string(dnDevInst) + " len " + std::to_string(BufferLen);
        }))
        return *e;
    if (!Buffer) return CR_INVALID_POINTER;
    if (hMachine) return CR_INVALID_POINTER;  // the sim is the local machine only
    std::wstring id;
    if (dnDevInst == kRootDevInst) {
        id = L"HTREE\\ROOT\\0";
    } else {
        if (dnDevInst == 0 || dnDevInst > devices_.size() || devices_[dnDevInst - 1].removed)
            return CR_INVALID_DEVNODE;
        id = devices_[dnDevInst - 1].instanceId;
    }
    if (id.size() + 1 > BufferLen) {
        // As much as fits, without a terminator.
        std::memcpy(Buffer, id.c_str(), sizeof(WCHAR) * std::min<size_t>(id.size(), BufferLen));
        return CR_BUFFER_SMALL;
    }
    sim::CopyWithNul(id, Buffer, BufferLen);
    return CR_SUCCESS;
}

CONFIGRET SimMachine::CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID,
                                         ULONG ulFlags) {
    (void)ulFlags;
    if (auto e = State::Enter(*this, "CM_Locate_DevNodeW", [&] { return Quote(pDeviceID); }))
        return *e;
    if (!pdnDevInst) return CR_INVALID_POINTER;
    *pdnDevInst = 0;
    if (locateResult != CR_SUCCESS) return locateResult;
    if (!pDeviceID || !*pDeviceID) {
        *pdnDevInst = kRootDevInst;
        return CR_SUCCESS;
    }
    SimDevice* d = FindDevice(pDeviceID);
    if (!d || !d->present) return CR_NO_SUCH_DEVNODE;
    for (size_t i = 0; i < devices_.size(); ++i)
        if (&devices_[i] == d) *pdnDevInst = DevInstOf(i);
    return CR_SUCCESS;
}

CONFIGRET SimMachine::CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
    if (auto e = State::Enter(*this, "CM_Reenumerate_DevNode", [&] {
            return std::to_string(dnDevInst) + " flags " + std::to_string(ulFlags);
        }))
        return *e;
    if (reenumerateResult != CR_SUCCESS) return reenumerateResult;
    if (dnDevInst != kRootDevInst &&
        (dnDevInst == 0 || dnDevInst > devices_.size() || devices_[dnDevInst - 1].removed))
        return CR_INVALID_DEVNODE;
    ++reenumerations;
    // Only a walk from the root finds every newly attached device.
    if (dnDevInst != kRootDevInst) return CR_SUCCESS;
    for (auto& d : devices_) {
        if (!d.pending) continue;
        d.pending = false;
        d.present = true;
        State::QueueInterfaceChange(*this, DBT_DEVICEARRIVAL, d);
    }
    for (auto& v : volumes_) {
        if (!v.pending) continue;
        v.pending = false;
        v.present = true;
        State::QueueVolumeChange(*this, DBT_DEVICEARRIVAL, v);
    }
    return CR_SUCCESS;
}
