// The text2pdf program: from its arguments to the exit status.
#pragma once

#include <string>
#include <vector>

#include "converter/host.h"

namespace pageout::converter {

enum class ExitStatus : int {
  kOk = 0,
  kFailure = 1,  // the input could not be read or the output not written
  kUsage = 2,    // an unknown option or a bad value
};

// Converts as the arguments say. Errors go to standard error as one line; nothing reaches standard
// output unless the conversion gets under way. SOURCE_DATE_EPOCH, when set to a number of seconds,
// stands in for the current time in the document's creation date, so that a build can reproduce
// its output byte for byte.
ExitStatus Run(const std::vector<std::string>& args, Host& host);

}  // namespace pageout::converter
