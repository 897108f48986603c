// Device-change notifications as Windows sends them: a broadcast to every
// top-level window for each volume that gains or loses a drive letter, and a
// device-interface notification only to the windows registered for the
// interface's class. A disk without a lettered volume (no partitions, a
// volume mounted only in a folder, a tape) raises no broadcast at all.
#include "platform/sim/SimInternal.h"

using State = SimMachine::State;

using sim::Hex;

void State::QueueVolumeChange(SimMachine& m, UINT event, const SimVolume& volume) {
    if (volume.letter < L'A' || volume.letter > L'Z') return;
    SimDeviceChange change;
    change.event = event;
    change.deviceType = DBT_DEVTYP_VOLUME;
    change.unitMask = 1u << (volume.letter - L'A');
    QueueDeviceChange(m, std::move(change));
}

void State::QueueInterfaceChange(SimMachine& m, UINT event, const SimDevice& device) {
    if (device.interfacePath.empty()) return;
    const GUID interfaceClass = InterfaceClassOf(m, device);
    for (const auto& [value, registration] : m.notificationRegistrations_) {
        (void)value;
        if (!SameGuid(registration.interfaceClass, interfaceClass)) continue;
        SimDeviceChange change;
        change.event = event;
        change.deviceType = DBT_DEVTYP_DEVICEINTERFACE;
        change.interfaceClass = interfaceClass;
        change.name = device.interfacePath;
        QueueDeviceChange(m, std::move(change));
        // The machine has one window to notify: one notification, however
        // often it registered for the class.
        return;
    }
}

bool SimMachine::AttachDevice(const std::wstring& instanceId) {
    SimDevice* device = nullptr;
    for (SimDevice& d : devices_)
        if (d.pending && !d.removed && sim::EqualNoCase(d.instanceId, instanceId)) device = &d;
    if (device == nullptr) return false;
    device->pending = false;
    device->present = true;
    device->arrivesAfterMs.reset();
    State::QueueInterfaceChange(*this, DBT_DEVICEARRIVAL, *device);
    for (SimVolume& v : volumes_) {
        if (!v.pending || !State::VolumeOnDevice(*this, v, *device)) continue;
        v.pending = false;
        v.present = true;
        State::QueueVolumeChange(*this, DBT_DEVICEARRIVAL, v);
    }
    return true;
}

int SimMachine::AttachDueDevices(DWORD elapsedMs) {
    std::vector<std::wstring> due;
    for (const SimDevice& d : devices_)
        if (d.pending && d.arrivesAfterMs && *d.arrivesAfterMs <= elapsedMs)
            due.push_back(d.instanceId);
    int attached = 0;
    for (const std::wstring& id : due)
        if (AttachDevice(id)) ++attached;
    return attached;
}

bool SimMachine::ArrivalsWaiting() const {
    for (const SimDevice& d : devices_)
        if (d.pending && !d.removed && d.arrivesAfterMs) return true;
    return false;
}

HDEVNOTIFY SimMachine::RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter,
                                                   DWORD Flags) {
    if (auto e = State::Enter(*this, "RegisterDeviceNotificationW", [&] {
            return Hex(reinterpret_cast<std::uintptr_t>(hRecipient)) + " flags " +
                   std::to_string(Flags);
        })) {
        SetLastError(*e);
        return nullptr;
    }
    // Only window recipients and one interface class per registration are
    // modelled; anything else is refused as Windows refuses a bad filter.
    const auto* filter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(NotificationFilter);
    if (hRecipient == nullptr || Flags != DEVICE_NOTIFY_WINDOW_HANDLE || filter == nullptr ||
        filter->dbcc_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) ||
        filter->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::uintptr_t value = state_->NewHandleValue();
    notificationRegistrations_[value] = {hRecipient, filter->dbcc_classguid};
    return reinterpret_cast<HDEVNOTIFY>(value);
}

BOOL SimMachine::UnregisterDeviceNotification(HDEVNOTIFY Handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(Handle);
    if (auto e = State::Enter(*this, "UnregisterDeviceNotification", [&] { return Hex(value); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (notificationRegistrations_.erase(value) == 0) {
        State::ProgramError(*this, "UnregisterDeviceNotification of unknown " + Hex(value));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
