// The C run-time's low-level file handles as slots of the handle table a child receives.
#pragma once

#include <vector>

#include "platform/handle_table.h"

namespace pageout::platform {

// One slot per low-level handle number from 0 up to the last one in use. An open handle has the
// open flag, the device or pipe flag as the system tells its kind, the text flag when it is in text
// mode, its OS handle, and whether the child may inherit that handle.
std::vector<HandleSlot> RuntimeHandleSlots();

}  // namespace pageout::platform
