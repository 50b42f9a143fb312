// The POSIX implementation of the platform interface, against the real system.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/errors_posix.h"
#include "platform/os.h"
#include "platform/path_posix.h"

namespace pageout::platform {
namespace {

namespace fs = std::filesystem;

TEST(ErrnoMapping, MapsOntoWin32CodesAndBack) {
  struct Case {
    int errno_value;
    std::uint32_t code;
    int back;
  };
  const Case cases[] = {
      {0, 0, 0},
      {ENOENT, 2, ENOENT},
      {ENOTDIR, 3, ENOTDIR},
      {EACCES, 5, EACCES},
      {EPERM, 5, EACCES},
      {ENOMEM, 8, ENOMEM},
      {EPIPE, 109, EPIPE},
      {ENOEXEC, 193, ENOEXEC},
      {EINTR, 995, EINTR},
      {ENAMETOOLONG, 206, ENAMETOOLONG},
      {ENOSYS, err::kPosixErrnoBase | ENOSYS, ENOSYS},
      {ECONNRESET, err::kPosixErrnoBase | ECONNRESET, ECONNRESET},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.errno_value);
    EXPECT_EQ(ErrorFromErrno(c.errno_value), c.code);
    EXPECT_EQ(ErrnoFromError(c.code), c.back);
  }
  EXPECT_EQ(ErrnoFromError(1234), 0);  // a Win32 code no errno value maps onto
}

TEST(ErrnoMapping, SystemMessageIsTheErrnoTextEndingInCrLf) {
  Os& os = System();
  EXPECT_EQ(os.SystemMessage(err::kBrokenPipe), std::string(std::strerror(EPIPE)) + "\r\n");
  EXPECT_EQ(os.SystemMessage(err::kAccessDenied), std::string(std::strerror(EACCES)) + "\r\n");
  EXPECT_EQ(os.SystemMessage(err::kPosixErrnoBase | ENOSYS),
            std::string(std::strerror(ENOSYS)) + "\r\n");
  EXPECT_EQ(os.SystemMessage(1234), std::nullopt);
}

TEST(LexicalAbsolutePath, JoinsAndCollapsesWithoutTheFileSystem) {
  struct Case {
    const char* cwd;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"/home/u", "a.txt", "/home/u/a.txt"},
      {"/home/u", "./a//b/../c", "/home/u/a/c"},
      {"/home/u", "../../../../x", "/x"},
      {"/home/u", "/etc//./passwd", "/etc/passwd"},
      {"/", "..", "/"},
      {"/home/u", ".", "/home/u"},
      {"/home/u", "dir/", "/home/u/dir/"},
      {"/home/u", "  lead and inner blanks ", "/home/u/  lead and inner blanks "},
      {"/home/u", "*.txt", "/home/u/*.txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LexicalAbsolutePath(c.cwd, c.name), c.expected) << c.cwd << " + " << c.name;
  }
}

// Each test runs in a fresh folder that is the current directory while it runs.
class PosixOsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "pageout-os-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }
  static void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }

  Os& os_ = System();
  fs::path previous_;
  fs::path dir_;
};

TEST_F(PosixOsTest, FullPathIsFormedAgainstTheCurrentDirectoryWithoutResolvingLinks) {
  fs::create_directories("real/sub");
  fs::create_directory_symlink(dir_ / "real" / "sub", "link");
  const std::string cwd = fs::current_path().string();
  EXPECT_EQ(os_.FullPath("a.txt"), cwd + "/a.txt");
  EXPECT_EQ(os_.FullPath("link/.."), cwd);
  EXPECT_EQ(os_.FullPath(""), std::nullopt);
  const std::string long_name(300, 'x');
  EXPECT_EQ(os_.FullPath(long_name), cwd + "/" + long_name);
}

TEST_F(PosixOsTest, QueryAttributesTellsFilesDirectoriesAndWhyAQueryFailed) {
  WriteFile("file.txt", "x");
  fs::create_directory("dir");
  struct Case {
    const char* name;
    bool ok;
    bool directory;
    std::uint32_t error;
  };
  const Case cases[] = {
      {"file.txt", true, false, 0},
      {"dir", true, true, 0},
      {"missing.txt", false, false, err::kFileNotFound},
      {"", false, false, err::kFileNotFound},
      {"file.txt/inner", false, false, err::kPathNotFound},
      {"*.txt", false, false, err::kFileNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Attributes a = os_.QueryAttributes(c.name);
    EXPECT_EQ(a.ok, c.ok);
    EXPECT_EQ(a.directory, c.directory);
    EXPECT_EQ(a.error, c.error);
  }
}

TEST_F(PosixOsTest, KindOfTellsRegularFilesTerminalsAndEverythingElse) {
  const int file = open("k.txt", O_RDWR | O_CREAT, 0644);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const int null_device = open("/dev/null", O_RDONLY);
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_EQ(os_.KindOf(file), FileKind::kDisk);
  EXPECT_EQ(os_.KindOf(pipe_fds[0]), FileKind::kPipe);
  EXPECT_EQ(os_.KindOf(null_device), FileKind::kPipe);
  if (terminal != -1) {
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const int secondary = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    EXPECT_EQ(os_.KindOf(secondary), FileKind::kConsole);
    close(secondary);
    close(terminal);
  }
  for (int fd : {file, pipe_fds[0], pipe_fds[1], null_device}) close(fd);
}

TEST_F(PosixOsTest, ReadWriteAndSeekBackOnADiskFile) {
  const Handle file = open("rw.txt", O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_NE(file, kInvalidHandle);
  const IoResult put = os_.Write(file, "abcdef", 6);
  EXPECT_TRUE(put.ok);
  EXPECT_EQ(put.bytes, 6u);
  ASSERT_EQ(lseek(static_cast<int>(file), 0, SEEK_SET), 0);
  char buffer[16] = {};
  IoResult got = os_.Read(file, buffer, 4);
  EXPECT_TRUE(got.ok);
  EXPECT_EQ(std::string(buffer, got.bytes), "abcd");
  EXPECT_TRUE(os_.SeekBack(file, 2));
  got = os_.Read(file, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, got.bytes), "cdef");
  got = os_.Read(file, buffer, sizeof buffer);
  EXPECT_TRUE(got.ok);  // end of the file: a successful read of nothing
  EXPECT_EQ(got.bytes, 0u);
  EXPECT_FALSE(os_.SeekBack(file, 100));  // before the start of the file
  close(static_cast<int>(file));

  got = os_.Read(file, buffer, sizeof buffer);  // the descriptor is closed now
  EXPECT_FALSE(got.ok);
  EXPECT_EQ(got.error, 6u);
}

TEST_F(PosixOsTest, WriteToAPipeWithoutReaderFailsWithBrokenPipeInsteadOfEndingTheProcess) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  close(pipe_fds[0]);
  const IoResult put = os_.Write(pipe_fds[1], "x", 1);
  EXPECT_FALSE(put.ok);
  EXPECT_EQ(put.error, err::kBrokenPipe);
  close(pipe_fds[1]);
}

TEST_F(PosixOsTest, AClosedStandardDescriptorHasNoHandle) {
  const int saved = dup(STDIN_FILENO);
  ASSERT_NE(saved, -1);
  close(STDIN_FILENO);
  const Handle missing = os_.StdHandle(StdStream::kInput);
  dup2(saved, STDIN_FILENO);
  close(saved);
  EXPECT_EQ(missing, kInvalidHandle);
  EXPECT_EQ(os_.StdHandle(StdStream::kInput), 0);
  EXPECT_EQ(os_.StdHandle(StdStream::kOutput), 1);
}

TEST_F(PosixOsTest, EnvironmentValuesAsSetUnsetOrEmpty) {
  ASSERT_EQ(setenv("PAGEOUT_OS_TEST", "a value", 1), 0);
  EXPECT_EQ(os_.GetEnv("PAGEOUT_OS_TEST"), "a value");
  ASSERT_EQ(setenv("PAGEOUT_OS_TEST", "", 1), 0);
  EXPECT_EQ(os_.GetEnv("PAGEOUT_OS_TEST"), "");
  ASSERT_EQ(unsetenv("PAGEOUT_OS_TEST"), 0);
  EXPECT_EQ(os_.GetEnv("PAGEOUT_OS_TEST"), std::nullopt);
  EXPECT_TRUE(os_.IsNtFamily());
}

TEST_F(PosixOsTest, StartAndWaitRunsTheProgramWithExactlyTheArgumentsGiven) {
  // The script exits 3 only when it received its two arguments unchanged.
  const ChildResult r = os_.StartAndWait(
      "/bin/sh",
      {"/bin/sh", "-c", "[ \"$0\" = 'zero' ] && [ \"$1\" = \"  a 'b' ; c\" ] && exit 3; exit 9",
       "zero", "  a 'b' ; c"},
      "ignored on POSIX");
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, 3);
}

TEST_F(PosixOsTest, StartAndWaitReportsExitCodesSignalsAndStartFailures) {
  WriteFile("not_executable", "#!/bin/sh\nexit 0\n");
  WriteFile("no_format",
            "\x7f"
            "garbage that is no program\n");
  chmod("no_format", 0755);
  fs::create_directory("a_directory");

  struct Case {
    const char* program;
    const char* script;
    bool started;
    int exit_code;
    std::uint32_t error;
  };
  const Case cases[] = {
      {"/bin/sh", "exit 7", true, 7, 0},
      {"/bin/sh", "exit 255", true, 255, 0},
      {"/bin/sh", "kill -TERM $$", true, 128 + SIGTERM, 0},
      {"./missing", "", false, -1, err::kFileNotFound},
      {"./not_executable", "", false, -1, err::kAccessDenied},
      {"./a_directory", "", false, -1, err::kAccessDenied},
      {"./no_format", "", false, -1, err::kBadExeFormat},
      {"./missing_dir/sh", "", false, -1, err::kFileNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    SCOPED_TRACE(c.script);
    const ChildResult r = os_.StartAndWait(c.program, {c.program, "-c", c.script}, "");
    EXPECT_EQ(r.started, c.started);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.error, c.error);
  }
}

TEST_F(PosixOsTest, TheChildGetsDefaultSignalHandlingAndNoBlockedSignals) {
  // The program ignores SIGPIPE for itself and may block signals on its own threads; the child is
  // started as a shell would start it, so both signals end it.
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigset_t previous;
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &previous), 0);
  const ChildResult term =
      os_.StartAndWait("/bin/sh", {"/bin/sh", "-c", "kill -TERM $$; exit 0"}, "");
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  EXPECT_EQ(term.exit_code, 128 + SIGTERM);

  const ChildResult pipe_signal =
      os_.StartAndWait("/bin/sh", {"/bin/sh", "-c", "kill -PIPE $$; exit 0"}, "");
  EXPECT_EQ(pipe_signal.exit_code, 128 + SIGPIPE);
}

TEST_F(PosixOsTest, TheChildInheritsTheStandardDescriptorsAndTheirPosition) {
  WriteFile("lines.txt", "first\nsecond\n");
  const int saved = dup(STDIN_FILENO);
  const int input = open("lines.txt", O_RDONLY);
  dup2(input, STDIN_FILENO);
  close(input);
  char byte = 0;
  std::string first;
  while (read(STDIN_FILENO, &byte, 1) == 1 && byte != '\n') first += byte;
  const ChildResult r = os_.StartAndWait(
      "/bin/sh", {"/bin/sh", "-c", "read line; [ \"$line\" = second ] && exit 4; exit 9"}, "");
  dup2(saved, STDIN_FILENO);
  close(saved);
  EXPECT_EQ(first, "first");
  EXPECT_EQ(r.exit_code, 4);
}

}  // namespace
}  // namespace pageout::platform
