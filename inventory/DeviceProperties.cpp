#include "inventory/DeviceProperties.h"

#include <new>
#include <stdexcept>

namespace {

// First buffer sizes in bytes: most names fit the first, most identifier
// lists the second, so a property is usually read with one call.
constexpr DWORD kStringFirstBytes = 1024;
constexpr DWORD kMultiStringFirstBytes = 8192;

// A property's data as text: the characters returned, followed by at least
// `terminators` NULs that the caller can rely on.
struct PropertyText {
    std::vector<WCHAR> chars;
    std::size_t length = 0;  // characters returned, not counting the NULs we add
};

std::optional<PropertyText> ReadPropertyText(Platform& platform, HDEVINFO set,
                                             SP_DEVINFO_DATA* device, DWORD property,
                                             DWORD retryType, DWORD firstBytes,
                                             std::size_t terminators) {
    DWORD size = firstBytes;
    try {
        for (;;) {
            // Zeroed, with room for whole characters and the terminators past
            // what the call may fill, so the text always ends inside the buffer.
            PropertyText text;
            text.chars.assign((size + sizeof(WCHAR) - 1) / sizeof(WCHAR) + terminators, L'\0');
            DWORD type = REG_NONE;
            DWORD required = 0;
            if (platform.SetupDiGetDeviceRegistryPropertyW(
                    set, device, property, &type, reinterpret_cast<PBYTE>(text.chars.data()), size,
                    &required)) {
                const DWORD returned = (required != 0 && required < size) ? required : size;
                text.length = returned / sizeof(WCHAR);
                for (std::size_t i = 0; i < terminators; ++i) text.chars[text.length + i] = L'\0';
                return text;
            }
            if (platform.GetLastError() != ERROR_INSUFFICIENT_BUFFER || type != retryType)
                return std::nullopt;
            // A size that does not grow would only repeat the same failure.
            if (required <= size) return std::nullopt;
            size = required;
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::wstring> ReadDeviceStringProperty(Platform& platform, HDEVINFO set,
                                                     SP_DEVINFO_DATA* device, DWORD property) {
    auto text = ReadPropertyText(platform, set, device, property, REG_SZ, kStringFirstBytes, 1);
    if (!text) return std::nullopt;
    return std::wstring(text->chars.data());
}

std::optional<std::vector<std::wstring>> ReadDeviceMultiStringProperty(Platform& platform,
                                                                       HDEVINFO set,
                                                                       SP_DEVINFO_DATA* device,
                                                                       DWORD property) {
    auto text =
        ReadPropertyText(platform, set, device, property, REG_MULTI_SZ, kMultiStringFirstBytes, 2);
    if (!text) return std::nullopt;
    std::vector<std::wstring> list;
    const WCHAR* chars = text->chars.data();
    std::size_t pos = 0;
    // The two NULs placed after the data end the walk even when the value
    // itself lacks its final empty string.
    while (pos < text->length && chars[pos] != L'\0') {
        std::wstring entry(chars + pos);
        pos += entry.size() + 1;
        list.push_back(std::move(entry));
    }
    return list;
}

bool ReadDeviceInstanceId(Platform& platform, HDEVINFO set, SP_DEVINFO_DATA* device, WCHAR* id,
                          DWORD idChars) {
    if (id == nullptr || idChars == 0) return false;
    auto clear = [&] {
        for (DWORD i = 0; i < idChars; ++i) id[i] = L'\0';
    };
    clear();
    if (device == nullptr) return false;
    SP_DEVINFO_LIST_DETAIL_DATA_W listDetail{};
    listDetail.cbSize = sizeof(listDetail);
    if (platform.SetupDiGetDeviceInfoListDetailW(set, &listDetail) &&
        platform.CM_Get_Device_ID_ExW(device->DevInst, id, idChars, 0,
                                      listDetail.RemoteMachineHandle) == CR_SUCCESS) {
        id[idChars - 1] = L'\0';
        if (id[0] != L'\0') return true;
    }
    clear();
    if (platform.SetupDiGetDeviceInstanceIdW(set, device, id, idChars, nullptr)) {
        id[idChars - 1] = L'\0';
        if (id[0] != L'\0') return true;
    }
    clear();
    return false;
}

std::optional<std::wstring> GetDeviceName(Platform& platform, HDEVINFO set,
                                          SP_DEVINFO_DATA* device) {
    auto name = ReadDeviceStringProperty(platform, set, device, SPDRP_FRIENDLYNAME);
    if (name) return name;
    return ReadDeviceStringProperty(platform, set, device, SPDRP_DEVICEDESC);
}
