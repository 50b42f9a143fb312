#include "tests/traceback/probe_hook.h"

#include <signal.h>

namespace pageout::tests {
namespace {

ProbeFaultHandler g_handler = nullptr;

void OnSegv(int, siginfo_t* info, void* context) {
  platform::FaultContext fault;
  fault.code = 0xC0000005u;
  fault.os_record = info;
  fault.os_context = context;
  g_handler(fault);
}

}  // namespace

void InstallProbeFaultHook(ProbeFaultHandler handler) {
  g_handler = handler;
  struct sigaction action {};
  action.sa_sigaction = OnSegv;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, nullptr);
}

}  // namespace pageout::tests
