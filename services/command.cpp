#include "services/command.h"

#include <new>

#include "platform/os.h"
#include "services/code_page.h"

namespace pageout::services {
namespace {

constexpr std::string_view kExtensions[] = {".com", ".exe", ".bat", ".cmd"};

struct Conventions {
  bool windows;
  const char* interpreter_switch;
  std::string_view separators;         // characters that end a directory in a name
  std::string_view current_directory;  // the prefix that makes a bare name mean the current one
};

Conventions ConventionsOf(const platform::Os& os) {
  if (os.host() == platform::Host::kWindows) return {true, "/c", "\\/", ".\\"};
  return {false, "-c", "/", "./"};
}

RunResult Start(platform::Os& os, const std::string& candidate,
                const std::vector<std::string>& arguments) {
  const platform::ChildResult child =
      os.StartAndWait(candidate, arguments, ChildCommandLine(arguments));
  if (!child.started) return {-1, ClassifyFailure(child.error), false};
  // An interpreter that ran and ended with -1 is not a failure to find one: the command has run,
  // and no fallback or later PATH entry may run it a second time.
  return {child.exit_code, FailureClass::kOther, true};
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

FailureClass ClassifyFailure(std::uint32_t error) {
  constexpr std::uint32_t kNotFound[] = {2, 3, 15, 18, 53, 67, 161, 206};
  constexpr std::uint32_t kAccessDenied[] = {5, 16, 33, 65, 82, 83, 108, 132, 158, 167};
  for (std::uint32_t code : kNotFound) {
    if (code == error) return FailureClass::kNotFound;
  }
  for (std::uint32_t code : kAccessDenied) {
    if (code == error) return FailureClass::kAccessDenied;
  }
  return error >= 19 && error <= 36 ? FailureClass::kAccessDenied : FailureClass::kOther;
}

std::string_view TrimCommand(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string ChildCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (&argument != &arguments.front()) line += ' ';
    line += argument;
  }
  return line;
}

RunResult StartAndWait(platform::Os& os, const std::string& program,
                       const std::vector<std::string>& arguments) {
  const Conventions conventions = ConventionsOf(os);
  std::string name = program;
  std::size_t final_start = 0;
  const std::size_t separator = FindLastOf(name, conventions.separators);
  const std::size_t colon = conventions.windows ? FindFirstOf(name, ":") : std::string::npos;
  if (separator != std::string::npos) {
    final_start = separator + 1;
  } else if (colon != std::string::npos) {
    final_start = colon;
  } else {
    name.insert(0, conventions.current_directory);
    final_start = conventions.current_directory.size();
  }

  // Without an extension list (POSIX), or with a dot in the final component, the name is the only
  // candidate; otherwise each ending of the list is tried in turn.
  std::vector<std::string> candidates;
  const bool has_dot =
      FindFirstOf(std::string_view(name).substr(final_start), ".") != std::string_view::npos;
  if (!conventions.windows || has_dot) {
    candidates.push_back(name);
  } else {
    for (std::string_view extension : kExtensions) {
      candidates.push_back(name + std::string(extension));
    }
  }

  RunResult last;
  for (const std::string& candidate : candidates) {
    const platform::Attributes attributes = os.QueryAttributes(candidate);
    if (attributes.ok) return Start(os, candidate, arguments);
    last = {-1, ClassifyFailure(attributes.error), false};
  }
  return last;
}

std::optional<std::string> NextPathEntry(std::string_view path, std::size_t& position) {
  while (position < path.size() && path[position] == ';') ++position;
  if (position >= path.size()) return std::nullopt;
  std::string entry;
  bool quoted = false;
  for (; position < path.size(); ++position) {
    const char c = path[position];
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (c == ';' && !quoted) break;
    entry += c;
    if (entry.size() > kMaxPathEntry) return std::nullopt;
  }
  if (entry.empty()) return std::nullopt;
  return entry;
}

RunResult SearchAlongPath(platform::Os& os, const std::string& program,
                          const std::vector<std::string>& arguments) {
  // The search starts along PATH and never in the current directory: a program planted there must
  // not be taken for the system's interpreter.
  RunResult last;
  const std::optional<std::string> path = os.GetEnv("PATH");
  if (!path) return last;
  std::size_t position = 0;
  while (const std::optional<std::string> entry = NextPathEntry(*path, position)) {
    std::string candidate = *entry;
    const std::size_t last_separator = FindLastOf(candidate, "\\/");
    if (last_separator == std::string::npos || last_separator + 1 != candidate.size()) {
      candidate += '\\';
    }
    if (candidate.size() + program.size() >= kPathEntryBuffer) break;
    candidate += program;
    last = StartAndWait(os, candidate, arguments);
    if (last.ran) return last;
    if (last.failure == FailureClass::kNotFound) continue;
    // Other failures end the search, except on a network path, whose servers may refuse one
    // share and serve the next.
    const bool network = entry->size() >= 2 && IsSeparator((*entry)[0]) && IsSeparator((*entry)[1]);
    if (!network) break;
  }
  return last;
}

std::int32_t RunInterpreter(platform::Os& os, const std::string& command) {
  const Conventions conventions = ConventionsOf(os);
  if (const std::optional<std::string> comspec = os.GetEnv("COMSPEC")) {
    const RunResult result =
        StartAndWait(os, *comspec, {*comspec, conventions.interpreter_switch, command});
    if (result.ran || result.failure == FailureClass::kOther) return result.exit_code;
  }
  if (conventions.windows) {
    const std::string fallback = os.IsNtFamily() ? "cmd.exe" : "command.com";
    return SearchAlongPath(os, fallback, {fallback, conventions.interpreter_switch, command})
        .exit_code;
  }
  const std::string shell = "/bin/sh";
  return StartAndWait(os, shell, {shell, conventions.interpreter_switch, command}).exit_code;
}

bool ExecuteCommand(platform::Os& os, std::string_view text) {
  // Memory for the command, a candidate or the child's command line that cannot be obtained means
  // no interpreter is run: the result is no, and no fallback is tried after it.
  try {
    const std::string command(TrimCommand(text));
    return RunInterpreter(os, command) != -1;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace pageout::services
