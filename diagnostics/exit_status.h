// The exit statuses with which the process can end.
#pragma once

namespace pageout::diagnostics {

// A severe diagnostic ends the process with its message number as the status (24 after end of
// console input, 38 after a failed console write, 157 after an access violation, ...); the
// statuses below are the ones that are not message numbers.
enum class ExitStatus : int {
  kNormal = 0,         // the normal stop, after a converter run or a quit answer
  kControlBreak = 1,   // Ctrl+Break (SIGQUIT on POSIX)
  kConsoleClosed = 2,  // the console window was closed (SIGHUP on POSIX)
  kControlC = 130,     // Ctrl+C (SIGINT on POSIX); never 0, which would claim success
};

constexpr int ToInt(ExitStatus status) { return static_cast<int>(status); }

}  // namespace pageout::diagnostics
