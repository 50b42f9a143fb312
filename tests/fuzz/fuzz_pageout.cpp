// The whole front end over arbitrary standard input (any bytes, any line lengths, from a console,
// a disk file or a pipe) and an arbitrary argument 1, on both hosts, with a file system that holds
// some of the names the input types.
//
// Checks: the run ends either normally (status 0) or at the end of input (status 24, with its
// diagnostic); a normal run that did not quit runs exactly the converter command and then the
// viewer command; and the converter command, as the receiving system would see it (the command
// is a NUL-terminated text there), redirects into OT.PDF alone and hands the converter, as its
// input file, a name that exists and is not a directory.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "converter/options.h"
#include "diagnostics/catalogue.h"
#include "frontend/compose.h"
#include "frontend/pageout.h"
#include "services/console.h"
#include "services/existence.h"
#include "tests/fuzz/fuzz_os.h"
#include "tests/fuzz/interpreters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pageout;
  using namespace pageout::fuzz;
  FuzzedDataProvider input(data, size);

  const bool windows = input.ConsumeBool();
  FuzzOs os(windows ? platform::Host::kWindows : platform::Host::kLinux);
  const std::string interpreter = windows ? "C:\\Windows\\system32\\cmd.exe" : "/bin/sh";
  os.environment["COMSPEC"] = interpreter;
  os.AddFile(interpreter);
  const std::string dir = windows ? "C:\\work\\" : "/work/";
  os.AddFile(dir + "report.txt");
  os.AddDirectory(dir + "folder");
  std::vector<std::string> arguments{"pageout"};
  if (input.ConsumeIntegralInRange(0, 3) == 0) {
    // An argument is a C string: it ends at its first NUL.
    const std::string argument = input.ConsumeRandomLengthString(100);
    arguments.push_back(argument.substr(0, argument.find('\0')));
  }
  // A few names typed in the input also exist, as the first 80 bytes of a line would name them.
  const std::size_t planted = input.ConsumeIntegralInRange<std::size_t>(0, 3);
  const platform::FileKind kind = input.PickValueInArray(
      {platform::FileKind::kConsole, platform::FileKind::kDisk, platform::FileKind::kPipe});
  const std::string stream = input.ConsumeRemainingBytesAsString();
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < planted && line_start < stream.size(); ++i) {
    std::size_t lf = stream.find('\n', line_start);
    if (lf == std::string::npos) lf = stream.size();
    std::string line = stream.substr(line_start, std::min<std::size_t>(lf - line_start, 80));
    line = line.substr(0, line.find('\0'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    while (!line.empty() && line.front() == ' ') line.erase(0, 1);
    if (!line.empty() && line.find_first_of(windows ? "\\/:" : "/") == std::string::npos) {
      os.AddFile(dir + line);
    }
    line_start = lf + 1;
  }
  os.SetInput(kind, stream);

  int status = -1;
  try {
    frontend::Pageout(os, arguments);
  } catch (const testing::ExitCalled& exit) {
    status = exit.status;
  }
  services::CloseChannels();

  FUZZ_CHECK(status == 0 || status == static_cast<int>(diagnostics::msg::kEndOfFile));
  if (status != 0) {
    FUZZ_CHECK(os.starts.empty());
    FUZZ_CHECK(os.standard_error.find("(24): end-of-file during read, unit -4, file CONIN$") !=
               std::string::npos);
    return 0;
  }
  FUZZ_CHECK(os.standard_error.empty());
  if (os.starts.empty()) return 0;  // the user quit
  FUZZ_CHECK(os.starts.size() == 2);
  FUZZ_CHECK(os.starts[1].args[2] == std::string(frontend::ViewerCommand(os.host())));

  // The command as the system passes it on: a C string.
  std::string received = os.starts[0].args[2];
  received = received.substr(0, received.find('\0'));
  const Parsed parsed = windows ? ParseWin32(received) : ParsePosix(received);
  if (!parsed.unsafe.empty() || parsed.redirections != std::vector<std::string>{"OT.PDF"} ||
      parsed.words.size() < 2) {
    std::fprintf(stderr, "the converter command is broken (%s): [%s]\n", parsed.unsafe.c_str(),
                 received.c_str());
    std::abort();
  }
  const converter::ParseResult view = converter::ParseCommandLine(
      std::vector<std::string>(parsed.words.begin() + 1, parsed.words.end()));
  const std::string& name = view.options.input;
  // A name beginning with a dash comes behind the current directory, so that it is no option.
  const std::string directory = windows ? ".\\" : "./";
  const std::string typed =
      name.rfind(directory + "-", 0) == 0 ? name.substr(directory.size()) : name;
  // A name given as argument 1 is converted without a question; a typed one must exist.
  bool right_name = !name.empty() && services::TestExistence(os, typed).exists != 0;
  if (arguments.size() > 1) {
    std::string given = arguments[1].substr(0, frontend::kFileNameSize);
    given.erase(0, std::min(given.find_first_not_of(' '), given.size()));
    while (!given.empty() && given.back() == ' ') given.pop_back();
    if (!given.empty()) {
      right_name = name == given || (given.front() == '-' && name == directory + given);
    }
  }
  if (view.outcome != converter::ParseOutcome::kRun || !view.options.output.empty() ||
      !right_name) {
    std::fprintf(stderr,
                 "the converter is not given the accepted file\ncommand: [%s]\n"
                 "input: [%s] output: [%s] outcome %d\n",
                 received.c_str(), name.c_str(), view.options.output.c_str(),
                 static_cast<int>(view.outcome));
    std::abort();
  }
  return 0;
}
