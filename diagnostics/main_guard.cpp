#include "diagnostics/main_guard.h"

#include "diagnostics/report.h"
#include "platform/fault_context.h"
#include "platform/faults.h"

namespace pageout::diagnostics {
namespace {

platform::Os* g_os = nullptr;

void OnFault(const platform::FaultContext& fault) {
  if (g_os != nullptr) ReportException(*g_os, fault);
}

}  // namespace

void RunUnderMainGuard(platform::Os& os, void (*body)(void* context), void* context) {
  g_os = &os;
  platform::RunGuarded(body, context, &OnFault);
}

}  // namespace pageout::diagnostics
