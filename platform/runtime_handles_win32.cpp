#include "platform/runtime_handles_win32.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include <cstdint>

namespace pageout::platform {
namespace {

// The run-time keeps at most this many low-level handles; the table covers them all.
constexpr int kRuntimeHandleLimit = 2048;

// Asking the run-time about a handle number it does not use is a parameter error, which must not
// end the process while the slots are collected.
void IgnoreInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                            uintptr_t) {}

}  // namespace

std::vector<HandleSlot> RuntimeHandleSlots() {
  const _invalid_parameter_handler previous =
      _set_invalid_parameter_handler(IgnoreInvalidParameter);
  std::vector<HandleSlot> slots;
  int last_open = -1;
  for (int fd = 0; fd < kRuntimeHandleLimit; ++fd) {
    HandleSlot slot;
    const intptr_t os_handle = _get_osfhandle(fd);
    // Unused numbers give -1; the standard numbers of a process without that standard handle
    // give -2 or 0.
    if (os_handle != -1 && os_handle != -2 && os_handle != 0) {
      const HANDLE handle = reinterpret_cast<HANDLE>(os_handle);
      DWORD information = 0;
      slot.handle = static_cast<std::uint32_t>(os_handle);
      slot.inheritable = GetHandleInformation(handle, &information) != 0 &&
                         (information & HANDLE_FLAG_INHERIT) != 0;
      slot.flags = handle_flag::kOpen;
      const DWORD type = GetFileType(handle);
      if (type == FILE_TYPE_CHAR) slot.flags |= handle_flag::kDevice;
      if (type == FILE_TYPE_PIPE) slot.flags |= handle_flag::kPipe;
      // The run-time has no query for a handle's mode; setting one returns the mode it replaces.
      const int mode = _setmode(fd, _O_BINARY);
      if (mode != -1) {
        _setmode(fd, mode);
        if ((mode & _O_TEXT) != 0) slot.flags |= handle_flag::kText;
      }
      last_open = fd;
    }
    slots.push_back(slot);
  }
  _set_invalid_parameter_handler(previous);
  slots.resize(static_cast<std::size_t>(last_open + 1));
  return slots;
}

}  // namespace pageout::platform
