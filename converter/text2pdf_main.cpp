// text2pdf: converts a plain text file into a PDF document.
#include "converter/converter.h"
#include "converter/host.h"

int main(int argc, char** argv) {
  using namespace pageout::converter;
  std::unique_ptr<Host> host = MakeSystemHost();
  return static_cast<int>(Run(CommandLineArguments(argc, argv), *host));
}
