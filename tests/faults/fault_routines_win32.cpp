// Exceptions only Win32 can raise on demand: any code, through RaiseException.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "tests/faults/fault_routines.h"

namespace pageout::fault_tests {

std::span<const FaultRoutine> PlatformRoutines() { return {}; }

// "raise-<hex code>" raises that code, non-continuable, without parameters.
bool RunNamedRaise(const char* name) {
  constexpr char kPrefix[] = "raise-";
  if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return false;
  const unsigned long code = std::strtoul(name + sizeof kPrefix - 1, nullptr, 16);
  RaiseException(static_cast<DWORD>(code), EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return true;
}

}  // namespace pageout::fault_tests
