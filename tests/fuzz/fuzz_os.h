// The unit tests' fake platform with the few knobs the fuzz targets turn: read calls that deliver
// fewer bytes than asked, a failing read or write at a chosen call, and record buffers that refuse
// to grow beyond a limit. A failed check ends the target with a message and abort(), which the
// fuzzer reports with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/fake_os.h"

namespace pageout::fuzz {

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

class FuzzOs : public testing::FakeOs {
 public:
  using FakeOs::FakeOs;

  // Read call n (from 0) delivers at most read_caps[n] bytes; calls beyond the list are not
  // capped. A cap of 0 makes the call report end of input.
  std::vector<std::size_t> read_caps;
  // Read call number fail_read_at fails with fail_read_error.
  std::optional<std::size_t> fail_read_at;
  std::uint32_t fail_read_error = 0;
  // Write call number fail_write_at, and every later one, fails with fail_write_error.
  std::optional<std::size_t> fail_write_at;
  std::uint32_t fail_write_error = 0;

  std::size_t read_calls = 0;
  std::size_t write_calls = 0;

  platform::IoResult Read(platform::Handle handle, void* buffer, std::size_t size) override {
    const std::size_t call = read_calls++;
    if (fail_read_at && call == *fail_read_at) {
      inputs[handle].requests.push_back(size);
      return {false, 0, fail_read_error};
    }
    if (call < read_caps.size()) {
      if (read_caps[call] == 0) {
        inputs[handle].requests.push_back(size);
        return {true, 0, 0};
      }
      if (read_caps[call] < size) size = read_caps[call];
    }
    return FakeOs::Read(handle, buffer, size);
  }

  platform::IoResult Write(platform::Handle handle, const void* buffer, std::size_t size) override {
    const std::size_t call = write_calls++;
    if (fail_write_at && call >= *fail_write_at) return {false, 0, fail_write_error};
    return FakeOs::Write(handle, buffer, size);
  }
};

// Record buffers through realloc, refusing every size above the limit; the largest size asked for
// is kept, so that a target can check that memory stays bounded by the longest line.
struct BufferLimit {
  static inline std::size_t limit = SIZE_MAX;
  static inline std::size_t largest = 0;
  static void* Resize(void* block, std::size_t size) {
    if (size > largest) largest = size;
    if (size > limit) return nullptr;
    return std::realloc(block, size);
  }
  static void Reset(std::size_t new_limit) {
    limit = new_limit;
    largest = 0;
  }
};

// The Win32 error codes a failing call may carry in the targets.
inline constexpr std::uint32_t kSomeErrors[] = {
    platform::err::kHandleEof,         platform::err::kBrokenPipe,
    platform::err::kOperationAborted,  platform::err::kAccessDenied,
    platform::err::kNotEnoughMemory,   6 /* invalid handle */,
    platform::err::kPosixErrnoBase | 5 /* EIO */};

}  // namespace pageout::fuzz
