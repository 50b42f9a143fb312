// A fault (processor or platform exception) as the main guard caught it, handed to the diagnostic
// that reports it and to the traceback walk that starts at the faulting instruction.
#pragma once

#include <cstdint>

namespace pageout::platform {

struct FaultContext {
  std::uint32_t code = 0;             // the Win32 exception code (POSIX: the matching code)
  const void* os_record = nullptr;    // EXCEPTION_RECORD* on Win32, siginfo_t* on POSIX
  const void* os_context = nullptr;   // CONTEXT* on Win32, ucontext_t* on POSIX
};

}  // namespace pageout::platform
