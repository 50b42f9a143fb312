#include "tests/traceback/probe_routine.h"

namespace pageout::tests {

// The end-to-end test finds the lines marked "fault here" and "report here" in this file and expects
// them in the report's row for this routine.
__attribute__((noinline)) void ProbeRoutine(ProbeMode mode, void (*report)()) {
  volatile int* volatile target = nullptr;
  if (mode == ProbeMode::kFault) {
    *target = 157;  // fault here
  }
  report();  // report here
  target = nullptr;  // keeps the call above from becoming a jump
}

}  // namespace pageout::tests
