// Command execution: hands one command line to the system's command interpreter and waits for it.
//
// The interpreter is the one COMSPEC names, else a fallback ("cmd.exe" or "command.com" along PATH
// on Win32, /bin/sh on POSIX). It is started with the switch ("/c" on Win32, "-c" on POSIX) and the
// command without its trailing blanks. Nothing is written, nothing reported: the only output is
// whether an interpreter could be run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pageout::platform {
class Os;
}

namespace pageout::services {

// Executes the command held in text (a blank-padded field; only trailing blanks are dropped).
// True when an interpreter was started and waited for and its exit code is not -1.
bool ExecuteCommand(platform::Os& os, std::string_view text);

// --- The steps, for those who test them --------------------------------------------------------

// How a failed attributes query or process creation is classed.
enum class FailureClass { kNotFound, kAccessDenied, kOther };
FailureClass ClassifyFailure(std::uint32_t error);

// text without its trailing blanks (only 0x20 counts).
std::string_view TrimCommand(std::string_view text);

// The argument list joined with single blanks, nothing quoted.
std::string ChildCommandLine(const std::vector<std::string>& arguments);

// The exit code of a child, or -1 with the class of the failure that kept it from running.
struct RunResult {
  std::int32_t exit_code = -1;
  FailureClass failure = FailureClass::kNotFound;  // meaningful when !ran
  bool ran = false;  // a child was started and waited for (its exit code may still be -1)
};

// Looks for program (with the current-directory prefix for a bare name and, on Win32, the
// extension list for a final component without a dot) and runs the first candidate that exists.
RunResult StartAndWait(platform::Os& os, const std::string& program,
                       const std::vector<std::string>& arguments);

// Win32: runs program from the first PATH entry where it can be started; never from the current
// directory unless PATH names it.
RunResult SearchAlongPath(platform::Os& os, const std::string& program,
                          const std::vector<std::string>& arguments);

// The interpreter's exit code for command, or -1 when no interpreter could be run.
std::int32_t RunInterpreter(platform::Os& os, const std::string& command);

// The longest PATH entry taken, quotes not counted; a longer one ends the search.
constexpr std::size_t kMaxPathEntry = 257;
// Room for an entry, its separator and the program name; a candidate must stay below it.
constexpr std::size_t kPathEntryBuffer = 260;

// The next entry of a PATH value from position on, advancing position past it; nullopt when none
// is left, or when the next entry is empty or longer than kMaxPathEntry (both end the search).
std::optional<std::string> NextPathEntry(std::string_view path, std::size_t& position);

}  // namespace pageout::services
