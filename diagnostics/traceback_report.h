// The traceback report over any stack: the header, one row per frame, the fit rule and the
// abnormal-termination text. AppendTracebackReport (traceback.h) runs it over the real stack; tests
// run it over a fake one.
#pragma once

#include <cstddef>

#include "platform/fault_context.h"
#include "platform/stack.h"

namespace pageout::diagnostics {

// The columns of the report: "Image", "PC", "Routine", "Line" and "Source" begin at the character
// positions 1, 20, 30, 49 and 61 of the header and of every row.
inline constexpr char kTracebackHeaderFormat[] = "%-19.19s%-10.10s%-19.19s%-12.12s%-19.19s\n";
inline constexpr char kTracebackRowFormat[] = "%-17.17s  %8.8X  %-17.17s  %10.10s  %s\n";
inline constexpr char kTracebackAbnormalText[] = "\nStack trace terminated abnormally.\n";
inline constexpr std::size_t kTracebackHeaderLength = 80;

// Appends the report of stack's walk from fault (or from the caller when fault is null or carries
// no register state) behind the used bytes of text, whose room is capacity bytes with the
// terminating NUL. Returns the bytes used afterwards; the text stays NUL-terminated.
std::size_t AppendTracebackReport(platform::Stack& stack, const platform::FaultContext* fault,
                                  char* text, std::size_t used, std::size_t capacity);

}  // namespace pageout::diagnostics
