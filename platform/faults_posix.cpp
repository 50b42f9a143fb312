#include "platform/faults.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#if defined(__linux__)
#include <sys/signalfd.h>
#endif
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace pageout::platform {
namespace {

// --- Console control events ---------------------------------------------------------------------

ControlHandler g_control_handler = nullptr;
sigset_t g_control_signals;  // the control signals the waiting thread takes

constexpr int kControlSignals[] = {SIGINT, SIGQUIT, SIGHUP};

bool StartedIgnored(int signal) {
  struct sigaction current {};
  return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// The main thread is stopped by a signal of its own: its handler tells the stopping thread that it
// runs, then waits with every signal blocked for the process to end. A blocking call the main
// thread was in (a read, the wait for a child) is left for good.
pthread_t g_main_thread;
int g_stop_signal = 0;
sem_t g_main_stopped;

// Gives signal its default action and sends it to the calling thread again, where it takes effect
// as soon as the handler that calls this returns.
void EndByDefault(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  pthread_kill(pthread_self(), signal);
}

void OnStop(int signal, siginfo_t* info, void*) {
  // Only the program's own control thread stops the main thread; the signal from anyone else keeps
  // its default meaning.
  if (info->si_code != SI_TKILL || info->si_pid != getpid()) {
    EndByDefault(signal);
    return;
  }
  sem_post(&g_main_stopped);
  sigset_t all;
  sigfillset(&all);
  for (;;) sigsuspend(&all);
}

void* EndAfterGrace(void* status) {
  for (unsigned left = kStopGraceSeconds; left > 0;) left = sleep(left);
  _exit(static_cast<int>(reinterpret_cast<std::intptr_t>(status)));
}

ControlEvent EventFor(int signal) {
  switch (signal) {
    case SIGINT: return ControlEvent::kCtrlC;
    case SIGQUIT: return ControlEvent::kCtrlBreak;
    case SIGHUP: return ControlEvent::kConsoleClosed;
    default: return ControlEvent::kOther;
  }
}

// Set by the control thread once a control signal has arrived for it, before the signal leaves the
// pending set: a signal sent before a given moment is therefore either still pending or seen here.
std::atomic<bool> g_control_arrived{false};

int g_control_descriptor = -1;

// The descriptor the control signals are read from, or -1 where there is none. It never takes the
// place of a closed standard descriptor, which the console channels open a terminal into.
int OpenControlDescriptor() {
#if defined(__linux__)
  const int descriptor = signalfd(-1, &g_control_signals, SFD_CLOEXEC);
  if (descriptor < 0 || descriptor > STDERR_FILENO) return descriptor;
  const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(descriptor);
  return moved;
#else
  return -1;
#endif
}

// Waits for the next control signal and takes it. On Linux the thread first waits for one to be
// pending, records its arrival and only then takes it, so that no moment exists at which the
// signal has been taken but its arrival is not yet known; elsewhere the arrival is recorded as
// soon as sigwait returns.
int TakeControlSignal() {
#if defined(__linux__)
  if (const int descriptor = g_control_descriptor; descriptor >= 0) {
    for (;;) {
      pollfd ready {descriptor, POLLIN, 0};
      if (poll(&ready, 1, -1) != 1) continue;
      g_control_arrived.store(true);
      signalfd_siginfo info {};
      if (read(descriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        return static_cast<int>(info.ssi_signo);
      }
    }
  }
#endif
  for (;;) {
    int signal = 0;
    if (sigwait(&g_control_signals, &signal) != 0) continue;
    g_control_arrived.store(true);
    return signal;
  }
}

// The control signals are blocked in every thread and taken here, so the handler runs as ordinary
// code on a thread of its own, the way the console's handler thread calls it on Windows: it may
// format, write and end the process through exit without the limits of a signal handler.
void* ControlThread(void*) {
  for (;;) {
    const int signal = TakeControlSignal();
    if (g_control_handler != nullptr && g_control_handler(EventFor(signal))) continue;
    // Declined: the signal's default action applies, as it would have without a handler.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    pthread_kill(pthread_self(), signal);
  }
  return nullptr;
}

bool ControlSignalArrived() {
  // The pending set first: a signal that leaves it afterwards has set the flag before it left.
  sigset_t pending;
  if (sigpending(&pending) == 0) {
    for (int signal : kControlSignals) {
      if (sigismember(&g_control_signals, signal) == 1 && sigismember(&pending, signal) == 1) {
        return true;
      }
    }
  }
  return g_control_arrived.load();
}

// --- Fault guard ----------------------------------------------------------------------------------

FaultHandler g_fault_handler = nullptr;
pthread_t g_guarded_thread;
std::uintptr_t g_stack_low = 0;  // the lowest address the guarded thread's stack may reach

// The kernel keeps a gap of unmapped pages below a growing stack (256 pages by default); a fault
// there, or in the first pages of the stack's own lowest reach, is an overflow rather than a stray
// pointer.
constexpr std::uintptr_t kGuardBelow = std::uintptr_t{1} << 20;
constexpr std::uintptr_t kGuardAbove = std::uintptr_t{64} << 10;

// Big enough for the diagnostic writer and the traceback walk, which run on it after a fault.
constexpr std::size_t kAlternateStackSize = std::size_t{512} << 10;

void FindStackBounds() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* address = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attributes, &address, &size) == 0) {
    g_stack_low = reinterpret_cast<std::uintptr_t>(address);
  }
  pthread_attr_destroy(&attributes);
}

bool InStackGuardArea(std::uintptr_t address) {
  if (g_stack_low == 0) return false;
  const std::uintptr_t from = g_stack_low > kGuardBelow ? g_stack_low - kGuardBelow : 0;
  return address >= from && address < g_stack_low + kGuardAbove;
}

// The address of the faulting instruction in the interrupted context, or 0 when unknown.
std::uintptr_t FaultingInstruction(const void* context) {
  const auto* machine = &static_cast<const ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
  return static_cast<std::uintptr_t>(machine->gregs[REG_RIP]);
#elif defined(__i386__)
  return static_cast<std::uintptr_t>(machine->gregs[REG_EIP]);
#else
  (void)machine;
  return 0;
#endif
}

// An x86 instruction that only the kernel may execute (HLT, CLI, STI, port I/O, the control,
// debug and descriptor-table registers, the model-specific registers, cache invalidation). Linux
// reports such an instruction as a SIGSEGV from the kernel without an address, where Windows
// decodes it and raises a privileged-instruction exception.
bool IsPrivilegedInstruction(std::uintptr_t address) {
#if defined(__x86_64__) || defined(__i386__)
  if (address == 0) return false;
  // The instruction was fetched, so its bytes are readable; an instruction has at most 15.
  const auto* byte = reinterpret_cast<const unsigned char*>(address);
  int index = 0;
  auto is_prefix = [](unsigned char b) {
    switch (b) {
      case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65: case 0x66: case 0x67:
      case 0xF0: case 0xF2: case 0xF3:
        return true;
      default:
#if defined(__x86_64__)
        return b >= 0x40 && b <= 0x4F;  // REX
#else
        return false;
#endif
    }
  };
  while (index < 14 && is_prefix(byte[index])) ++index;
  const unsigned char opcode = byte[index];
  switch (opcode) {
    case 0xF4: case 0xFA: case 0xFB:                        // HLT, CLI, STI
    case 0x6C: case 0x6D: case 0x6E: case 0x6F:             // INS, OUTS
    case 0xE4: case 0xE5: case 0xE6: case 0xE7:             // IN, OUT with an immediate port
    case 0xEC: case 0xED: case 0xEE: case 0xEF:             // IN, OUT with the port in DX
      return true;
    case 0x0F: break;
    default: return false;
  }
  const unsigned char second = byte[index + 1];
  const unsigned reg = (byte[index + 2] >> 3) & 7u;
  switch (second) {
    case 0x00: return reg == 2 || reg == 3;                 // LLDT, LTR
    case 0x01: return reg == 2 || reg == 3 || reg == 6 || reg == 7;  // LGDT, LIDT, LMSW, INVLPG
    case 0x06: case 0x08: case 0x09:                        // CLTS, INVD, WBINVD
    case 0x20: case 0x21: case 0x22: case 0x23:             // MOV to or from CR and DR
    case 0x30: case 0x32:                                   // WRMSR, RDMSR
      return true;
    default: return false;
  }
#else
  (void)address;
  return false;
#endif
}

std::uint32_t ExceptionCode(const siginfo_t& info, const void* context) {
  switch (info.si_signo) {
    case SIGSEGV:
      if (InStackGuardArea(reinterpret_cast<std::uintptr_t>(info.si_addr))) return 0xC00000FDu;
      if (info.si_code == SI_KERNEL && IsPrivilegedInstruction(FaultingInstruction(context))) {
        return 0xC0000096u;
      }
      return 0xC0000005u;
    case SIGBUS:
      return info.si_code == BUS_ADRALN ? 0x80000002u : 0xC0000006u;
    case SIGTRAP:
      return info.si_code == TRAP_TRACE ? 0x80000004u : 0x80000003u;
    case SIGILL:
      return info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG ? 0xC0000096u : 0xC000001Du;
    case SIGFPE:
      switch (info.si_code) {
        case FPE_INTDIV: return 0xC0000094u;
        case FPE_INTOVF: return 0xC0000095u;
        case FPE_FLTSUB: return 0xC000008Cu;
        case FPE_FLTDIV: return 0xC000008Eu;
        case FPE_FLTRES: return 0xC000008Fu;
        case FPE_FLTOVF: return 0xC0000091u;
        case FPE_FLTUND: return 0xC0000093u;
        default: return 0xC0000090u;  // FPE_FLTINV and codes the kernel adds
      }
    default:
      return 0xC0000005u;
  }
}

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};

// The kernel enters a signal handler with the interrupted code's alignment-check flag still set; a
// fault raised by that flag would strike again in the report, which makes unaligned accesses of its
// own. The handler therefore runs with the flag cleared.
void ClearAlignmentCheck() {
#if defined(__x86_64__)
  __asm__ volatile("pushfq\n\tandq $~0x40000, (%%rsp)\n\tpopfq" : : : "memory", "cc");
#elif defined(__i386__)
  __asm__ volatile("pushfl\n\tandl $~0x40000, (%%esp)\n\tpopfl" : : : "memory", "cc");
#endif
}

void OnFault(int signal, siginfo_t* info, void* context) {
  ClearAlignmentCheck();
  // A fault on another thread, or a second fault while the first is reported, is not the guard's:
  // it gets the default action, which ends the process the platform's way. The signal is blocked
  // while this handler runs, so the one sent here arrives as soon as it returns; a trap, whose
  // instruction would not run again, ends the process as surely as a fault.
  static volatile sig_atomic_t reporting = 0;
  if (g_fault_handler == nullptr || reporting != 0 ||
      !pthread_equal(pthread_self(), g_guarded_thread)) {
    EndByDefault(signal);
    return;
  }
  reporting = 1;
  FaultContext fault;
  fault.code = ExceptionCode(*info, context);
  fault.os_record = info;
  fault.os_context = context;
  g_fault_handler(fault);
  EndByDefault(signal);
}

}  // namespace

void InstallControlHandler(ControlHandler handler) {
  errno = 0;
  g_control_handler = handler;
  g_main_thread = pthread_self();
  if (sem_init(&g_main_stopped, 0, 0) == 0) {
    struct sigaction stop {};
    stop.sa_sigaction = OnStop;
    stop.sa_flags = SA_SIGINFO;
    sigfillset(&stop.sa_mask);
    if (sigaction(SIGRTMIN, &stop, nullptr) == 0) g_stop_signal = SIGRTMIN;
  }
  sigemptyset(&g_control_signals);
  for (int signal : kControlSignals) {
    if (!StartedIgnored(signal)) sigaddset(&g_control_signals, signal);
  }
  const sigset_t& set = g_control_signals;
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  g_control_descriptor = OpenControlDescriptor();
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, ControlThread, nullptr) != 0) {
    // Without the waiting thread the events keep their default actions.
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  }
  pthread_attr_destroy(&attributes);
}

void StopMainThread(int exit_status) {
  if (g_stop_signal == 0 || pthread_equal(pthread_self(), g_main_thread)) return;
  if (pthread_kill(g_main_thread, g_stop_signal) != 0) return;
  pthread_t watchdog;
  if (pthread_create(&watchdog, nullptr, EndAfterGrace,
                     reinterpret_cast<void*>(static_cast<std::intptr_t>(exit_status))) == 0) {
    pthread_detach(watchdog);
  }
  // The signal reaches the thread at once, in a blocking call or not; the bound only keeps this
  // thread from waiting for a main thread that has already gone.
  timespec deadline {};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += 1;
  while (sem_timedwait(&g_main_stopped, &deadline) == -1 && errno == EINTR) {
  }
}

void EndProcessNow(int status) { _exit(status); }

void HoldForControlEvent(int) {
  if (g_control_handler == nullptr || !pthread_equal(pthread_self(), g_main_thread) ||
      !ControlSignalArrived()) {
    return;
  }
  // The control thread stops this thread with its stop signal and ends the process; this thread
  // only waits for that, with nothing else let in.
  sigset_t only_stop;
  sigfillset(&only_stop);
  if (g_stop_signal != 0) sigdelset(&only_stop, g_stop_signal);
  for (;;) sigsuspend(&only_stop);
}

void RunGuarded(void (*body)(void* context), void* context, FaultHandler handler) {
  g_fault_handler = handler;
  g_guarded_thread = pthread_self();
  FindStackBounds();

  // A stack overflow leaves no room on the faulting stack, so the handler runs on a stack of its
  // own. It is never freed: the guard lasts as long as the process.
  void* alternate = mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  bool on_alternate = false;
  if (alternate != MAP_FAILED) {
    stack_t stack {};
    stack.ss_sp = alternate;
    stack.ss_size = kAlternateStackSize;
    stack.ss_flags = 0;
    on_alternate = sigaltstack(&stack, nullptr) == 0;
  }

  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | (on_alternate ? SA_ONSTACK : 0);
  sigemptyset(&action.sa_mask);
  // The control signals stay out of the handler while it reports, as they stay out of this thread.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGQUIT);
  sigaddset(&action.sa_mask, SIGHUP);
  for (int signal : kFaultSignals) sigaction(signal, &action, nullptr);

  body(context);
}

}  // namespace pageout::platform
