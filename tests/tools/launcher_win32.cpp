// Starts a Win32 program with a chosen environment, the launcher's own standard handles and the
// rest of the launcher's command line, and ends with the program's exit code. Wine sets COMSPEC
// and PATH of a program started from Unix from its own registry; started through the launcher, the
// program sees the values a test chose.
//
//   launcher.exe [NAME=VALUE | NAME<VARIABLE | -NAME]... -- PROGRAM [ARGUMENTS]
//
// NAME=VALUE sets a variable (an empty VALUE included), NAME<VARIABLE sets it to the value of the
// launcher's own variable VARIABLE (so that values too long for a command line, or of any form,
// travel through the environment), -NAME removes it. Everything after PROGRAM
// is passed on exactly as it stands in the launcher's command line, so that the program splits its
// arguments from the same text. Exit code 126 means the launcher's own arguments were wrong, 127
// that the program could not be started.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Token {
  std::string value;
  std::size_t end = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One argument as the C run-time splits a command line: blanks end it outside double quotes,
// 2n backslashes before a quote give n backslashes and a quote that opens or closes a quoted
// stretch, 2n+1 give n backslashes and a literal quote, and "" inside a stretch gives one quote.
Token ArgumentToken(const std::string& line, std::size_t pos) {
  Token token;
  bool quoted = false;
  while (pos < line.size()) {
    const char c = line[pos];
    if (IsBlank(c) && !quoted) break;
    if (c == '\\') {
      std::size_t count = 0;
      while (pos < line.size() && line[pos] == '\\') {
        ++count;
        ++pos;
      }
      if (pos < line.size() && line[pos] == '"') {
        token.value.append(count / 2, '\\');
        if (count % 2 == 1) {
          token.value += '"';
          ++pos;
        }
      } else {
        token.value.append(count, '\\');
      }
      continue;
    }
    if (c == '"') {
      if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
        token.value += '"';
        pos += 2;
        continue;
      }
      quoted = !quoted;
      ++pos;
      continue;
    }
    token.value += c;
    ++pos;
  }
  token.end = pos;
  return token;
}

// The program name at the start of a command line: up to the closing quote when it opens with
// one, else up to the first blank.
std::size_t ProgramTokenEnd(const std::string& line) {
  if (!line.empty() && line[0] == '"') {
    const std::size_t close = line.find('"', 1);
    return close == std::string::npos ? line.size() : close + 1;
  }
  std::size_t pos = 0;
  while (pos < line.size() && !IsBlank(line[pos])) ++pos;
  return pos;
}

std::size_t SkipBlanks(const std::string& line, std::size_t pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  return pos;
}

}  // namespace

int main() {
  const std::string line = GetCommandLineA();
  std::size_t pos = ProgramTokenEnd(line);
  std::string program;
  std::string rest;
  for (;;) {
    pos = SkipBlanks(line, pos);
    if (pos >= line.size()) {
      std::fputs("launcher: expected -- PROGRAM\n", stderr);
      return 126;
    }
    const Token token = ArgumentToken(line, pos);
    pos = token.end;
    if (token.value == "--") {
      pos = SkipBlanks(line, pos);
      const Token target = ArgumentToken(line, pos);
      program = target.value;
      rest = line.substr(target.end);
      break;
    }
    if (token.value.size() > 1 && token.value[0] == '-') {
      SetEnvironmentVariableA(token.value.c_str() + 1, nullptr);
      continue;
    }
    const std::size_t from = token.value.find('<');
    if (from != std::string::npos && from > 0 && token.value.find('=') > from) {
      const std::string source = token.value.substr(from + 1);
      const DWORD size = GetEnvironmentVariableA(source.c_str(), nullptr, 0);
      std::string value(size, '\0');
      if (size == 0 ||
          GetEnvironmentVariableA(source.c_str(), value.data(), size) != size - 1) {
        std::fprintf(stderr, "launcher: no variable %s\n", source.c_str());
        return 126;
      }
      value.resize(size - 1);
      SetEnvironmentVariableA(token.value.substr(0, from).c_str(), value.c_str());
      continue;
    }
    const std::size_t equals = token.value.find('=');
    if (equals == std::string::npos || equals == 0) {
      std::fprintf(stderr, "launcher: not NAME=VALUE: %s\n", token.value.c_str());
      return 126;
    }
    SetEnvironmentVariableA(token.value.substr(0, equals).c_str(),
                            token.value.c_str() + equals + 1);
  }
  if (program.empty()) {
    std::fputs("launcher: no program\n", stderr);
    return 126;
  }

  std::string child_line = "\"" + program + "\"" + rest;
  STARTUPINFOA start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(program.c_str(), child_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &start, &process) == 0) {
    std::fprintf(stderr, "launcher: cannot start %s (error %lu)\n", program.c_str(),
                 GetLastError());
    return 127;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 127;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(exit_code);
}
