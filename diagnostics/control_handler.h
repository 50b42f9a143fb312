// The console control handler: Ctrl+C, Ctrl+Break and the closing of the console end the program
// with diagnostic 200 and the event's own exit status.
#pragma once

#include "platform/faults.h"

namespace pageout::platform {
class Os;
}

namespace pageout::diagnostics {

// What the handler does for an event it accepts.
struct ControlAction {
  const char* event_name;  // fills the "%s" of diagnostic 200: "control-C", "control-BREAK", ...
  int exit_status;         // 130 for Ctrl+C, 1 for Ctrl+Break, 2 for the console closed
};

// The action for event; nullptr for the events the handler declines (log-off, shut-down).
const ControlAction* FindControlAction(platform::ControlEvent event);

// How an accepting handler ends the process. The real one stops the main thread first, so that it
// starts no further command and uses nothing the end of the process tears down, and then ends the
// process at once; unit tests put their own in.
struct ProcessEnd {
  void (*stop_main_thread)(int exit_status);  // exit_status: for the end should the report hang
  void (*end)(int status);  // does not return
};

// Handles one event: for an accepted one it stops the main thread, reports diagnostic 200 with the
// event name (severity "error", no traceback) and ends the process with the event's status,
// without waiting for a child the main thread may be waiting for. Returns false, having done
// nothing, for an event it declines.
bool HandleControlEvent(platform::Os& os, platform::ControlEvent event, const ProcessEnd& end);

// Makes HandleControlEvent on os, with platform::StopMainThread and platform::EndProcessNow, the
// handler of the process's console control events (start-up step 1; see
// platform::InstallControlHandler for when it may be called).
void InstallControlHandler(platform::Os& os);

}  // namespace pageout::diagnostics
