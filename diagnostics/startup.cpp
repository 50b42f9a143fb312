#include "diagnostics/startup.h"

#include <cstdlib>

#include "diagnostics/control_handler.h"
#include "diagnostics/exit_status.h"
#include "diagnostics/main_guard.h"
#include "platform/faults.h"
#include "platform/os.h"

namespace pageout::diagnostics {
namespace {

struct MainCall {
  platform::Os* os;
  MainRoutine main;
  const std::vector<std::string>* arguments;
};

void CallMain(void* context) {
  const MainCall& call = *static_cast<const MainCall*>(context);
  call.main(*call.os, *call.arguments);
}

}  // namespace

std::vector<std::string> PrepareArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
    arguments.emplace_back(argv[i]);
  }
  return arguments;
}

void StartUp(platform::Os& os, int argc, const char* const* argv, MainRoutine main) {
  // First, while the process still has one thread: on POSIX the control signals must be blocked
  // before any thread exists, so that only the handler's own thread ever takes them.
  InstallControlHandler(os);
  const std::vector<std::string> arguments = PrepareArguments(argc, argv);
  platform::MaskFloatingPointExceptions();
  // The table of console channels needs no preparation: both channels start unconnected and
  // connect on their first use.
  MainCall call{&os, main, &arguments};
  RunUnderMainGuard(os, &CallMain, &call);
  os.Exit(ToInt(ExitStatus::kNormal));
  std::abort();  // Exit does not return; this keeps the promise should an Os break its own
}

}  // namespace pageout::diagnostics
