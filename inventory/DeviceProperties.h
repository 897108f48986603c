// Readers of a device's registry properties (SetupDiGetDeviceRegistryPropertyW):
// the name the list shows, one text property, and one multi-text property such
// as the hardware or compatible identifiers. Each returns its own copy, or
// nothing when the property cannot be read.
#pragma once

#include "platform/Platform.h"

#include <optional>
#include <string>
#include <vector>

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
