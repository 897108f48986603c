// The report of the Remove Devices command (CTrayhop32Dlg::OnRemoveDevices
// is defined in RemoveCommand.cpp).
#pragma once

#include "removal/RemovalFlow.h"

#include <cstddef>
#include <string>
#include <vector>


// Characters a removal summary may take; a message box taller than the
// screen would hide its own OK button.
inline constexpr std::size_t kRemovalSummaryChars = 2000;

// The box that lists the removed devices, singular or plural. Names that
// would take the text past limitChars are counted in an "and N more" line
// instead of being dropped without a word.
std::wstring ComposeRemovalSummary(const std::vector<std::wstring>& removedNames,
                                   std::size_t limitChars = kRemovalSummaryChars);
