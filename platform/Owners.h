// Owners for what the seam hands out: a file or device handle, a registry key,
// a device information set, a notification registration, a service manager,
// a loaded library and a volume search. The function that opens one keeps it in a
// local owner, so every path out of it releases it.
#pragma once

#include "platform/Platform.h"

#include <utility>

template <typename Traits>
class UniqueOwner {
public:
    using Value = typename Traits::Value;

    explicit UniqueOwner(Platform& platform, Value value = Traits::Invalid())
        : platform_(&platform), value_(value) {}
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    UniqueOwner(UniqueOwner&& other) noexcept
        : platform_(other.platform_), value_(std::exchange(other.value_, Traits::Invalid())) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept {
        if (this != &other) {
            Reset();
            platform_ = other.platform_;
            value_ = std::exchange(other.value_, Traits::Invalid());
        }
        return *this;
    }
    ~UniqueOwner() { Reset(); }

    Value Get() const { return value_; }
    bool Valid() const { return Traits::IsValid(value_); }
    explicit operator bool() const { return Valid(); }

    // Releases what is held now and takes the new value.
    void Reset(Value value = Traits::Invalid()) {
        if (Traits::IsValid(value_)) Traits::Release(*platform_, value_);
        value_ = value;
    }
    // Gives up ownership without releasing.
    Value Detach() { return std::exchange(value_, Traits::Invalid()); }

private:
    Platform* platform_;
    Value value_;
};

struct HandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Value v) { return v != INVALID_HANDLE_VALUE && v != nullptr; }
    static void Release(Platform& p, Value v) { p.CloseHandle(v); }
};

struct KeyTraits {
    using Value = HKEY;
    static Value Invalid() { return nullptr; }
    static bool IsValid(Value v) { return v != nullptr; }
    static void Release(Platform& p, Value v) { p.RegCloseKey(v); }
};

struct DevInfoTraits {
    using Value = HDEVINFO;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Value v) { return v != INVALID_HANDLE_VALUE && v != nullptr; }
    static void Release(Platform& p, Value v) { p.SetupDiDestroyDeviceInfoList(v); }
};

struct DevNotifyTraits {
    using Value = HDEVNOTIFY;
    static Value Invalid() { return nullptr; }
    static bool IsValid(Value v) { return v != nullptr; }
    static void Release(Platform& p, Value v) { p.UnregisterDeviceNotification(v); }
};

struct ModuleTraits {
    using Value = HMODULE;
    static Value Invalid() { return nullptr; }
    static bool IsValid(Value v) { return v != nullptr; }
    static void Release(Platform& p, Value v) { p.FreeLibrary(v); }
};

struct VolumeSearchTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Value v) { return v != INVALID_HANDLE_VALUE && v != nullptr; }
    static void Release(Platform& p, Value v) { p.FindVolumeClose(v); }
};

// A file, device or mutex handle; empty is INVALID_HANDLE_VALUE (CreateMutexW's
// null failure counts as empty too).
using UniqueHandle = UniqueOwner<HandleTraits>;
using UniqueKey = UniqueOwner<KeyTraits>;
using UniqueDevInfo = UniqueOwner<DevInfoTraits>;
using UniqueDevNotify = UniqueOwner<DevNotifyTraits>;

// A handle of the service manager (OpenSCManagerW).
struct ServiceHandleTraits {
    using Value = SC_HANDLE;
    static Value Invalid() { return nullptr; }
    static bool IsValid(Value v) { return v != nullptr; }
    static void Release(Platform& p, Value v) { p.CloseServiceHandle(v); }
};
using UniqueServiceHandle = UniqueOwner<ServiceHandleTraits>;

// A library loaded with LoadLibraryExW.
using UniqueModule = UniqueOwner<ModuleTraits>;

// A search of FindFirstVolumeW, ended with FindVolumeClose.
using UniqueVolumeSearch = UniqueOwner<VolumeSearchTraits>;

// The screen's device context (GetDC of no window), given back with ReleaseDC.
struct ScreenDCTraits {
    using Value = HDC;
    static Value Invalid() { return nullptr; }
    static bool IsValid(Value v) { return v != nullptr; }
    static void Release(Platform& p, Value v) { p.ReleaseDC(nullptr, v); }
};
using UniqueScreenDC = UniqueOwner<ScreenDCTraits>;
