// The platform interface on POSIX systems.
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/errors_posix.h"
#include "platform/faults.h"
#include "platform/os.h"
#include "platform/path_posix.h"

extern char** environ;

namespace pageout::platform {
namespace {

int StreamFd(StdStream stream) {
  switch (stream) {
    case StdStream::kInput:
      return STDIN_FILENO;
    case StdStream::kOutput:
      return STDOUT_FILENO;
    case StdStream::kError:
      return STDERR_FILENO;
  }
  return STDERR_FILENO;
}

int ToFd(Handle handle) { return static_cast<int>(handle); }

// strerror_r comes in two shapes: the GNU one returns the text, the XSI one fills the buffer.
[[maybe_unused]] const char* ErrorText(int rc, const char* buffer) {
  return rc == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* ErrorText(const char* text, const char*) { return text; }

// The result of a child that ran and ended with status. A Ctrl+C that ended it reached this
// program too: the program goes no further than this while the event is handled.
ChildResult Ended(std::int32_t status) {
  HoldForControlEvent(status);
  return {true, status, 0};
}

class PosixOs final : public Os {
 public:
  PosixOs() {
    // A write to a pipe whose reader has gone must fail with EPIPE, which the console records
    // report as a failed write, instead of killing the process silently.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGPIPE, &ignore, &previous) == 0) {
      restore_sigpipe_in_child_ = previous.sa_handler == SIG_DFL;
    }
  }

  Host host() const override {
#ifdef __APPLE__
    return Host::kMac;
#else
    return Host::kLinux;
#endif
  }

  Handle StdHandle(StdStream stream) override {
    const int fd = StreamFd(stream);
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) return kInvalidHandle;
    return fd;
  }

  Handle OpenConsoleDevice(StdStream stream, std::uint32_t* error) override {
    const int flags = stream == StdStream::kInput ? O_RDONLY : O_WRONLY;
    int fd = open("/dev/tty", flags | O_NOCTTY);
    if (fd == -1) {
      if (error != nullptr) *error = ErrorFromErrno(errno);
      return kInvalidHandle;
    }
    // The terminal takes the place of the missing standard descriptor, so that a child started
    // later finds it there too, as a Win32 child shares the console of its parent.
    const int wanted = StreamFd(stream);
    if (fd != wanted && fcntl(wanted, F_GETFD) == -1 && errno == EBADF &&
        dup2(fd, wanted) == wanted) {
      close(fd);
      fd = wanted;
    }
    return fd;
  }

  FileKind KindOf(Handle handle) override {
    struct stat info {};
    if (fstat(ToFd(handle), &info) == 0 && S_ISREG(info.st_mode)) return FileKind::kDisk;
    if (isatty(ToFd(handle)) == 1) return FileKind::kConsole;
    return FileKind::kPipe;
  }

  IoResult Read(Handle handle, void* buffer, std::size_t size) override {
    if (size > SSIZE_MAX) size = SSIZE_MAX;
    const ssize_t got = read(ToFd(handle), buffer, size);
    if (got < 0) return {false, 0, ErrorFromErrno(errno)};
    return {true, static_cast<std::size_t>(got), 0};
  }

  IoResult Write(Handle handle, const void* buffer, std::size_t size) override {
    // A write to a pipe or a terminal may take only part of the block; the rest follows at once, so
    // that the block arrives whole as one Win32 WriteFile call delivers it.
    const char* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t put = write(ToFd(handle), bytes + done, size - done);
      if (put < 0) {
        if (errno == EINTR) continue;
        return {false, done, ErrorFromErrno(errno)};
      }
      done += static_cast<std::size_t>(put);
    }
    return {true, done, 0};
  }

  bool SeekBack(Handle handle, std::uint64_t count) override {
    if (count > static_cast<std::uint64_t>(LLONG_MAX)) return false;
    return lseek(ToFd(handle), -static_cast<off_t>(count), SEEK_CUR) != static_cast<off_t>(-1);
  }

  void YieldTimeSlice() override { sched_yield(); }

  std::optional<std::string> FullPath(const std::string& name) override {
    if (name.empty()) return std::nullopt;
    std::string cwd(256, '\0');
    while (getcwd(cwd.data(), cwd.size()) == nullptr) {
      if (errno != ERANGE) return std::nullopt;
      cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return LexicalAbsolutePath(cwd, name);
  }

  Attributes QueryAttributes(const std::string& name) override {
    struct stat info {};
    if (stat(name.c_str(), &info) != 0) return {false, false, ErrorFromErrno(errno)};
    return {true, S_ISDIR(info.st_mode), 0};
  }

  std::optional<std::string> GetEnv(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  bool IsNtFamily() override { return true; }

  ChildResult StartAndWait(const std::string& program, const std::vector<std::string>& args,
                           const std::string& /*command_line*/) override {
    std::vector<std::string> argument_texts = args;
    if (argument_texts.empty()) argument_texts.push_back(program);
    std::vector<char*> argv;
    argv.reserve(argument_texts.size() + 1);
    for (std::string& text : argument_texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    // The child starts with no signal blocked and, unless the program was started with SIGPIPE
    // ignored, with SIGPIPE at its default: the converter and the viewer behave as when a shell
    // starts them. The standard descriptors are inherited as they are.
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) return {false, -1, err::kNotEnoughMemory};
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    short flags = POSIX_SPAWN_SETSIGMASK;
    if (restore_sigpipe_in_child_) {
      sigaddset(&defaults, SIGPIPE);
      flags = static_cast<short>(flags | POSIX_SPAWN_SETSIGDEF);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, flags);

    pid_t child = 0;
    const int rc = posix_spawn(&child, program.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return {false, -1, ErrorFromErrno(rc)};

    int status = 0;
    while (waitpid(child, &status, 0) == -1) {
      if (errno != EINTR) return Ended(-1);
    }
    if (WIFEXITED(status)) return Ended(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return Ended(128 + WTERMSIG(status));
    return Ended(-1);
  }

  void WriteStandardError(const char* bytes, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t put = write(STDERR_FILENO, bytes + done, size - done);
      if (put < 0) {
        if (errno == EINTR) continue;
        return;
      }
      done += static_cast<std::size_t>(put);
    }
  }

  std::optional<std::string> SystemMessage(std::uint32_t error) override {
    const int errno_value = ErrnoFromError(error);
    if (errno_value == 0) return std::nullopt;
    char buffer[256] = {};
    const char* text = ErrorText(strerror_r(errno_value, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0') return std::nullopt;
    // The Win32 message texts end in CR LF; these stand in for them and end the same way.
    return std::string(text) + "\r\n";
  }

  [[noreturn]] void Exit(int status) override { std::exit(status); }

 private:
  bool restore_sigpipe_in_child_ = false;
};

}  // namespace

Os& System() {
  static PosixOs os;
  return os;
}

}  // namespace pageout::platform
