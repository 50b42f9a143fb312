// Runs one routine, named by argument 1, as the main routine of pageout's start-up: under the
// control handler, the floating-point masks and the main guard, exactly as pageout runs its front
// end. A routine that returns leads to the normal status 0.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics/startup.h"
#include "platform/os.h"
#include "tests/faults/fault_routines.h"

namespace {

using pageout::fault_tests::FaultRoutine;

void RunRoutine(pageout::platform::Os&, const std::vector<std::string>& arguments) {
  const char* name = arguments.size() > 1 ? arguments[1].c_str() : "";
  for (auto table : {pageout::fault_tests::CommonRoutines(),
                     pageout::fault_tests::PlatformRoutines()}) {
    for (const FaultRoutine& routine : table) {
      if (std::strcmp(routine.name, name) == 0) {
        routine.run();
        return;
      }
    }
  }
  if (pageout::fault_tests::RunNamedRaise(name)) return;
  std::fprintf(stderr, "no routine named \"%s\"\n", name);
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  // Start-up must mask what the process was started with unmasked.
  if (argc > 1 && std::strcmp(argv[1], "float-masks") == 0) {
    pageout::fault_tests::UnmaskFloatingPointExceptions();
  }
  pageout::diagnostics::StartUp(pageout::platform::System(), argc, argv, &RunRoutine);
}
