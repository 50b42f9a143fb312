// The narrow operating-system interface under PAGEOUT.
//
// Everything the program decides (record templates, line reading, name checks, interpreter choice,
// failure classes, diagnostics) is neutral code written against this interface. The real
// implementation lives in the *_posix.cpp and *_win32.cpp files of this folder; unit tests drive the
// neutral code through a fake. No OS type appears here.
//
// Error vocabulary: every error code that crosses this interface is a Win32 error code. The POSIX
// implementation maps errno values onto the matching codes in one place (errors_posix.cpp), so the
// neutral code classifies failures one way on every platform. An errno without a Win32 counterpart
// travels as kPosixErrnoBase | errno, a code no Win32 call returns; SystemMessage turns every code
// back into the system's own text for the errno it came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pageout::platform {

// Win32 error codes the neutral code looks at by name.
namespace err {
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kNotEnoughMemory = 8;
constexpr std::uint32_t kHandleEof = 38;
constexpr std::uint32_t kBrokenPipe = 109;
constexpr std::uint32_t kBadExeFormat = 193;
constexpr std::uint32_t kOperationAborted = 995;
constexpr std::uint32_t kPosixErrnoBase = 0x20000000;  // the Win32 "application-defined" bit
}  // namespace err

// An opaque OS handle (a HANDLE on Win32, a file descriptor on POSIX).
using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

enum class StdStream { kInput, kOutput, kError };

// What a handle is connected to. A terminal is the console kind, a regular file the disk kind, and
// anything else (pipes, sockets, character devices other than terminals) the pipe kind.
enum class FileKind { kConsole, kDisk, kPipe };

// The platform the program runs on, for the few texts that differ between hosts.
enum class Host { kWindows, kLinux, kMac };

struct IoResult {
  bool ok = false;            // the call succeeded (possibly with 0 bytes)
  std::size_t bytes = 0;      // bytes transferred when ok
  std::uint32_t error = 0;    // Win32 error code when !ok
};

struct Attributes {
  bool ok = false;            // the query succeeded
  bool directory = false;     // valid when ok
  std::uint32_t error = 0;    // Win32 error code when !ok
};

struct ChildResult {
  bool started = false;       // the child process was created
  std::int32_t exit_code = -1;  // valid when started
  std::uint32_t error = 0;    // Win32 error code when !started
};

class Os {
 public:
  virtual ~Os() = default;

  virtual Host host() const = 0;

  // --- Console channels -------------------------------------------------------------------------
  // The process's standard handle, or kInvalidHandle when there is none (a closed standard fd).
  virtual Handle StdHandle(StdStream stream) = 0;
  // Opens the console device in place of a missing standard handle ("CONIN$"/"CONOUT$" on Win32,
  // /dev/tty on POSIX). Returns kInvalidHandle and sets *error on failure.
  virtual Handle OpenConsoleDevice(StdStream stream, std::uint32_t* error) = 0;
  virtual FileKind KindOf(Handle handle) = 0;
  // One read call; ok with 0 bytes is what the platform reports as end of input.
  virtual IoResult Read(Handle handle, void* buffer, std::size_t size) = 0;
  // One write call of the whole block.
  virtual IoResult Write(Handle handle, const void* buffer, std::size_t size) = 0;
  // Moves the file position of a disk-file handle back by count bytes.
  virtual bool SeekBack(Handle handle, std::uint64_t count) = 0;
  // Gives up the rest of the current time slice once.
  virtual void YieldTimeSlice() = 0;

  // --- File system ------------------------------------------------------------------------------
  // The absolute form of name against the current directory, without resolving links; nullopt when
  // the platform cannot form it. May be longer than any limit: callers apply their own.
  virtual std::optional<std::string> FullPath(const std::string& name) = 0;
  virtual Attributes QueryAttributes(const std::string& name) = 0;

  // --- Environment and child processes ----------------------------------------------------------
  // The value of an environment variable as the process received it; nullopt when unset. On Win32
  // names compare without regard to case.
  virtual std::optional<std::string> GetEnv(const std::string& name) = 0;
  // Whether the system belongs to the NT family (always true on POSIX).
  virtual bool IsNtFamily() = 0;
  // Creates a child from program (a path), passing command_line on Win32 and args as its argument
  // vector on POSIX, with the standard handles inherited and the current directory and environment
  // of the process; waits without a time limit and returns the child's exit code. A child ended by
  // a signal on POSIX reports 128 + the signal number.
  virtual ChildResult StartAndWait(const std::string& program, const std::vector<std::string>& args,
                                   const std::string& command_line) = 0;

  // --- Ending the process -----------------------------------------------------------------------
  // Raw write of bytes to the standard error handle; failures are ignored.
  virtual void WriteStandardError(const char* bytes, std::size_t size) = 0;
  // The system's message text for an error code, with the line end the system's text has
  // (FormatMessageA on Win32; on POSIX strerror of the errno the code came from, followed by CR LF
  // like the Win32 texts); nullopt when the system has none.
  virtual std::optional<std::string> SystemMessage(std::uint32_t error) = 0;
  // Ends the process through the ordinary process exit.
  [[noreturn]] virtual void Exit(int status) = 0;
};

// The real operating system of this build.
Os& System();

}  // namespace pageout::platform
