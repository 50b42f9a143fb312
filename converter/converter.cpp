#include "converter/converter.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "converter/options.h"
#include "converter/page_layout.h"
#include "converter/paginator.h"
#include "converter/pdf_writer.h"
#include "converter/progress.h"
#include "converter/text_decoder.h"

#ifndef PAGEOUT_VERSION
#define PAGEOUT_VERSION "0"
#endif

namespace pageout::converter {
namespace {

constexpr std::size_t kChunkSize = 256 * 1024;
// Room for the bytes a piece may leave undecoded at its end (at most three).
constexpr std::size_t kCarryRoom = 8;
constexpr unsigned kMaxThreads = 8;

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

// The last component of a path, as the document's title.
std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::int64_t CreationTime() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    char* end = nullptr;
    long long value = std::strtoll(epoch, &end, 10);
    if (*end == '\0' && value >= 0) return value;
  }
  return static_cast<std::int64_t>(std::time(nullptr));
}

unsigned CompressionThreads() {
  unsigned cores = std::thread::hardware_concurrency();
  if (cores == 0) cores = 1;
  return cores < kMaxThreads ? cores : kMaxThreads;
}

}  // namespace

ExitStatus Run(const std::vector<std::string>& args, Host& host) {
  ParseResult parsed = ParseCommandLine(args);
  switch (parsed.outcome) {
    case ParseOutcome::kHelp:
      host.WriteOutput(UsageText());
      return ExitStatus::kOk;
    case ParseOutcome::kVersion:
      host.WriteOutput(VersionText());
      return ExitStatus::kOk;
    case ParseOutcome::kError:
      host.WriteError(parsed.error + "\n");
      return ExitStatus::kUsage;
    case ParseOutcome::kRun:
      break;
  }
  const Options& options = parsed.options;
  if (options.output.empty() && host.OutputIsTerminal()) {
    host.WriteError(
        "text2pdf: will not write a PDF to the terminal; redirect the output or use -o FILE; "
        "try 'text2pdf --help'\n");
    return ExitStatus::kUsage;
  }

  const std::string shown_name = options.input.empty() ? "standard input" : Quoted(options.input);
  std::string reason;
  std::optional<std::uint64_t> input_size;
  std::unique_ptr<ByteSource> input = host.OpenInput(options.input, &input_size, &reason);
  if (!input) {
    host.WriteError("text2pdf: cannot open " + shown_name + ": " + reason + "\n");
    return ExitStatus::kFailure;
  }

  // The first piece is read before the output is opened, so that an input that cannot be read
  // (a folder, say) leaves no output behind.
  std::vector<unsigned char> in(kChunkSize + kCarryRoom);
  std::vector<unsigned char> decoded(kChunkSize + kCarryRoom);
  auto read = [&](std::size_t at) {
    return input->Read(reinterpret_cast<char*>(in.data() + at), kChunkSize, &reason);
  };
  std::int64_t count = read(0);
  if (count < 0) {
    host.WriteError("text2pdf: cannot read " + shown_name + ": " + reason + "\n");
    return ExitStatus::kFailure;
  }

  // Creating the output truncates it: were it the input, the rest of the text would be lost.
  if (!options.input.empty() && !options.output.empty() &&
      host.SameFile(options.input, options.output)) {
    host.WriteError("text2pdf: " + Quoted(options.output) +
                    " is the input file; write the PDF to another file\n");
    return ExitStatus::kFailure;
  }
  std::unique_ptr<ByteSink> output = host.OpenOutput(options.output, &reason);
  if (!output) {
    host.WriteError("text2pdf: cannot create " + Quoted(options.output) + ": " + reason + "\n");
    return ExitStatus::kFailure;
  }
  const std::string output_name =
      options.output.empty() ? "the output" : Quoted(options.output);

  const PageLayout layout = ComputeLayout(options, host.DefaultPaper());
  DocumentInfo info;
  if (!options.input.empty()) info.title = BaseName(options.input);
  info.producer = "TEXT2PDF " PAGEOUT_VERSION " (PAGEOUT)";
  info.creation_time = CreationTime();
  PdfWriter writer(*output, layout, options.font, std::move(info), CompressionThreads());
  Paginator paginator(layout.columns, layout.lines_per_page, options.tab_width, writer);
  TextDecoder decoder;
  Progress progress(host, input_size && *input_size > kProgressThreshold && host.ErrorIsTerminal(),
                    input_size.value_or(0));

  std::size_t carry = 0;
  std::uint64_t total = 0;
  for (;;) {
    const bool last = count == 0;
    total += static_cast<std::uint64_t>(count);
    const std::size_t available = carry + static_cast<std::size_t>(count);
    std::size_t written = 0;
    const std::size_t consumed = decoder.Decode(in.data(), available, last, decoded.data(), &written);
    paginator.Feed(decoded.data(), written);
    carry = available - consumed;
    std::memmove(in.data(), in.data() + consumed, carry);
    if (writer.failed()) break;
    progress.Update(total);
    if (last) break;
    count = read(carry);
    if (count < 0) {
      progress.Clear();
      host.WriteError("text2pdf: cannot read " + shown_name + ": " + reason + "\n");
      return ExitStatus::kFailure;
    }
  }
  if (!writer.failed()) {
    paginator.Finish();
    writer.Finish();
  }
  progress.Clear();
  if (writer.failed()) {
    host.WriteError("text2pdf: cannot write " + output_name + ": " + writer.error() + "\n");
    return ExitStatus::kFailure;
  }
  return ExitStatus::kOk;
}

}  // namespace pageout::converter
