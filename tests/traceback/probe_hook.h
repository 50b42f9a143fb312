// A minimal fault hook for the traceback probe: hands an access violation on the calling thread,
// with its register state, to a callback that reports it and ends the process.
#pragma once

#include "platform/fault_context.h"

namespace pageout::tests {

using ProbeFaultHandler = void (*)(const platform::FaultContext& fault);

void InstallProbeFaultHook(ProbeFaultHandler handler);

}  // namespace pageout::tests
