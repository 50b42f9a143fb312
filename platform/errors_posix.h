// The one translation between errno values and the Win32 error codes that cross the platform
// interface.
#pragma once

#include <cstdint>

namespace pageout::platform {

// The Win32 error code for an errno value: the matching code where Win32 has one, otherwise
// err::kPosixErrnoBase | errno_value. 0 stays 0.
std::uint32_t ErrorFromErrno(int errno_value);

// The errno value a code stands for: the value it came from for kPosixErrnoBase | errno, the first
// errno value that maps onto it for a Win32 code; 0 when no errno value corresponds.
int ErrnoFromError(std::uint32_t code);

}  // namespace pageout::platform
