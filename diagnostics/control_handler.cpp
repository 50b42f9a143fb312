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

constexpr ProcessEnd kPlatformProcessEnd = {&platform::StopMainThread, &platform::EndProcessNow};

platform::Os* g_os = nullptr;

bool OnControlEvent(platform::ControlEvent event) {
  return g_os != nullptr && HandleControlEvent(*g_os, event, kPlatformProcessEnd);
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

bool HandleControlEvent(platform::Os& os, platform::ControlEvent event, const ProcessEnd& end) {
  const ControlAction* action = FindControlAction(event);
  if (action == nullptr) return false;
  // The main thread runs on while this thread handles the event. Left alone, it could start the
  // viewer command once a command ended by the same Ctrl+C returns, or use the program's objects
  // while the ordinary process exit destroys them. So it is stopped first, and the process ends
  // at once after the report: nothing is buffered that an exit would have to flush. The console
  // channels are left as they are for the same reason; closing them writes nothing.
  end.stop_main_thread(action->exit_status);
  ReportDiagnostic(os, msg::kControlEvent, action->event_name);
  end.end(action->exit_status);
  std::abort();  // end does not return; this keeps the promise should it break its own
}

void InstallControlHandler(platform::Os& os) {
  g_os = &os;
  platform::InstallControlHandler(&OnControlEvent);
}

}  // namespace pageout::diagnostics
