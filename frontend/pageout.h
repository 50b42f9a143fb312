// The print front end: the program's main routine.
#pragma once

#include <string>
#include <vector>

namespace pageout::platform {
class Os;
}

namespace pageout::frontend {

// Writes the banner, takes the file name from argument 1 or from the console, chooses the layout,
// runs the converter command and the viewer command, and ends the process with status 0 through
// os.Exit. arguments[0] is the program's own name. Console failures end the process with their
// diagnostic instead.
void Pageout(platform::Os& os, const std::vector<std::string>& arguments);

}  // namespace pageout::frontend
