// Faults only POSIX can raise on demand: alignment checks, a bus error on a mapped file past its
// end, a fault on a thread the guard does not cover, and signals the program queues to itself with
// the codes the kernel would give a fault it cannot be made to raise here.
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/faults/fault_routines.h"

#define PAGEOUT_FAULTING __attribute__((noinline, no_sanitize("address,undefined")))

namespace pageout::fault_tests {
namespace {

// Sets the alignment-check flag, which Linux honours in user mode, and reads a misaligned word.
PAGEOUT_FAULTING void MisalignedAccess() {
  alignas(16) static char buffer[32];
#if defined(__x86_64__)
  __asm__ volatile("pushfq\n\torq $0x40000, (%%rsp)\n\tpopfq" : : : "memory", "cc");
#else
  __asm__ volatile("pushfl\n\torl $0x40000, (%%esp)\n\tpopfl" : : : "memory", "cc");
#endif
  volatile int value = *reinterpret_cast<volatile int*>(buffer + 1);
  (void)value;
}

// A page mapped from an empty file has no data behind it.
PAGEOUT_FAULTING void BusError() {
  char name[] = "/tmp/pageout-fault-XXXXXX";
  const int fd = mkstemp(name);
  if (fd == -1) return;
  unlink(name);
  void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (page == MAP_FAILED) return;
  *static_cast<volatile char*>(page) = 1;
}

PAGEOUT_FAULTING void* WriteNull(void*) {
  volatile int* volatile pointer = nullptr;
  *pointer = 1;
  return nullptr;
}

void FaultOnAnotherThread() {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, WriteNull, nullptr) == 0) pthread_join(thread, nullptr);
}

// Queues signal with the given code to the calling thread, as the kernel would deliver a fault.
void Queue(int signal, int code) {
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  info.si_signo = signal;
  info.si_code = code;
  info.si_pid = getpid();
  info.si_uid = getuid();
  syscall(SYS_rt_tgsigqueueinfo, getpid(), static_cast<pid_t>(syscall(SYS_gettid)), signal, &info);
}

constexpr FaultRoutine kPosix[] = {
    {"misaligned-access", &MisalignedAccess},
    {"bus-error", &BusError},
    {"fault-on-another-thread", &FaultOnAnotherThread},
    {"queued-privileged-opcode", [] { Queue(SIGILL, ILL_PRVOPC); }},
    {"queued-privileged-register", [] { Queue(SIGILL, ILL_PRVREG); }},
    {"queued-integer-overflow", [] { Queue(SIGFPE, FPE_INTOVF); }},
    {"queued-float-divide-by-zero", [] { Queue(SIGFPE, FPE_FLTDIV); }},
    {"queued-float-subscript", [] { Queue(SIGFPE, FPE_FLTSUB); }},
    {"queued-bus-address-error", [] { Queue(SIGBUS, BUS_ADRERR); }},
};

}  // namespace

std::span<const FaultRoutine> PlatformRoutines() { return kPosix; }

bool RunNamedRaise(const char*) { return false; }

}  // namespace pageout::fault_tests
