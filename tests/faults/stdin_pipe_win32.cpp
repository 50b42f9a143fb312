// Starts a program with its standard input on a Win32 anonymous pipe that this program writes and
// then closes, as a Windows program feeding another would: a read past the written bytes then
// fails with ERROR_BROKEN_PIPE, which a pipe made outside Win32 does not give under Wine.
//
//   stdin_pipe.exe BYTES COMMAND-LINE
//
// BYTES are written as they stand (an empty argument writes nothing); COMMAND-LINE is the rest of
// the command line, the program and its arguments. Standard output and standard error are this
// program's own. Ends with the program's exit code; 126 for wrong arguments, 127 when the program
// could not be started.
#include <windows.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 126;
  const std::string bytes = argv[1];
  // The command line after the second argument, exactly as it stands.
  const char* line = GetCommandLineA();
  std::string rest;
  {
    int seen = 0;
    bool quoted = false;
    const char* p = line;
    while (*p != '\0' && seen < 2) {
      if (*p == '"') quoted = !quoted;
      if (!quoted && (*p == ' ' || *p == '\t')) {
        while (*p == ' ' || *p == '\t') ++p;
        ++seen;
        continue;
      }
      ++p;
    }
    rest = p;
  }
  if (rest.empty()) return 126;

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) return 127;
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  std::string command = rest;
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 127;
  }
  CloseHandle(read_end);
  DWORD written = 0;
  if (!bytes.empty()) {
    WriteFile(write_end, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  CloseHandle(write_end);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 127;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
