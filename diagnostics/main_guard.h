// The main guard: every processor or platform exception raised on the main thread while the front
// end runs becomes a severe diagnostic (157 to 172, chosen by its code) with a traceback from the
// faulting instruction, and ends the process with the message number as exit status.
#pragma once

namespace pageout::platform {
class Os;
}

namespace pageout::diagnostics {

// Calls body(context) under the guard, on the calling thread, and returns when body returns.
// Faults are reported on os. Call it once per process.
void RunUnderMainGuard(platform::Os& os, void (*body)(void* context), void* context);

}  // namespace pageout::diagnostics
