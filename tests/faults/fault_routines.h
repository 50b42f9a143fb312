// Routines that fault on purpose, for the program that runs one of them under the start-up and the
// main guard of pageout.
#pragma once

#include <span>

namespace pageout::fault_tests {

struct FaultRoutine {
  const char* name;
  void (*run)();
};

// The routines every platform has, and those of this platform.
std::span<const FaultRoutine> CommonRoutines();
std::span<const FaultRoutine> PlatformRoutines();

// Raises the exception or signal named by a routine argument that the tables lack; false when the
// platform has no such kind of argument ("raise-<hex code>" on Win32).
bool RunNamedRaise(const char* name);

// Turns every floating-point exception of the x87 and SSE units into a trap (the state start-up
// must undo).
void UnmaskFloatingPointExceptions();

}  // namespace pageout::fault_tests
