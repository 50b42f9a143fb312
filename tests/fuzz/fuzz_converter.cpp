// The converter's text decoding, page layout and pagination, with arbitrary options and bytes,
// through its neutral interface and without files; the PDF writer into memory, with a write that
// fails at an arbitrary point.
//
// Checks: options either parse or give one error line; the page geometry keeps a line of the
// requested columns and the requested lines on the page, inside the margins; decoding in arbitrary
// pieces, the way the program reads, gives exactly what decoding in one piece gives; the decoded
// stream holds only WinAnsi characters and the three control codes, one code per UTF-8 character
// of valid input; pages hold at most the page's lines, lines at most the columns; a document
// always has a page; and a write failure is reported, never passed over.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "converter/options.h"
#include "converter/page_layout.h"
#include "converter/paginator.h"
#include "converter/pdf_writer.h"
#include "converter/text_decoder.h"
#include "tests/fuzz/fuzz_os.h"

namespace pageout::fuzz {
namespace {

using namespace converter;

class CheckingSink : public PageSink {
 public:
  CheckingSink(int columns, int lines) : columns_(columns), lines_(lines) {}
  void Line(std::string_view text) override {
    FUZZ_CHECK(text.size() <= static_cast<std::size_t>(columns_));
    for (char c : text) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
    FUZZ_CHECK(++on_page_ <= lines_);
  }
  void EndPage() override {
    on_page_ = 0;
    ++pages_;
  }
  std::uint64_t pages() const { return pages_; }

 private:
  int columns_;
  int lines_;
  int on_page_ = 0;
  std::uint64_t pages_ = 0;
};

class MemorySink : public ByteSink {
 public:
  explicit MemorySink(std::size_t fail_at) : fail_at_(fail_at) {}
  bool Write(const char* data, std::size_t size, std::string* reason) override {
    if (bytes_.size() + size > fail_at_) {
      *reason = "No space left on device";
      failed_ = true;
      return false;
    }
    bytes_.append(data, size);
    return true;
  }
  std::string bytes_;
  bool failed_ = false;

 private:
  std::size_t fail_at_;
};

std::vector<unsigned char> DecodeInPieces(const std::string& text,
                                          const std::vector<std::size_t>& pieces) {
  TextDecoder decoder;
  std::vector<unsigned char> in(text.size() + 8);
  std::vector<unsigned char> out;
  std::size_t carry = 0;
  std::size_t at = 0;
  std::size_t piece = 0;
  for (;;) {
    std::size_t count =
        std::min(text.size() - at, pieces.empty() ? text.size() : pieces[piece++ % pieces.size()]);
    std::copy(text.begin() + static_cast<std::ptrdiff_t>(at),
              text.begin() + static_cast<std::ptrdiff_t>(at + count),
              in.begin() + static_cast<std::ptrdiff_t>(carry));
    at += count;
    const bool last = count == 0;
    const std::size_t available = carry + count;
    std::vector<unsigned char> decoded(available + 1);
    std::size_t written = 0;
    const std::size_t consumed =
        decoder.Decode(in.data(), available, last, decoded.data(), &written);
    FUZZ_CHECK(consumed <= available && written <= consumed);
    FUZZ_CHECK(available - consumed <= 3);  // at most a cut sequence is carried
    if (last) FUZZ_CHECK(consumed == available);
    out.insert(out.end(), decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(written));
    carry = available - consumed;
    std::copy(in.begin() + static_cast<std::ptrdiff_t>(consumed),
              in.begin() + static_cast<std::ptrdiff_t>(available), in.begin());
    if (last) return out;
  }
}

// The number of characters of strictly valid UTF-8 text, a byte order mark at its start not
// counted and CR LF counted once; nullopt when the text is not valid UTF-8.
std::optional<std::size_t> Utf8Characters(std::string_view text) {
  std::size_t count = 0;
  std::size_t i = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = 0;
    std::size_t length = 0;
    if (b < 0x80)
      length = 1, cp = b;
    else if (b >= 0xC2 && b <= 0xDF)
      length = 2, cp = b & 0x1Fu;
    else if (b >= 0xE0 && b <= 0xEF)
      length = 3, cp = b & 0x0Fu;
    else if (b >= 0xF0 && b <= 0xF4)
      length = 4, cp = b & 0x07u;
    else
      return std::nullopt;
    if (i + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (length == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return std::nullopt;
    }
    if (b == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    i += length;
    ++count;
  }
  return count;
}

}  // namespace
}  // namespace pageout::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pageout;
  using namespace pageout::fuzz;
  using namespace pageout::converter;
  FuzzedDataProvider input(data, size);

  static const std::vector<std::string> kKnown = {
      "-L",  "-c132",   "-c160",  "-l92",    "-s6",
      "-s8", "-v7",     "-v8",    "-t4",     "-A4",
      "-A3", "-letter", "-x200",  "-y1000",  "-fCourier-Bold",
      "-c",  "1000",    "-l1000", "-s0.001", "-v999.999",
      "--",  "-",       "-x72",   "-y14400", "-c1",
      "-l1", "-t100"};
  std::vector<std::string> args;
  const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 6);
  for (std::size_t i = 0; i < count; ++i) {
    args.push_back(input.ConsumeBool()
                       ? kKnown[input.ConsumeIntegralInRange<std::size_t>(0, kKnown.size() - 1)]
                       : input.ConsumeRandomLengthString(12));
  }
  const PaperSize paper = input.PickValueInArray({kLetter, kA4, kA3});
  std::vector<std::size_t> pieces;
  const std::size_t piece_count = input.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < piece_count; ++i) {
    pieces.push_back(input.ConsumeIntegralInRange<std::size_t>(1, 64));
  }
  const bool write_pdf = input.ConsumeIntegralInRange(0, 7) == 0;
  const bool long_document = input.ConsumeIntegralInRange(0, 15) == 0;
  const std::size_t fail_at =
      input.ConsumeBool() ? SIZE_MAX : input.ConsumeIntegral<std::uint16_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();

  const ParseResult parsed = ParseCommandLine(args);
  if (parsed.outcome == ParseOutcome::kError) {
    FUZZ_CHECK(parsed.error.rfind("text2pdf: ", 0) == 0);
  }
  const Options options = parsed.outcome == ParseOutcome::kRun ? parsed.options : Options{};

  const PageLayout layout = ComputeLayout(options, paper);
  FUZZ_CHECK(layout.columns >= 1 && layout.lines_per_page >= 1);
  FUZZ_CHECK(layout.font_size >= 1 && layout.line_spacing >= 1);
  if (options.columns) FUZZ_CHECK(layout.columns == *options.columns);
  if (options.lines) FUZZ_CHECK(layout.lines_per_page == *options.lines);
  const Millipoints block_width = layout.font_size * kGlyphWidthPerMille * layout.columns / 1000;
  FUZZ_CHECK(block_width <= layout.page_width - 2 * kMinMargin);
  FUZZ_CHECK(layout.left >= kMinMargin);
  FUZZ_CHECK(layout.lines_per_page * layout.line_spacing <= layout.page_height - 2 * kMinMargin);
  FUZZ_CHECK(layout.first_baseline > 0 && layout.first_baseline < layout.page_height);
  if (options.landscape) FUZZ_CHECK(layout.page_width >= layout.page_height);

  const std::vector<unsigned char> whole = DecodeInPieces(text, {});
  const std::vector<unsigned char> cut = DecodeInPieces(text, pieces);
  FUZZ_CHECK(whole == cut);
  for (unsigned char c : whole) {
    FUZZ_CHECK(c >= 0x20 || c == kLineEnd || c == kTab || c == kFormFeed);
  }
  if (const std::optional<std::size_t> characters = Utf8Characters(text)) {
    FUZZ_CHECK(whole.size() == *characters);
  }

  CheckingSink sink(layout.columns, layout.lines_per_page);
  Paginator paginator(layout.columns, layout.lines_per_page, options.tab_width, sink);
  paginator.Feed(whole.data(), whole.size());
  paginator.Finish();
  FUZZ_CHECK(paginator.pages() >= 1 && paginator.pages() == sink.pages());

  // The writer prepares room for a full page at every page and codes every page on its own, so
  // very large pages are left to the end-to-end tests, and long documents are written for few
  // inputs: here they would cost far more time than they find. 24 pages span two batches; 250,
  // three object-stream groups.
  if (write_pdf && text.size() < 4096 && paginator.pages() <= (long_document ? 250u : 24u) &&
      std::int64_t{layout.columns} * layout.lines_per_page <= 20000) {
    MemorySink memory(fail_at);
    PdfWriter writer(memory, layout, options.font, DocumentInfo{"title", "fuzz", 0}, 1);
    Paginator pdf_pages(layout.columns, layout.lines_per_page, options.tab_width, writer);
    pdf_pages.Feed(whole.data(), whole.size());
    if (!writer.failed()) pdf_pages.Finish();
    const bool finished = !writer.failed() && writer.Finish();
    FUZZ_CHECK(finished == !memory.failed_);
    if (finished) {
      FUZZ_CHECK(memory.bytes_.rfind("%PDF-", 0) == 0);
      FUZZ_CHECK(memory.bytes_.size() >= 6 &&
                 memory.bytes_.find("%%EOF", memory.bytes_.size() - 7) != std::string::npos);
    } else {
      FUZZ_CHECK(writer.failed() && !writer.error().empty());
    }
  }
  return 0;
}
