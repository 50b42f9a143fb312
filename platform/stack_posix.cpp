#include "platform/stack.h"

#define UNW_LOCAL_ONLY
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <libunwind.h>
#include <link.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>
#include <iterator>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

namespace pageout::platform {
namespace {

// --- Faults during the walk -----------------------------------------------------------------------

// A damaged stack can send the unwinder, or a module query, to an address that is not mapped. While
// a walk runs, such a fault jumps back into the walk, which then ends abnormally; the handlers and
// the signal mask in force before the walk are restored afterwards. The walk may itself run inside
// the fault guard's handler, where the fault signals are blocked, so they are unblocked for the
// walk's duration: a blocked synchronous fault would otherwise end the process on the spot.
sigjmp_buf g_walk_escape;

constexpr int kWalkFaultSignals[] = {SIGSEGV, SIGBUS};

void OnWalkFault(int, siginfo_t*, void*) { siglongjmp(g_walk_escape, 1); }

// --- Module queries -------------------------------------------------------------------------------

struct FoundModule {
  std::uintptr_t pc = 0;
  bool found = false;
  ElfW(Addr) bias = 0;
  const char* name = nullptr;
  const ElfW(Phdr)* headers = nullptr;
  ElfW(Half) header_count = 0;
};

int MatchModule(dl_phdr_info* info, std::size_t, void* data) {
  auto* module = static_cast<FoundModule*>(data);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD) continue;
    const std::uintptr_t from = info->dlpi_addr + header.p_vaddr;
    if (module->pc >= from && module->pc - from < header.p_memsz) {
      module->found = true;
      module->bias = info->dlpi_addr;
      module->name = info->dlpi_name;
      module->headers = info->dlpi_phdr;
      module->header_count = info->dlpi_phnum;
      return 1;
    }
  }
  return 0;
}

// True when [address, address + size) of the module's link-time addresses lies inside one of its
// loaded segments, so that reading it in memory cannot fault.
bool InLoadedSegment(const FoundModule& module, ElfW(Addr) address, std::size_t size) {
  for (ElfW(Half) i = 0; i < module.header_count; ++i) {
    const ElfW(Phdr)& header = module.headers[i];
    if (header.p_type != PT_LOAD) continue;
    if (address >= header.p_vaddr && address - header.p_vaddr <= header.p_memsz &&
        size <= header.p_memsz - (address - header.p_vaddr)) {
      return true;
    }
  }
  return false;
}

bool ReadAt(int fd, void* buffer, std::size_t size, off_t offset) {
  return pread(fd, buffer, size, offset) == static_cast<ssize_t>(size);
}

// The section headers are not part of the loaded image, so they are read from the module's file;
// the sections they name are then read in memory, where the loader put them. Only async-signal-safe
// calls and the stack are used, since this can run inside a fault handler.
void FindSections(const FoundModule& module, const char* path, ModuleView* view) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ElfW(Ehdr) file;
  ElfW(Shdr) names;
  if (ReadAt(fd, &file, sizeof file, 0) && std::memcmp(file.e_ident, ELFMAG, SELFMAG) == 0 &&
      file.e_shentsize == sizeof(ElfW(Shdr)) && file.e_shnum > 0 && file.e_shstrndx < file.e_shnum &&
      ReadAt(fd, &names, sizeof names,
             static_cast<off_t>(file.e_shoff + file.e_shstrndx * sizeof(ElfW(Shdr))))) {
    view->image_ok = true;
    for (ElfW(Half) i = 0; i < file.e_shnum; ++i) {
      ElfW(Shdr) section;
      char name[8] = {};
      if (!ReadAt(fd, &section, sizeof section,
                  static_cast<off_t>(file.e_shoff + i * sizeof(ElfW(Shdr))))) {
        break;
      }
      if (section.sh_name >= names.sh_size ||
          pread(fd, name, sizeof name, static_cast<off_t>(names.sh_offset + section.sh_name)) <= 0) {
        continue;
      }
      const bool is_table = std::memcmp(name, ".trace", 7) == 0;
      const bool is_code = std::memcmp(name, ".text", 6) == 0;
      if (!is_table && !is_code) continue;
      if ((section.sh_flags & SHF_ALLOC) == 0 || section.sh_type == SHT_NOBITS ||
          !InLoadedSegment(module, section.sh_addr, section.sh_size)) {
        continue;
      }
      const auto* in_memory = reinterpret_cast<const unsigned char*>(module.bias + section.sh_addr);
      if (is_table && view->table == nullptr) {
        view->table = in_memory;
        view->table_size = section.sh_size;
      } else if (is_code && view->code == nullptr) {
        view->code = in_memory;
        view->code_size = section.sh_size;
      }
    }
  }
  close(fd);
}

void CopyFileName(const char* path, ModuleView* view) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/') name = p + 1;
  }
  std::size_t length = std::strlen(name);
  if (length > ModuleView::kMaxFileName) length = ModuleView::kMaxFileName;
  std::memcpy(view->file_name, name, length);
  view->file_name[length] = '\0';
}

// --- The walk -------------------------------------------------------------------------------------

// The unwinder tests whether an address may be read by handing it to write() on a pipe, which fails
// cleanly for an unmapped page. Under valgrind's memcheck that deliberate probe of unmapped or
// never-written stack memory counts as an error and would fail every run that reports a traceback,
// so the checker's reports are paused around the unwinder's own calls (a no-op outside valgrind).
class QuietChecker {
 public:
  QuietChecker() {
#if defined(VALGRIND_DISABLE_ERROR_REPORTING)
    VALGRIND_DISABLE_ERROR_REPORTING;
#endif
  }
  ~QuietChecker() {
#if defined(VALGRIND_ENABLE_ERROR_REPORTING)
    VALGRIND_ENABLE_ERROR_REPORTING;
#endif
  }
  QuietChecker(const QuietChecker&) = delete;
  QuietChecker& operator=(const QuietChecker&) = delete;
};

int InitFromFault(unw_cursor_t* cursor, unw_context_t* context) {
  QuietChecker quiet;
  return unw_init_local2(cursor, context, UNW_INIT_SIGNAL_FRAME);
}

int InitHere(unw_cursor_t* cursor, unw_context_t* context) {
  QuietChecker quiet;
  return unw_init_local(cursor, context);
}

int Step(unw_cursor_t* cursor) {
  QuietChecker quiet;
  return unw_step(cursor);
}

WalkEnd WalkFrames(const FaultContext* fault, FrameVisitor& visitor) {
  unw_context_t context;
  unw_cursor_t cursor;
  if (fault != nullptr && fault->os_context != nullptr) {
    // On this processor the unwinder's context is the signal's ucontext_t itself, so the walk can
    // begin at the faulting instruction with the registers the kernel saved. The signal-frame flag
    // keeps the unwinder from treating that address as a return address.
    static_assert(sizeof(unw_context_t) == sizeof(ucontext_t));
    std::memcpy(&context, fault->os_context, sizeof context);
    if (InitFromFault(&cursor, &context) != 0) return WalkEnd::kAbnormal;
  } else {
    if (unw_getcontext(&context) != 0 || InitHere(&cursor, &context) != 0) {
      return WalkEnd::kAbnormal;
    }
  }
  for (;;) {
    StackFrame frame;
    unw_word_t value = 0;
    if (unw_get_reg(&cursor, UNW_REG_IP, &value) != 0) return WalkEnd::kAbnormal;
    frame.program_counter = value;
    if (unw_get_reg(&cursor, UNW_REG_SP, &value) == 0) frame.stack_pointer = value;
#if defined(__x86_64__)
    if (unw_get_reg(&cursor, UNW_X86_64_RBP, &value) == 0) frame.frame_pointer = value;
#endif
    // The return address is the program counter of the caller's frame; stepping a copy of the
    // cursor finds it. A step that fails is the failure of the walk's next step.
    unw_cursor_t caller = cursor;
    const int step = Step(&caller);
    if (step > 0 && unw_get_reg(&caller, UNW_REG_IP, &value) == 0) frame.return_address = value;
    if (!visitor.OnFrame(frame)) return WalkEnd::kNormal;
    if (step < 0) return WalkEnd::kAbnormal;
    if (step == 0 || frame.return_address == 0) return WalkEnd::kNormal;
    cursor = caller;
  }
}

class PosixStack final : public Stack {
 public:
  WalkEnd Walk(const FaultContext* fault, FrameVisitor& visitor) override {
    struct sigaction catcher {};
    catcher.sa_sigaction = OnWalkFault;
    catcher.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&catcher.sa_mask);
    struct sigaction previous_actions[std::size(kWalkFaultSignals)];
    sigset_t faults;
    sigemptyset(&faults);
    for (std::size_t i = 0; i < std::size(kWalkFaultSignals); ++i) {
      sigaction(kWalkFaultSignals[i], &catcher, &previous_actions[i]);
      sigaddset(&faults, kWalkFaultSignals[i]);
    }
    sigset_t previous_mask;
    pthread_sigmask(SIG_UNBLOCK, &faults, &previous_mask);

    volatile WalkEnd end = WalkEnd::kAbnormal;
    if (sigsetjmp(g_walk_escape, 1) == 0) end = WalkFrames(fault, visitor);

    pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
    for (std::size_t i = 0; i < std::size(kWalkFaultSignals); ++i) {
      sigaction(kWalkFaultSignals[i], &previous_actions[i], nullptr);
    }
    return end;
  }

  void QueryModule(std::uintptr_t pc, ModuleView* view) override {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(pc), &info) != 0 && info.dli_fname != nullptr) {
      CopyFileName(info.dli_fname, view);
    }
    FoundModule module;
    module.pc = pc;
    dl_iterate_phdr(MatchModule, &module);
    if (!module.found) return;
    // Program counters are shown, and looked up, as offsets from the module's load bias: the
    // address the module's own symbols and line data use (what addr2line takes), which for a
    // position-independent executable or a library is the offset from its load address. A 64-bit
    // address would not fit the report's eight hex digits.
    view->column_origin = module.bias;
    view->load_bias = module.bias;
    // The loader names the main program with an empty text; its file is reached through /proc.
    const bool named = module.name != nullptr && module.name[0] != '\0';
    const char* path = named ? module.name : "/proc/self/exe";
    if (view->file_name[0] == '\0' && named) CopyFileName(path, view);
    FindSections(module, path, view);
  }
};

// Constant-initialized, so a report from inside a fault handler finds it ready without the lock
// that guards a function's static.
constinit PosixStack g_system_stack;

}  // namespace

Stack& SystemStack() { return g_system_stack; }

}  // namespace pageout::platform
