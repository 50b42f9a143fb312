#include "platform/errors_posix.h"

#include <cerrno>

#include "platform/os.h"

namespace pageout::platform {
namespace {

struct Pair {
  int errno_value;
  std::uint32_t code;
};

// Where two errno values share a code, the first one listed is the one the code turns back into.
// The interrupted call stands for the aborted operation: on Win32 an interrupt key makes a waiting
// console read fail with ERROR_OPERATION_ABORTED, and a signal does the same to a read here.
constexpr Pair kPairs[] = {
    {ENOENT, err::kFileNotFound},
    {ENOTDIR, err::kPathNotFound},
    {EMFILE, 4},  // ERROR_TOO_MANY_OPEN_FILES
    {EACCES, err::kAccessDenied},
    {EPERM, err::kAccessDenied},
    {EISDIR, err::kAccessDenied},
    {EBADF, 6},  // ERROR_INVALID_HANDLE
    {ENOMEM, err::kNotEnoughMemory},
    {EXDEV, 17},    // ERROR_NOT_SAME_DEVICE
    {EROFS, 19},    // ERROR_WRITE_PROTECT
    {ETXTBSY, 32},  // ERROR_SHARING_VIOLATION
    {EEXIST, 80},   // ERROR_FILE_EXISTS
    {EINVAL, 87},   // ERROR_INVALID_PARAMETER
    {EPIPE, err::kBrokenPipe},
    {ENOSPC, 112},        // ERROR_DISK_FULL
    {ENAMETOOLONG, 206},  // ERROR_FILENAME_EXCED_RANGE
    {ENOEXEC, err::kBadExeFormat},
    {EINTR, err::kOperationAborted},
    {ECANCELED, err::kOperationAborted},
};

}  // namespace

std::uint32_t ErrorFromErrno(int errno_value) {
  if (errno_value == 0) return 0;
  for (const Pair& pair : kPairs) {
    if (pair.errno_value == errno_value) return pair.code;
  }
  return err::kPosixErrnoBase | static_cast<std::uint32_t>(errno_value);
}

int ErrnoFromError(std::uint32_t code) {
  if (code == 0) return 0;
  if ((code & err::kPosixErrnoBase) != 0) {
    const std::uint32_t value = code & ~err::kPosixErrnoBase;
    return value > 0 && value < 0x10000u ? static_cast<int>(value) : 0;
  }
  for (const Pair& pair : kPairs) {
    if (pair.code == code) return pair.errno_value;
  }
  return 0;
}

}  // namespace pageout::platform
