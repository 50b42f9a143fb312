#include "tests/traceback/probe_hook.h"

#include <windows.h>

namespace pageout::tests {
namespace {

ProbeFaultHandler g_handler = nullptr;

LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  platform::FaultContext fault;
  fault.code = pointers->ExceptionRecord->ExceptionCode;
  fault.os_record = pointers->ExceptionRecord;
  fault.os_context = pointers->ContextRecord;
  g_handler(fault);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallProbeFaultHook(ProbeFaultHandler handler) {
  g_handler = handler;
  AddVectoredExceptionHandler(0, OnException);
}

}  // namespace pageout::tests
