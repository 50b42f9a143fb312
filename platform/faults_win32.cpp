#include "platform/faults.h"

#include <windows.h>

namespace pageout::platform {
namespace {

// --- Console control events ---------------------------------------------------------------------

ControlHandler g_control_handler = nullptr;

ControlEvent EventFor(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT: return ControlEvent::kCtrlC;
    case CTRL_BREAK_EVENT: return ControlEvent::kCtrlBreak;
    case CTRL_CLOSE_EVENT: return ControlEvent::kConsoleClosed;
    default: return ControlEvent::kOther;
  }
}

DWORD g_main_thread_id = 0;
HANDLE g_main_thread = nullptr;

DWORD WINAPI EndAfterGrace(LPVOID status) {
  Sleep(kStopGraceSeconds * 1000u);
  ExitProcess(static_cast<UINT>(reinterpret_cast<INT_PTR>(status)));
}

// Set as soon as the console's thread for an event the handler takes has started.
LONG volatile g_control_arrived = 0;

// How long the main thread waits for the console's thread after a command that Ctrl+C ended: the
// console starts the threads for the event in each of its processes in no fixed order.
constexpr DWORD kControlArrivalMilliseconds = 2000;
constexpr DWORD kControlArrivalStep = 10;

// The console calls this on a thread it creates for the event. FALSE passes the event on to the
// next handler in the chain, in the end the default one that ends the process.
BOOL WINAPI OnControlEvent(DWORD type) {
  if (g_control_handler == nullptr) return FALSE;
  if (EventFor(type) != ControlEvent::kOther) InterlockedExchange(&g_control_arrived, 1);
  return g_control_handler(EventFor(type)) ? TRUE : FALSE;
}

// --- Fault guard ----------------------------------------------------------------------------------

FaultHandler g_fault_handler = nullptr;
DWORD g_guarded_thread = 0;
LONG volatile g_reporting = 0;

// Room the system keeps on the thread's stack for the exception dispatch after a stack overflow.
constexpr ULONG kStackGuarantee = 64 * 1024;
// The stack of the thread that reports a stack overflow.
constexpr SIZE_T kReporterStackSize = 1024 * 1024;

DWORD WINAPI ReportOnOwnStack(LPVOID parameter) {
  g_fault_handler(*static_cast<const FaultContext*>(parameter));
  return 0;
}

// Every exception that no frame handles ends here: access violations, divide faults, illegal
// instructions, breakpoints and RaiseException alike, with the record and register state of the
// faulting instruction. GCC has no frame-based handlers, so on the guarded thread that is every
// exception.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  if (g_fault_handler == nullptr || GetCurrentThreadId() != g_guarded_thread ||
      InterlockedExchange(&g_reporting, 1) != 0) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  FaultContext fault;
  fault.code = pointers->ExceptionRecord->ExceptionCode;
  fault.os_record = pointers->ExceptionRecord;
  fault.os_context = pointers->ContextRecord;
  if (fault.code == EXCEPTION_STACK_OVERFLOW) {
    // The overflowed stack holds little more than the dispatch of this exception: the report and
    // its stack walk run on a thread with a stack of its own while this one waits. The record and
    // the register state stay valid on this thread's stack meanwhile.
    HANDLE reporter = CreateThread(nullptr, kReporterStackSize, ReportOnOwnStack, &fault,
                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (reporter != nullptr) {
      WaitForSingleObject(reporter, INFINITE);
      CloseHandle(reporter);
      return EXCEPTION_CONTINUE_SEARCH;
    }
  }
  g_fault_handler(fault);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallControlHandler(ControlHandler handler) {
  g_control_handler = handler;
  g_main_thread_id = GetCurrentThreadId();
  g_main_thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, g_main_thread_id);
  SetLastError(0);
  SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

void StopMainThread(int exit_status) {
  if (g_main_thread == nullptr || GetCurrentThreadId() == g_main_thread_id) return;
  if (SuspendThread(g_main_thread) == static_cast<DWORD>(-1)) return;
  // SuspendThread only asks; reading the thread's registers waits until it has stopped.
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  GetThreadContext(g_main_thread, &context);
  // The bound is kept by a thread of its own, since it is this thread that may hang in the report.
  HANDLE watchdog = CreateThread(nullptr, 64 * 1024, EndAfterGrace,
                                 reinterpret_cast<LPVOID>(static_cast<INT_PTR>(exit_status)),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (watchdog != nullptr) CloseHandle(watchdog);
}

void EndProcessNow(int status) { ExitProcess(static_cast<UINT>(status)); }

void HoldForControlEvent(int command_status) {
  if (g_control_handler == nullptr || GetCurrentThreadId() != g_main_thread_id) return;
  // A command that Ctrl+C ended says so in its status; the console's thread for this process may
  // still be on its way, so it gets a short while to arrive.
  if (static_cast<DWORD>(command_status) == STATUS_CONTROL_C_EXIT) {
    for (DWORD waited = 0; waited < kControlArrivalMilliseconds && g_control_arrived == 0;
         waited += kControlArrivalStep) {
      Sleep(kControlArrivalStep);
    }
  }
  if (g_control_arrived == 0) return;
  // The handler suspends this thread and ends the process.
  for (;;) Sleep(INFINITE);
}

void RunGuarded(void (*body)(void* context), void* context, FaultHandler handler) {
  g_fault_handler = handler;
  g_guarded_thread = GetCurrentThreadId();
  ULONG guarantee = kStackGuarantee;
  SetThreadStackGuarantee(&guarantee);
  // Faults are reported on standard error, never in a dialog box.
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(OnUnhandledException);
  body(context);
}

}  // namespace pageout::platform
