#include "diagnostics/control_handler.h"

#include <cstdlib>

#include "diagnostics/catalogue.h"
#include "diagnostics/exit_status.h"
#include "diagnostics/report.h"
#include "platform/os.h"

namespace pageout::diagnostics {
namespace {

constexpr ControlAction kCtrlC = {"control-C", ToInt(ExitStatus::kControlC)};
constexpr ControlAction kCtrlBreak = {"control-BREAK", ToInt(ExitStatus::kControlBreak)};
constexpr ControlAction kConsoleClosed = {"window-CLOSE", ToInt(ExitStatus::kConsoleClosed)};

platform::Os* g_os = nullptr;

bool OnControlEvent(platform::ControlEvent event) {
  return g_os != nullptr && HandleControlEvent(*g_os, event);
}

}  // namespace

const ControlAction* FindControlAction(platform::ControlEvent event) {
  switch (event) {
    case platform::ControlEvent::kCtrlC: return &kCtrlC;
    case platform::ControlEvent::kCtrlBreak: return &kCtrlBreak;
    case platform::ControlEvent::kConsoleClosed: return &kConsoleClosed;
    case platform::ControlEvent::kOther: break;
  }
  return nullptr;
}

bool HandleControlEvent(platform::Os& os, platform::ControlEvent event) {
  const ControlAction* action = FindControlAction(event);
  if (action == nullptr) return false;
  ReportDiagnostic(os, msg::kControlEvent, action->event_name);
  // The console channels are not closed here: closing writes nothing, and the main thread may be
  // inside a read or write on them at this moment, so releasing their buffers from this thread
  // could pull memory from under it. The process exit that follows ends that thread anyway.
  os.Exit(action->exit_status);
  std::abort();  // Exit does not return; this keeps the promise should an Os break its own
}

void InstallControlHandler(platform::Os& os) {
  g_os = &os;
  platform::InstallControlHandler(&OnControlEvent);
}

}  // namespace pageout::diagnostics
