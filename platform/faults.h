// Console control events, the floating-point exception masks and the fault guard: the parts of
// start-up that reach into the platform's signal or exception machinery. No OS type appears here.
#pragma once

#include "platform/fault_context.h"

namespace pageout::platform {

// A console control event. On POSIX the signals stand in for them: SIGINT is Ctrl+C, SIGQUIT is
// Ctrl+Break and SIGHUP is the closing of the console.
enum class ControlEvent {
  kCtrlC,
  kCtrlBreak,
  kConsoleClosed,
  kOther,  // log-off, shut-down and any event the platform adds
};

// Called once for each console control event, on a thread that is not the main thread. Returns
// false to decline the event, which then gets the platform's default handling; a handler that
// accepts an event ends the process and does not return.
using ControlHandler = bool (*)(ControlEvent event);

// Clears the platform's last-error code and installs handler for the console control events.
// Call it once, on the main thread, before any other thread exists: on POSIX it blocks SIGINT,
// SIGQUIT and SIGHUP in the calling thread (every thread created later inherits that mask) and
// starts the one thread that waits for them; children started by Os::StartAndWait get an empty
// mask back. A signal the process was started with ignored (a background job, nohup) stays
// ignored, as a Win32 process started with Ctrl+C disabled keeps it disabled. SIGTERM keeps its
// default.
void InstallControlHandler(ControlHandler handler);

// Keeps the thread that installed the control handler (the main thread) from running on: called by
// a control handler that accepts an event, before it reports and ends the process, so that the main
// thread starts no further command and writes nothing more, whatever it was waiting for. The main
// thread stays where it was until the process ends. The main thread may have been stopped holding
// a lock that the report then waits for forever (the heap's, say, in the middle of its own
// diagnostic after a read cut short by Ctrl+C): should the process still run kStopGraceSeconds
// later, it is ended with exit_status all the same. Does nothing when called on the main thread.
constexpr unsigned kStopGraceSeconds = 5;
void StopMainThread(int exit_status);

// Called on the main thread when a command it waited for has ended, before it goes on. A control
// event that arrived meanwhile (the Ctrl+C that ended the command reaches the program too) is
// being handled on the control thread, which may not have run yet: this waits there for the
// handler to stop the main thread and end the process, so that no further command starts. Returns
// at once when no event has arrived. command_status is the command's exit status, which on Win32
// tells a command ended by Ctrl+C.
void HoldForControlEvent(int command_status);

// Ends the process at once with status, without running exit handlers or destructors: the end of a
// process whose main thread has been stopped and may hold anything the ordinary exit would tear
// down. The program's output is never buffered in the process, so nothing is lost.
[[noreturn]] void EndProcessNow(int status);

// Masks the floating-point exceptions of the calling thread, so that they yield their default
// results (infinities, NaNs, rounded values) instead of faulting: on the x87 unit invalid
// operation, divide by zero, overflow, underflow and inexact result; on the SSE unit all six. On
// other processors every trap the floating-point environment offers is disabled.
void MaskFloatingPointExceptions();

// Receives a fault caught by the guard, on the faulting thread (POSIX: on an alternate signal
// stack; Win32: on a thread of its own after a stack overflow). It must end the process; should it
// return, the fault gets the platform's default handling.
using FaultHandler = void (*)(const FaultContext& fault);

// Calls body; every processor or platform exception raised on the calling thread while the
// process runs is handed to handler with its exception code (the Win32 code; on POSIX the code of
// the matching Win32 exception), its record and its register state. On POSIX the mapping is:
//   SIGSEGV                    0xC0000005 access violation; 0xC00000FD stack overflow when the
//                              address lies in the guard area below the calling thread's stack;
//                              0xC0000096 privileged instruction when the kernel raised it for
//                              an instruction only the kernel may execute (x86)
//   SIGBUS  BUS_ADRALN         0x80000002 datatype misalignment; any other SIGBUS 0xC0000006
//   SIGTRAP TRAP_TRACE         0x80000004 single step; any other SIGTRAP 0x80000003 breakpoint
//   SIGILL  ILL_PRVOPC/PRVREG  0xC0000096 privileged instruction; any other SIGILL 0xC000001D
//   SIGFPE  FPE_INTDIV         0xC0000094, FPE_INTOVF 0xC0000095, and the floating-point codes
//                              their Win32 counterparts (0xC000008C to 0xC0000093)
// Returns when body returns; call it once.
void RunGuarded(void (*body)(void* context), void* context, FaultHandler handler);

}  // namespace pageout::platform
