// Start-up: everything that runs once before the front end, writing nothing.
#pragma once

#include <string>
#include <vector>

namespace pageout::platform {
class Os;
}

namespace pageout::diagnostics {

// A program's main routine: given the Os and the argument vector (argument 0 the program's own
// name, argument 1 the first word after it), it ends the process itself in its normal stop.
using MainRoutine = void (*)(platform::Os& os, const std::vector<std::string>& arguments);

// The argument vector as the platform split the command line.
std::vector<std::string> PrepareArguments(int argc, const char* const* argv);

// The start-up of a program, once per process and on its main thread before any other thread
// exists, in this order: clears the platform's last-error code and installs the console control
// handler; prepares the arguments; masks the floating-point exceptions; then calls main under the
// main guard. The process ends inside main (its normal stop, a diagnostic, a fault or a control
// event); should main return, the process ends with the normal status 0.
[[noreturn]] void StartUp(platform::Os& os, int argc, const char* const* argv, MainRoutine main);

}  // namespace pageout::diagnostics
