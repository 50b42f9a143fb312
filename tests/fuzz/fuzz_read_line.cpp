// Field reads from the console input channel under each reading strategy (console, disk file with
// its move back, pipe), over arbitrary byte streams, read calls that deliver fewer bytes than they
// asked for, failing calls and record buffers that cannot grow.
//
// Checks, for every field read: the field holds exactly the bytes of the line that was taken from
// the stream (up to its LF, one CR before the LF dropped), cut or blank-padded to the field's
// width; the stream's position stands right after that line, so nothing beyond it is consumed; the
// record buffer never grows beyond twice the longest line; and every run ends with the diagnostic
// that belongs to the way the input ended. Without short reads or failures the lines must be
// exactly those of the stream.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "diagnostics/catalogue.h"
#include "services/console.h"
#include "services/record_template.h"
#include "tests/fuzz/fuzz_os.h"

namespace pageout::fuzz {
namespace {

using platform::FileKind;
namespace msg = diagnostics::msg;

constexpr services::Element kRead[] = {services::Begin(), services::TextField(), services::End()};

std::string Padded(std::string_view line, std::size_t width) {
  std::string field(line.substr(0, width));
  field.resize(width, ' ');
  return field;
}

// The line as it stands in stream[start, end): without its LF and one CR before the LF, or, for a
// line that ended without an LF, without one trailing CR.
std::string_view LineIn(std::string_view stream, std::size_t start, std::size_t end) {
  std::string_view line = stream.substr(start, end - start);
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace
}  // namespace pageout::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pageout;
  using namespace pageout::fuzz;
  FuzzedDataProvider input(data, size);

  const FileKind kind =
      input.PickValueInArray({FileKind::kConsole, FileKind::kDisk, FileKind::kPipe});
  const bool exact = input.ConsumeBool();
  const std::size_t width = input.PickValueInArray<std::size_t>({1, 80, 80, 7, 300});
  FuzzOs os(input.ConsumeBool() ? platform::Host::kWindows : platform::Host::kLinux);
  std::size_t limit = SIZE_MAX;
  if (!exact) {
    const std::size_t caps = input.ConsumeIntegralInRange<std::size_t>(0, 24);
    for (std::size_t i = 0; i < caps; ++i) {
      os.read_caps.push_back(input.ConsumeIntegralInRange<std::size_t>(0, 300));
    }
    if (input.ConsumeBool()) {
      os.fail_read_at = input.ConsumeIntegralInRange<std::size_t>(0, 40);
      os.fail_read_error = input.PickValueInArray(kSomeErrors);
    }
    if (input.ConsumeBool()) limit = input.ConsumeIntegralInRange<std::size_t>(256, 2048);
  }
  const std::string stream = input.ConsumeRemainingBytesAsString();
  os.SetInput(kind, stream);
  BufferLimit::Reset(limit);
  services::SetBufferResize(&BufferLimit::Resize);

  const testing::FakeInput& in = os.input();
  std::vector<char> field(width);
  std::size_t longest = 0;
  std::size_t reads = 0;
  int status = -1;
  for (;;) {
    // Every field read consumes at least one byte or ends the process.
    FUZZ_CHECK(reads++ <= stream.size());
    const std::size_t start = in.position;
    try {
      services::ReadField(os, kRead, field);
    } catch (const testing::ExitCalled& exit) {
      status = exit.status;
      longest = std::max(longest, in.position - start);
      break;
    }
    const std::size_t end = in.position;
    FUZZ_CHECK(end > start);
    longest = std::max(longest, end - start);
    const std::string_view line = LineIn(stream, start, end);
    FUZZ_CHECK(std::string_view(field.data(), width) == Padded(line, width));
    if (exact) {
      // Without short reads a line ends only at an LF or at the end of the stream.
      const std::size_t lf = stream.find('\n', start);
      FUZZ_CHECK(end == (lf == std::string::npos ? stream.size() : lf + 1));
    }
  }
  services::CloseChannels();
  services::SetBufferResize(nullptr);

  if (exact) {
    FUZZ_CHECK(status == static_cast<int>(msg::kEndOfFile));
    FUZZ_CHECK(in.position == stream.size());
  } else {
    FUZZ_CHECK(status == static_cast<int>(msg::kEndOfFile) ||
               status == static_cast<int>(msg::kReadError) ||
               status == static_cast<int>(msg::kNoFileBuffer));
  }
  // The diagnostic names its number and the input channel.
  const std::string number = "(" + std::to_string(status) + "): ";
  FUZZ_CHECK(os.standard_error.find(number) != std::string::npos);
  FUZZ_CHECK(os.standard_error.find("unit -4, file CONIN$") != std::string::npos);
  // The record buffer is bounded by the longest line (or by the first size).
  FUZZ_CHECK(BufferLimit::largest <=
             std::max(services::kInitialRecordBufferSize, 2 * (longest + 1)));
  FUZZ_CHECK(os.Output().empty());
  return 0;
}
