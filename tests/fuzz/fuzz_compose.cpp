// Command composition with arbitrary 80-character file-name fields, for the three layouts on both
// hosts, through the real trimming of the command execution, re-read the way the receiving side
// reads it: by a POSIX shell's quoting rules for /bin/sh -c, and by the Win32 command interpreter's
// rules (quotes, carets, redirection, variable references) followed by the run-time library's
// splitting of the converter's command line.
//
// Checks: the composition never writes beyond its buffer and returns a width within it; the
// command holds exactly one redirection, into OT.PDF, and nothing else the interpreter would act
// on; and the converter, parsing the words it receives, reads exactly the typed name (the field
// without its leading and trailing blanks) as its input file and takes no option from it.
//
// Names are those argument 1 can hold: on Win32 no control character; on POSIX any byte but NUL.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <string>
#include <vector>

#include "converter/options.h"
#include "frontend/compose.h"
#include "frontend/layouts.h"
#include "services/command.h"
#include "services/fixed_field.h"
#include "tests/fuzz/fuzz_os.h"
#include "tests/fuzz/interpreters.h"

namespace pageout::fuzz {
namespace {

bool PossibleName(bool windows, std::string_view name) {
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0) return false;
    if (windows && byte < 0x20) return false;
  }
  return true;
}

// The converter's input for a name: a name beginning with a dash comes behind the current
// directory, so that the converter does not take it for an option.
std::string ExpectedInput(bool windows, const std::string& name) {
  if (name.front() != '-') return name;
  return (windows ? ".\\" : "./") + name;
}

}  // namespace
}  // namespace pageout::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pageout;
  using namespace pageout::fuzz;
  FuzzedDataProvider input(data, size);

  const bool windows = input.ConsumeBool();
  const frontend::Layout& layout = frontend::kLayouts[input.ConsumeIntegralInRange(0, 2)];
  std::array<char, frontend::kFileNameSize> field;
  services::AssignField(field, input.ConsumeRemainingBytesAsString());
  const std::string_view view = services::View(field);
  const std::size_t end = services::TrimmedLength(view);
  const std::size_t start = std::min(view.find_first_not_of(' '), end);
  const std::string name(view.substr(start, end - start));
  if (name.empty() || !PossibleName(windows, name)) return -1;  // not worth keeping in the corpus
  // No name with a NUL is composed: argument 1 cannot hold one, and the existence test rejects a
  // typed one.
  if (name.find('\0') != std::string::npos) return -1;

  // The buffer sits between two guards that must stay untouched.
  struct {
    std::array<char, 16> before;
    std::array<char, frontend::kCommandCapacity> command;
    std::array<char, 16> after;
  } buffer;
  buffer.before.fill('#');
  buffer.after.fill('#');
  const platform::Host host = windows ? platform::Host::kWindows : platform::Host::kLinux;
  const std::size_t width = frontend::ComposeConverterCommand(host, layout, field, buffer.command);
  FUZZ_CHECK(width >= frontend::kCommandBufferSize && width <= frontend::kCommandCapacity);
  for (char c : buffer.before) FUZZ_CHECK(c == '#');
  for (char c : buffer.after) FUZZ_CHECK(c == '#');

  // What the interpreter receives.
  FuzzOs os(host);
  const std::string interpreter = windows ? "C:\\Windows\\system32\\cmd.exe" : "/bin/sh";
  os.environment["COMSPEC"] = interpreter;
  os.AddFile(interpreter);
  FUZZ_CHECK(services::ExecuteCommand(os, std::string_view(buffer.command.data(), width)));
  FUZZ_CHECK(os.starts.size() == 1);
  const std::string received = os.starts[0].args[2];

  const Parsed parsed = windows ? ParseWin32(received) : ParsePosix(received);
  if (!parsed.unsafe.empty()) {
    std::fprintf(stderr, "the interpreter acts on the name: %s\ncommand: [%s]\n",
                 parsed.unsafe.c_str(), received.c_str());
    std::abort();
  }
  FUZZ_CHECK(parsed.redirections == std::vector<std::string>{"OT.PDF"});
  FUZZ_CHECK(!parsed.words.empty() && parsed.words[0] == "TEXT2PDF.EXE");
  const converter::ParseResult converter_view = converter::ParseCommandLine(
      std::vector<std::string>(parsed.words.begin() + 1, parsed.words.end()));
  if (converter_view.outcome != converter::ParseOutcome::kRun ||
      converter_view.options.input != ExpectedInput(windows, name) ||
      !converter_view.options.output.empty()) {
    std::fprintf(stderr,
                 "the converter does not read the name as its input file\n"
                 "name: [%s]\ncommand: [%s]\ninput: [%s] output: [%s] outcome %d\n",
                 name.c_str(), received.c_str(), converter_view.options.input.c_str(),
                 converter_view.options.output.c_str(), static_cast<int>(converter_view.outcome));
    std::abort();
  }
  // The layout's options reach the converter unchanged.
  const converter::ParseResult prefix_only = converter::ParseCommandLine(
      SplitWin32(layout.prefix.substr(std::min<std::size_t>(13, layout.prefix.size()))));
  FUZZ_CHECK(prefix_only.options.columns == converter_view.options.columns);
  FUZZ_CHECK(prefix_only.options.lines == converter_view.options.lines);
  FUZZ_CHECK(prefix_only.options.landscape == converter_view.options.landscape);
  FUZZ_CHECK(prefix_only.options.font_size == converter_view.options.font_size);
  FUZZ_CHECK(prefix_only.options.line_spacing == converter_view.options.line_spacing);
  return 0;
}
