// A fake command interpreter: logs the command line it receives, exactly, and, when asked, one line
// of its standard input. See fake_shell_log.h.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/tools/fake_shell_log.h"

namespace {

std::string ReadOneLine() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::string line;
  char byte = 0;
  DWORD got = 0;
  while (ReadFile(input, &byte, 1, &got, nullptr) != 0 && got == 1) {
    line += byte;
    if (byte == '\n') break;
  }
  return line;
}

}  // namespace

int main() {
  using pageout::test_tools::AppendField;
  std::string record = "call\n";
  char program[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length > 0 && length < sizeof program) AppendField(record, "program", program);
  AppendField(record, "cmdline", GetCommandLineA());
  if (pageout::test_tools::LineReadRequested()) AppendField(record, "stdin", ReadOneLine());
  record += "end\n";

  if (const char* path = std::getenv("PAGEOUT_FAKE_SHELL_LOG")) {
    const HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return 125;
    DWORD put = 0;
    const BOOL ok = WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &put, nullptr);
    CloseHandle(log);
    if (!ok || put != record.size()) return 125;
  }
  Sleep(pageout::test_tools::RequestedSleepSeconds() * 1000u);
  return pageout::test_tools::RequestedExitCode();
}
