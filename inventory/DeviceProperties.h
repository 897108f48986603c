// Readers of a device's registry properties (SetupDiGetDeviceRegistryPropertyW):
// the name the list shows, one text property, and one multi-text property such
// as the hardware or compatible identifiers. Each returns its own copy, or
// nothing when the property cannot be read.
#pragma once

#include "platform/Platform.h"

#include <optional>
#include <string>
#include <vector>

// The device's instance identifier into `id` (`idChars` characters with the
// NUL): asked of the configuration manager for the set's machine, then of the
// set itself when that fails or answers success without writing (Wine's
// configuration manager does). True with a non-empty identifier; false with
// `id` empty.
bool ReadDeviceInstanceId(Platform& platform, HDEVINFO set, SP_DEVINFO_DATA* device, WCHAR* id,
                          DWORD idChars);

// The device's friendly name (SPDRP_FRIENDLYNAME), or its description
// (SPDRP_DEVICEDESC) when it has no friendly name; nothing when neither reads.
std::optional<std::wstring> GetDeviceName(Platform& platform, HDEVINFO set,
                                          SP_DEVINFO_DATA* device);

// One REG_SZ property; nothing when it is missing, of another type or the
// buffer cannot be had.
std::optional<std::wstring> ReadDeviceStringProperty(Platform& platform, HDEVINFO set,
                                                     SP_DEVINFO_DATA* device, DWORD property);

// One REG_MULTI_SZ property, one entry per string up to the empty string that
// ends the list; an empty value gives an empty list. Nothing when it is
// missing, of another type or the buffer cannot be had.
std::optional<std::vector<std::wstring>> ReadDeviceMultiStringProperty(Platform& platform,
                                                                       HDEVINFO set,
                                                                       SP_DEVINFO_DATA* device,
                                                                       DWORD property);
