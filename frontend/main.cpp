// The pageout program.
#include "diagnostics/startup.h"
#include "frontend/pageout.h"
#include "platform/os.h"

int main(int argc, char** argv) {
  pageout::diagnostics::StartUp(pageout::platform::System(), argc, argv,
                                &pageout::frontend::Pageout);
}
