#include "platform/stack.h"

#include <windows.h>
#include <dbghelp.h>

#include <csetjmp>
#include <cstring>

namespace pageout::platform {
namespace {

// The image-help machine type of the i386 processor.
constexpr DWORD kMachineI386 = 0x014C;

// --- Faults during the walk -----------------------------------------------------------------------

// A fault anywhere in the walk (in the image-help library, or in reading a module's headers) must
// end the walk abnormally instead of the process. While a walk runs on this thread, a vectored
// handler, called before any frame-based handler, leaves the fault through longjmp; the run-time's
// longjmp unwinds the exception registrations made since setjmp, so the chain stays sound.
std::jmp_buf g_walk_escape;
volatile DWORD g_walking_thread = 0;

LONG CALLBACK OnWalkFault(EXCEPTION_POINTERS* pointers) {
  if (g_walking_thread != GetCurrentThreadId()) return EXCEPTION_CONTINUE_SEARCH;
  switch (pointers->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      g_walking_thread = 0;
      std::longjmp(g_walk_escape, 1);
    default:
      return EXCEPTION_CONTINUE_SEARCH;
  }
}

// --- Module queries -------------------------------------------------------------------------------

// True when every byte of [address, address + size) is committed and readable, so that reading the
// module's headers and sections cannot fault.
bool Readable(std::uintptr_t address, std::size_t size) {
  const std::uintptr_t end = address + size;
  if (end < address) return false;
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  while (address < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0) return false;
    if (info.State != MEM_COMMIT || (info.Protect & kReadable) == 0 ||
        (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) {
      return false;
    }
    address = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

// The module's allocation base, which is its load address (its HMODULE), or 0.
std::uintptr_t ModuleBase(std::uintptr_t pc) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<const void*>(pc), &info, sizeof info) == 0) return 0;
  return reinterpret_cast<std::uintptr_t>(info.AllocationBase);
}

void FindSections(std::uintptr_t base, ModuleView* view) {
  IMAGE_DOS_HEADER dos;
  if (!Readable(base, sizeof dos)) return;
  std::memcpy(&dos, reinterpret_cast<const void*>(base), sizeof dos);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) return;
  const std::uintptr_t nt = base + static_cast<std::uintptr_t>(dos.e_lfanew);
  IMAGE_NT_HEADERS32 headers;
  if (!Readable(nt, sizeof headers)) return;
  std::memcpy(&headers, reinterpret_cast<const void*>(nt), sizeof headers);
  const WORD count = headers.FileHeader.NumberOfSections;
  if (count == 0) return;
  const std::uintptr_t table = nt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                               headers.FileHeader.SizeOfOptionalHeader;
  if (!Readable(table, count * sizeof(IMAGE_SECTION_HEADER))) return;
  view->image_ok = true;
  for (WORD i = 0; i < count; ++i) {
    IMAGE_SECTION_HEADER section;
    std::memcpy(&section, reinterpret_cast<const void*>(table + i * sizeof section), sizeof section);
    // Section names are eight bytes, padded with NULs.
    const bool is_table = std::memcmp(section.Name, ".trace\0\0", 8) == 0;
    const bool is_code = std::memcmp(section.Name, ".text\0\0\0", 8) == 0;
    if (!is_table && !is_code) continue;
    const std::uintptr_t start = base + section.VirtualAddress;
    const std::size_t size =
        section.Misc.VirtualSize != 0 ? section.Misc.VirtualSize : section.SizeOfRawData;
    if (!Readable(start, size)) continue;
    if (is_table && view->table == nullptr) {
      view->table = reinterpret_cast<const unsigned char*>(start);
      view->table_size = size;
    } else if (is_code && view->code == nullptr) {
      view->code = reinterpret_cast<const unsigned char*>(start);
      view->code_size = size;
    }
  }
}

// --- The walk -------------------------------------------------------------------------------------

WalkEnd WalkFrames(const FaultContext* fault, FrameVisitor& visitor) {
  HANDLE process = GetCurrentProcess();
  HANDLE thread = GetCurrentThread();
  CONTEXT context;
  std::memset(&context, 0, sizeof context);
  if (fault != nullptr && fault->os_context != nullptr) {
    std::memcpy(&context, fault->os_context, sizeof context);
  } else {
    // The walk begins here, with this routine's own registers; the first frames are therefore
    // those of the diagnostic machinery.
    RtlCaptureContext(&context);
  }
  STACKFRAME frame;
  std::memset(&frame, 0, sizeof frame);
  frame.AddrPC.Offset = context.Eip;
  frame.AddrPC.Segment = static_cast<WORD>(context.SegCs);
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrStack.Offset = context.Esp;
  frame.AddrStack.Segment = static_cast<WORD>(context.SegSs);
  frame.AddrStack.Mode = AddrModeFlat;
  frame.AddrFrame.Offset = context.Ebp;
  frame.AddrFrame.Segment = static_cast<WORD>(context.SegSs);
  frame.AddrFrame.Mode = AddrModeFlat;
  for (;;) {
    if (!StackWalk(kMachineI386, process, thread, &frame, &context, nullptr, nullptr, nullptr,
                   nullptr)) {
      return WalkEnd::kAbnormal;
    }
    StackFrame step;
    step.program_counter = frame.AddrPC.Offset;
    step.return_address = frame.AddrReturn.Offset;
    step.frame_pointer = frame.AddrFrame.Offset;
    step.stack_pointer = frame.AddrStack.Offset;
    if (!visitor.OnFrame(step)) return WalkEnd::kNormal;
    if (frame.AddrReturn.Offset == 0) return WalkEnd::kNormal;
  }
}

class Win32Stack final : public Stack {
 public:
  WalkEnd Walk(const FaultContext* fault, FrameVisitor& visitor) override {
    HANDLE process = GetCurrentProcess();
    if (!SymInitialize(process, nullptr, TRUE)) return WalkEnd::kNoSymbolHandler;
    PVOID catcher = AddVectoredExceptionHandler(1, OnWalkFault);
    volatile WalkEnd end = WalkEnd::kAbnormal;
    if (setjmp(g_walk_escape) == 0) {
      g_walking_thread = GetCurrentThreadId();
      end = WalkFrames(fault, visitor);
    }
    g_walking_thread = 0;
    if (catcher != nullptr) RemoveVectoredExceptionHandler(catcher);
    SymCleanup(process);
    return end;
  }

  void QueryModule(std::uintptr_t pc, ModuleView* view) override {
    const std::uintptr_t base = ModuleBase(pc);
    if (base == 0) return;
    char path[MAX_PATH + 1];
    const DWORD length =
        GetModuleFileNameA(reinterpret_cast<HMODULE>(base), path, static_cast<DWORD>(MAX_PATH));
    if (length > 0 && length <= MAX_PATH) {
      path[length] = '\0';
      const char* name = path;
      for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
      }
      std::strncpy(view->file_name, name, ModuleView::kMaxFileName);
      view->file_name[ModuleView::kMaxFileName] = '\0';
    }
    // The table's addresses are relative to the image base; the report's PC column shows the
    // address itself, which fits its eight hex digits on this platform.
    view->load_bias = base;
    view->column_origin = 0;
    FindSections(base, view);
  }
};

// Constant-initialized, so a report from inside a fault handler finds it ready without the lock
// that guards a function's static.
constinit Win32Stack g_system_stack;

}  // namespace

Stack& SystemStack() { return g_system_stack; }

}  // namespace pageout::platform
