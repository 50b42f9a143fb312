#include "diagnostics/traceback.h"

namespace pageout::diagnostics {

// The stack walk comes with the traceback work; until then the report adds nothing.
std::size_t AppendTracebackReport(const platform::FaultContext*, char* text, std::size_t used,
                                  std::size_t capacity) {
  if (capacity > 0) text[used < capacity ? used : capacity - 1] = '\0';
  return used;
}

}  // namespace pageout::diagnostics
