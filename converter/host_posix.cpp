#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "converter/host.h"

namespace pageout::converter {
namespace {

class FdSource final : public ByteSource {
 public:
  FdSource(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~FdSource() override {
    if (owned_) close(fd_);
  }
  FdSource(const FdSource&) = delete;
  FdSource& operator=(const FdSource&) = delete;

  std::int64_t Read(char* data, std::size_t size, std::string* reason) override {
    // A read may return less than asked (pipes, terminals); the caller loops. Signals that
    // interrupt the call are not failures.
    for (;;) {
      ssize_t count = read(fd_, data, size);
      if (count >= 0) return count;
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      return -1;
    }
  }

 private:
  int fd_;
  bool owned_;
};

class FdSink final : public ByteSink {
 public:
  FdSink(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~FdSink() override {
    if (owned_) close(fd_);
  }
  FdSink(const FdSink&) = delete;
  FdSink& operator=(const FdSink&) = delete;

  bool Write(const char* data, std::size_t size, std::string* reason) override {
    while (size > 0) {
      ssize_t count = write(fd_, data, size);
      if (count < 0) {
        if (errno == EINTR) continue;
        *reason = std::strerror(errno);
        return false;
      }
      data += count;
      size -= static_cast<std::size_t>(count);
    }
    return true;
  }

 private:
  int fd_;
  bool owned_;
};

void WriteAll(int fd, std::string_view text) {
  std::string ignored;
  FdSink(fd, false).Write(text.data(), text.size(), &ignored);
}

class PosixHost final : public Host {
 public:
  std::unique_ptr<ByteSource> OpenInput(const std::string& name,
                                        std::optional<std::uint64_t>* size,
                                        std::string* reason) override {
    int fd = STDIN_FILENO;
    if (!name.empty()) {
      fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        *reason = std::strerror(errno);
        return nullptr;
      }
    }
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      *size = static_cast<std::uint64_t>(info.st_size);
    }
    return std::make_unique<FdSource>(fd, !name.empty());
  }

  std::unique_ptr<ByteSink> OpenOutput(const std::string& name, std::string* reason) override {
    if (name.empty()) return std::make_unique<FdSink>(STDOUT_FILENO, false);
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      *reason = std::strerror(errno);
      return nullptr;
    }
    return std::make_unique<FdSink>(fd, true);
  }

  void WriteOutput(std::string_view text) override { WriteAll(STDOUT_FILENO, text); }
  void WriteError(std::string_view text) override { WriteAll(STDERR_FILENO, text); }
  bool OutputIsTerminal() override { return isatty(STDOUT_FILENO) == 1; }
  bool ErrorIsTerminal() override { return isatty(STDERR_FILENO) == 1; }
  PaperSize DefaultPaper() override { return SystemDefaultPaper(); }

  bool SameFile(const std::string& a, const std::string& b) override {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
};

}  // namespace

std::unique_ptr<Host> MakeSystemHost() { return std::make_unique<PosixHost>(); }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace pageout::converter
