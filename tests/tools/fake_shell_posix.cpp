// A fake command interpreter: logs the arguments it receives and, when asked, one line of its
// standard input. See fake_shell_log.h.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "tests/tools/fake_shell_log.h"

namespace {

std::string ReadOneLine() {
  std::string line;
  char byte = 0;
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    line += byte;
    if (byte == '\n') break;
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  using pageout::test_tools::AppendField;
  std::string record = "call\n";
  char program[4096] = {};
  const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  if (length > 0) {
    AppendField(record, "program", std::string(program, static_cast<std::size_t>(length)));
  }
  for (int i = 0; i < argc; ++i) AppendField(record, "arg", argv[i]);
  if (pageout::test_tools::LineReadRequested()) AppendField(record, "stdin", ReadOneLine());
  record += "end\n";

  if (const char* path = std::getenv("PAGEOUT_FAKE_SHELL_LOG")) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd == -1) return 125;
    const ssize_t put = write(fd, record.data(), record.size());
    close(fd);
    if (put != static_cast<ssize_t>(record.size())) return 125;
  }
  if (pageout::test_tools::Requested("PAGEOUT_FAKE_SHELL_INTERRUPT_PARENT")) {
    kill(getppid(), SIGINT);
    return 130;
  }
  for (unsigned left = pageout::test_tools::RequestedSleepSeconds(); left > 0;) left = sleep(left);
  return pageout::test_tools::RequestedExitCode();
}
