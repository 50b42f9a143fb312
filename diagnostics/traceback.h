// The traceback report appended to every severe diagnostic.
#pragma once

#include <cstddef>

namespace pageout::platform {
struct FaultContext;  // the register state of a fault being reported; defined by the platform
}

namespace pageout::diagnostics {

// Appends the traceback report behind the used bytes of text, which has room for capacity bytes
// including a terminating NUL. The walk starts at fault when there is one, else at the caller.
// Never fails; returns the number of bytes used afterwards (always < capacity, text NUL-terminated).
std::size_t AppendTracebackReport(const platform::FaultContext* fault, char* text, std::size_t used,
                                  std::size_t capacity);

}  // namespace pageout::diagnostics
