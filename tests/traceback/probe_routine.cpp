#include "tests/traceback/probe_routine.h"

#include <cstdint>

namespace pageout::tests {

// The end-to-end test finds the lines marked "fault here" and "report here" in this file and expects
// them in the report's row for this routine.
__attribute__((noinline)) void ProbeRoutine(ProbeMode mode, void (*report)()) {
  // An address in the never-mapped first page: a null pointer itself would be caught by the
  // sanitizer build before the processor faults.
  volatile int* volatile target = reinterpret_cast<volatile int*>(std::uintptr_t{16});
  if (mode == ProbeMode::kFault) {
    *target = 157;  // fault here
  }
  report();  // report here
  target = nullptr;  // keeps the call above from becoming a jump
}

}  // namespace pageout::tests
