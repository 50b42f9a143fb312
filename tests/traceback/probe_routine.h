// The probe's covered routine: the build gives it a traceback table of its own, as it does for the
// front end's main routine.
#pragma once

namespace pageout::tests {

enum class ProbeMode { kReport, kFault };

// Calls report() from its own body; with kFault it first writes through a null pointer.
void ProbeRoutine(ProbeMode mode, void (*report)());

}  // namespace pageout::tests
