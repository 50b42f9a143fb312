// The faults every platform can raise the same way: they are x86 instructions, and the program's
// guard must turn each into the same diagnostic on Win32 and on POSIX.
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "tests/faults/fault_routines.h"

// The sanitizers would report these faults themselves before the processor raised them.
#define PAGEOUT_FAULTING __attribute__((noinline, no_sanitize("address,undefined")))

namespace pageout::fault_tests {
namespace {

PAGEOUT_FAULTING void NullWrite() {
  volatile int* volatile pointer = nullptr;
  *pointer = 1;
}

PAGEOUT_FAULTING void IntegerDivideByZero() {
  // Both operands unknown to the compiler, which would otherwise replace the division by 1.
  volatile int dividend = 7;
  volatile int divisor = 0;
  volatile int quotient = dividend / divisor;
  (void)quotient;
}

PAGEOUT_FAULTING void IllegalInstruction() { __builtin_trap(); }

PAGEOUT_FAULTING void Breakpoint() { __asm__ volatile("int3"); }

// Sets the trap flag: the processor raises a single-step trap after the next instruction.
PAGEOUT_FAULTING void SingleStep() {
#if defined(__x86_64__)
  __asm__ volatile("pushfq\n\torq $0x100, (%%rsp)\n\tpopfq\n\tnop\n\tnop" : : : "memory", "cc");
#else
  __asm__ volatile("pushfl\n\torl $0x100, (%%esp)\n\tpopfl\n\tnop\n\tnop" : : : "memory", "cc");
#endif
}

PAGEOUT_FAULTING void PrivilegedInstruction() { __asm__ volatile("hlt"); }

// Each level keeps a frame with a buffer the compiler cannot drop, until the stack runs out. The
// flag is never cleared; the compiler cannot know that.
volatile bool g_deeper = true;

PAGEOUT_FAULTING int Recurse(int depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  if (!g_deeper) return depth;
  return Recurse(depth + 1) + frame[0];
}

PAGEOUT_FAULTING void StackOverflow() { std::printf("%d\n", Recurse(0)); }

unsigned short X87Control() {
  unsigned short control = 0;
  __asm__ volatile("fnstcw %0" : "=m"(control));
  return control;
}

unsigned int SseControl() {
  unsigned int control = 0;
  __asm__ volatile("stmxcsr %0" : "=m"(control));
  return control;
}

const char* Kind(long double value) {
  if (value != value) return "nan";
  if (value > 1e4000L || value < -1e4000L) return "inf";
  return value == 0.0L ? "zero" : "finite";
}

// Prints the exception masks start-up left, then raises every masked exception on both units and
// prints the kinds of the results; with a mask missing, the operation traps and the guard reports it
// instead. The SSE operations are written out, since a 32-bit build does its arithmetic on the x87.
__attribute__((target("sse"))) PAGEOUT_FAULTING void FloatMasks() {
  std::printf("x87 %#x sse %#x\n", X87Control() & 0x3Fu, SseControl() & 0x1F80u);
  volatile long double one = 1.0L, zero = 0.0L, huge = 1e4000L, tiny = 1e-4000L, three = 3.0L;
  const long double x87[] = {one / zero, zero / zero, huge * huge, tiny * tiny, one / three};
  float sse[] = {1.0f, 0.0f, 3e38f, 1e-38f, 1.0f};
  const float operands[] = {0.0f, 0.0f, 3e38f, 1e-38f, 3.0f};
  __asm__ volatile("divss %1, %0" : "+x"(sse[0]) : "x"(operands[0]));
  __asm__ volatile("divss %1, %0" : "+x"(sse[1]) : "x"(operands[1]));
  __asm__ volatile("mulss %1, %0" : "+x"(sse[2]) : "x"(operands[2]));
  __asm__ volatile("mulss %1, %0" : "+x"(sse[3]) : "x"(operands[3]));
  __asm__ volatile("divss %1, %0" : "+x"(sse[4]) : "x"(operands[4]));
  std::printf("x87");
  for (long double value : x87) std::printf(" %s", Kind(value));
  std::printf(" sse");
  for (float value : sse) std::printf(" %s", Kind(value));
  std::printf("\n");
  std::fflush(stdout);
}

void Returns() {}

constexpr FaultRoutine kCommon[] = {
    {"null-write", &NullWrite},
    {"integer-divide-by-zero", &IntegerDivideByZero},
    {"illegal-instruction", &IllegalInstruction},
    {"breakpoint", &Breakpoint},
    {"single-step", &SingleStep},
    {"privileged-instruction", &PrivilegedInstruction},
    {"stack-overflow", &StackOverflow},
    {"float-masks", &FloatMasks},
    {"returns", &Returns},
};

}  // namespace

std::span<const FaultRoutine> CommonRoutines() { return kCommon; }

void UnmaskFloatingPointExceptions() {
  unsigned short x87 = static_cast<unsigned short>(X87Control() & ~0x3Fu);
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(x87));
  unsigned int sse = SseControl() & ~0x1F80u;
  __asm__ volatile("ldmxcsr %0" : : "m"(sse));
}

}  // namespace pageout::fault_tests
