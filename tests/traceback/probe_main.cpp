// The traceback probe: a program whose covered routine either faults or reports the stack from
// inside a call, so the tests can check the report's rows against the probe's own source lines.
//
//   traceback_probe report      the report of a walk from the report itself; exit status 0
//   traceback_probe fault       the report of an access violation in the covered routine; status 157
//   traceback_probe walk-fault  a walk whose frame visitor faults; prints how the walk ended
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostics/traceback.h"
#include "platform/stack.h"
#include "tests/traceback/probe_hook.h"
#include "tests/traceback/probe_routine.h"

namespace {

using pageout::platform::FaultContext;

constexpr std::size_t kTextSize = 16384;

void WriteReport(const char* line, const FaultContext* fault) {
  static char text[kTextSize];
  const std::size_t used = std::strlen(line);
  std::memcpy(text, line, used);
  const std::size_t total = pageout::diagnostics::AppendTracebackReport(fault, text, used, kTextSize);
  std::fwrite(text, 1, total, stderr);
  std::fflush(stderr);
}

__attribute__((noinline)) void ReportFromCall() { WriteReport("probe: report\n", nullptr); }

void ReportFault(const FaultContext& fault) {
  WriteReport("probe: access violation\n", &fault);
  std::_Exit(157);
}

class FaultingVisitor final : public pageout::platform::FrameVisitor {
 public:
  bool OnFrame(const pageout::platform::StackFrame&) override {
    *target_ = 1;
    return true;
  }

 private:
  // The never-mapped first page, not a null pointer, which the sanitizer build would catch first.
  volatile int* volatile target_ = reinterpret_cast<volatile int*>(std::uintptr_t{16});
};

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (std::strcmp(mode, "report") == 0) {
    pageout::tests::ProbeRoutine(pageout::tests::ProbeMode::kReport, ReportFromCall);
    return 0;
  }
  if (std::strcmp(mode, "fault") == 0) {
    pageout::tests::InstallProbeFaultHook(ReportFault);
    pageout::tests::ProbeRoutine(pageout::tests::ProbeMode::kFault, ReportFromCall);
    return 1;
  }
  if (std::strcmp(mode, "walk-fault") == 0) {
    FaultingVisitor visitor;
    const auto end = pageout::platform::SystemStack().Walk(nullptr, visitor);
    std::printf("%s\n", end == pageout::platform::WalkEnd::kAbnormal ? "abnormal" : "normal");
    return 0;
  }
  std::fprintf(stderr, "usage: traceback_probe report|fault|walk-fault\n");
  return 2;
}
