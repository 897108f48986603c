// The console program's list: the window's rows as a text table, or one JSON
// array with an object per device.
#pragma once

#include "inventory/DriveRecord.h"
#include "listview/ListRows.h"

#include <string>
#include <vector>

struct ListedDevice {
    const DriveRecord* record = nullptr;
    ListRowTexts row;  // as the window shows it
};

// A header line and one line per device, the columns padded to line up.
std::wstring ListTable(const std::vector<ListedDevice>& devices);

// [{"name": ..., "type": ..., "mountPoints": ["E:"], "bus": ..., "capacity": ...,
//   "capacityBytes": 0, "mediaType": ..., "instanceId": ..., "boot": false,
//   "pageFile": false}, ...] and a line break.
std::wstring ListJson(const std::vector<ListedDevice>& devices);

// A JSON string literal of the text, quotes included.
std::wstring JsonString(const std::wstring& text);
