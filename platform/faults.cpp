// The floating-point masks are a matter of the processor, not of the system: the same control
// words serve Win32 and POSIX.
#include "platform/faults.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#else
#include <cfenv>
#endif

namespace pageout::platform {

#if defined(__i386__) || defined(__x86_64__)
namespace {

// x87 control word: invalid operation, divide by zero, overflow, underflow and precision (inexact)
// masks. The denormal-operand mask is left as the system set it.
constexpr unsigned short kX87Masks = 0x01 | 0x04 | 0x08 | 0x10 | 0x20;
// MXCSR: the six exception masks, bits 7 to 12.
constexpr unsigned int kSseMasks = 0x1F80;

bool HasSse() {
#if defined(__x86_64__)
  return true;
#else
  // A 32-bit program may meet a processor without SSE, where the MXCSR instructions fault.
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (edx & (1u << 25)) != 0;
#endif
}

}  // namespace

void MaskFloatingPointExceptions() {
  unsigned short control = 0;
  __asm__ volatile("fnstcw %0" : "=m"(control));
  control = static_cast<unsigned short>(control | kX87Masks);
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(control));
  if (HasSse()) {
    unsigned int status = 0;
    __asm__ volatile("stmxcsr %0" : "=m"(status));
    status |= kSseMasks;
    __asm__ volatile("ldmxcsr %0" : : "m"(status));
  }
}

#else

void MaskFloatingPointExceptions() {
  // Processors without x87 and SSE trap floating-point exceptions only when asked to.
  std::feclearexcept(FE_ALL_EXCEPT);
#if defined(__GLIBC__)
  fedisableexcept(FE_ALL_EXCEPT);
#endif
}

#endif

}  // namespace pageout::platform
