// The log a fake command interpreter of the tests keeps: one record per start, appended to the file
// named by PAGEOUT_FAKE_SHELL_LOG.
//
//   call
//   program <length>:<bytes>    the file the interpreter was started from, when known
//   arg <length>:<bytes>        one per argument received (POSIX)
//   cmdline <length>:<bytes>    the command line received, exactly (Win32)
//   stdin <length>:<bytes>      with PAGEOUT_FAKE_SHELL_READ_LINE=1: the bytes of one line read
//                               one at a time from the inherited standard input, its LF included
//   end
//
// With PAGEOUT_FAKE_SHELL_EXIT=<n> the interpreter ends with exit code n (0 otherwise). With
// PAGEOUT_FAKE_SHELL_SLEEP=<seconds> it waits that long after writing its record, before it ends.
// With PAGEOUT_FAKE_SHELL_INTERRUPT_PARENT=1 (POSIX) it sends SIGINT to the process that started
// it and ends at once with 130, the way an interpreter ends that a Ctrl+C reached before its
// parent took the same event.
#pragma once

#include <cstdlib>
#include <string>

namespace pageout::test_tools {

inline void AppendField(std::string& record, const char* key, const std::string& bytes) {
  record += key;
  record += ' ';
  record += std::to_string(bytes.size());
  record += ':';
  record += bytes;
  record += '\n';
}

inline int RequestedExitCode() {
  const char* text = std::getenv("PAGEOUT_FAKE_SHELL_EXIT");
  return text == nullptr ? 0 : std::atoi(text);
}

inline unsigned RequestedSleepSeconds() {
  const char* text = std::getenv("PAGEOUT_FAKE_SHELL_SLEEP");
  return text == nullptr ? 0u : static_cast<unsigned>(std::strtoul(text, nullptr, 10));
}

inline bool Requested(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr && std::string(text) == "1";
}

inline bool LineReadRequested() { return Requested("PAGEOUT_FAKE_SHELL_READ_LINE"); }

}  // namespace pageout::test_tools
