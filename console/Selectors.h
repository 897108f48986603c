// Which listed devices a selector names. Only devices the window would list
// under the user's options can be named: a letter on a hidden device
// matches nothing.
#pragma once

#include "console/CommandLine.h"
#include "inventory/DriveTable.h"
#include "listview/ListRows.h"
#include "platform/Platform.h"

#include <vector>

struct SelectorMatch {
    // In table order, each device once.
    std::vector<const DriveRecord*> listed;
    // Devices the selector names that the options hide.
    int hidden = 0;
};

SelectorMatch MatchSelector(Platform& platform, const DriveTable& table, const ListOptions& options,
                            const Selector& selector);

// True when the record is the one the selector names, whether listed or not.
bool SelectorNames(Platform& platform, const DriveRecord& record, const Selector& selector);
