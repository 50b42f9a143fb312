#include "diagnostics/startup.h"

#include <cstdlib>

#include "diagnostics/exit_status.h"
#include "platform/os.h"

namespace pageout::diagnostics {

std::vector<std::string> PrepareArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
    arguments.emplace_back(argv[i]);
  }
  return arguments;
}

void StartUp(platform::Os& os, int argc, const char* const* argv, MainRoutine main) {
  const std::vector<std::string> arguments = PrepareArguments(argc, argv);
  // The console channels need no preparation: each connects on its first use.
  main(os, arguments);
  os.Exit(ToInt(ExitStatus::kNormal));
  std::abort();  // Exit does not return; this keeps the promise should an Os break its own
}

}  // namespace pageout::diagnostics
