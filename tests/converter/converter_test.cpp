// Unit tests of the converter's neutral parts: option parsing, paper names, the decoder fed in
// pieces, pagination, page geometry and the PDF syntax helpers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include <string>
#include <vector>

#include "converter/flate_encoder.h"
#include "converter/options.h"
#include "converter/page_layout.h"
#include "converter/paginator.h"
#include "converter/paper.h"
#include "converter/pdf_writer.h"
#include "converter/text_decoder.h"

namespace pageout::converter {
namespace {

using namespace std::string_literals;

TEST(Options, ValuesAttachedOrSeparateAndOperands) {
  ParseResult parsed = ParseCommandLine(
      {"-c132", "-l", "92", "-s6.5", "-v", "8", "-t4", "-L", "-A4", "-fcourier-bold", "-o",
       "out.pdf", "my", "notes.txt"});
  ASSERT_EQ(parsed.outcome, ParseOutcome::kRun) << parsed.error;
  const Options& o = parsed.options;
  EXPECT_EQ(o.columns, 132);
  EXPECT_EQ(o.lines, 92);
  EXPECT_EQ(o.font_size, 6500);
  EXPECT_EQ(o.line_spacing, 8000);
  EXPECT_EQ(o.tab_width, 4);
  EXPECT_TRUE(o.landscape);
  EXPECT_EQ(o.paper, kA4);
  EXPECT_EQ(o.font, FontFace::kCourierBold);
  EXPECT_EQ(o.output, "out.pdf");
  EXPECT_EQ(o.input, "my notes.txt");

  EXPECT_EQ(ParseCommandLine({"-"}).options.input, "");
  EXPECT_EQ(ParseCommandLine({"--", "-c80"}).options.input, "-c80");
  EXPECT_EQ(ParseCommandLine({"-letter"}).options.paper, kLetter);
  EXPECT_EQ(ParseCommandLine({"-x", "500.5", "-y700"}).options.page_width, 500500);
  EXPECT_EQ(ParseCommandLine({"-c80", "--help", "-q"}).outcome, ParseOutcome::kHelp);
  EXPECT_EQ(ParseCommandLine({"-V"}).outcome, ParseOutcome::kVersion);
}

TEST(Options, ErrorsNameTheOptionAndHint) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-q"}, "text2pdf: unknown option '-q'; try 'text2pdf --help'"},
      {{"--lines=3"}, "text2pdf: unknown option '--lines=3'; try 'text2pdf --help'"},
      {{"-c"}, "text2pdf: option -c needs a value; try 'text2pdf --help'"},
      {{"-c0"}, "text2pdf: bad value '0' for option -c; try 'text2pdf --help'"},
      {{"-l1001"}, "text2pdf: bad value '1001' for option -l; try 'text2pdf --help'"},
      {{"-s", "1e3"}, "text2pdf: bad value '1e3' for option -s; try 'text2pdf --help'"},
      {{"-v."}, "text2pdf: bad value '.' for option -v; try 'text2pdf --help'"},
      {{"-x71.999"}, "text2pdf: bad value '71.999' for option -x; try 'text2pdf --help'"},
      {{"-fTimes"}, "text2pdf: bad value 'Times' for option -f; try 'text2pdf --help'"},
      {{"-letterx"}, "text2pdf: bad value 'etterx' for option -l; try 'text2pdf --help'"},
  };
  for (const auto& [args, error] : cases) {
    ParseResult parsed = ParseCommandLine(args);
    EXPECT_EQ(parsed.outcome, ParseOutcome::kError) << args[0];
    EXPECT_EQ(parsed.error, error);
  }
}

TEST(Options, Points) {
  EXPECT_EQ(ParsePoints("8"), 8000);
  EXPECT_EQ(ParsePoints("6.5"), 6500);
  EXPECT_EQ(ParsePoints(".25"), 250);
  EXPECT_EQ(ParsePoints("7."), 7000);
  EXPECT_EQ(ParsePoints("0.001"), 1);
  for (const char* bad : {"", ".", "-1", "1.2345", "1,5", "1e2", "+3", "12 "}) {
    EXPECT_EQ(ParsePoints(bad), std::nullopt) << bad;
  }
}

TEST(Paper, NamesAndConfigurationFiles) {
  EXPECT_EQ(PaperByName(" A4\n"), kA4);
  EXPECT_EQ(PaperByName("Letter"), kLetter);
  EXPECT_EQ(PaperByName("a3"), kA3);
  EXPECT_EQ(PaperByName("a4x"), std::nullopt);
  EXPECT_EQ(PaperFromConfigFile("# comment\n\n   letter  \na4\n"), kLetter);
  EXPECT_EQ(PaperFromConfigFile("# only a comment\n"), std::nullopt);
  EXPECT_EQ(PaperFromConfigFile("unknown\na4\n"), std::nullopt);
}

std::string DecodeInPieces(const std::string& input, std::size_t piece) {
  TextDecoder decoder;
  std::string out;
  std::string pending;
  std::size_t at = 0;
  for (;;) {
    std::size_t take = std::min(piece, input.size() - at);
    pending += input.substr(at, take);
    at += take;
    const bool last = at == input.size();
    std::string decoded(pending.size(), '\0');
    std::size_t written = 0;
    std::size_t used = decoder.Decode(reinterpret_cast<const unsigned char*>(pending.data()),
                                      pending.size(), last,
                                      reinterpret_cast<unsigned char*>(decoded.data()), &written);
    out += decoded.substr(0, written);
    pending.erase(0, used);
    if (last) {
      EXPECT_TRUE(pending.empty());
      return out;
    }
  }
}

TEST(TextDecoder, SameResultWhateverThePieces) {
  // BOM, CR LF, lone CR, 2-, 3- and 4-byte sequences, sequences cut short or invalid, Windows-1252.
  const std::string input =
      "\xEF\xBB\xBF" "a\r\nb\rc\n\t\f" "caf\xC3\xA9 \xE2\x80\x9C\xE2\x82\xAC\xE2\x80\x9D "
      "\xF0\x9F\x98\x80 \xC3(\xE2\x82 \xED\xA0\x80 \xC0\xAF \xF4\x90\x80\x80 \x93q\x94 \x81"
      "\x00\x1B\x7F\r"s;
  const std::string expected =
      "a\nb\nc\n\t\f" "caf\xE9 \x93\x80\x94 ? \xC3(\xE2\x82 \xED\xA0\x80 \xC0\xAF \xF4?\x80\x80 "
      "\x93q\x94 ????\n";
  for (std::size_t piece = 1; piece <= input.size(); ++piece) {
    EXPECT_EQ(DecodeInPieces(input, piece), expected) << "pieces of " << piece;
  }
}

TEST(TextDecoder, ByteOrderMarkOnlyAtTheStart) {
  EXPECT_EQ(DecodeInPieces("\xEF\xBB\xBFx\xEF\xBB\xBF", 1), "x?");
  EXPECT_EQ(DecodeInPieces("\xEF\xBB", 1), "\xEF\xBB");
  EXPECT_EQ(DecodeInPieces("", 1), "");
}

TEST(TextDecoder, WinAnsiOfUnicode) {
  EXPECT_EQ(WinAnsiFromUnicode('A'), 'A');
  EXPECT_EQ(WinAnsiFromUnicode(0x20AC), 0x80);
  EXPECT_EQ(WinAnsiFromUnicode(0x0178), 0x9F);
  EXPECT_EQ(WinAnsiFromUnicode(0xFF), 0xFF);
  for (std::uint32_t none : {0x00u, 0x09u, 0x7Fu, 0x81u, 0x9Fu, 0x100u, 0x3A9u, 0xFFFDu, 0x1F600u}) {
    EXPECT_EQ(WinAnsiFromUnicode(none), kReplacement) << none;
  }
  EXPECT_EQ(UnicodeFromWindows1252(0x80), 0x20ACu);
  EXPECT_EQ(UnicodeFromWindows1252(0x8D), 0xFFFDu);
  EXPECT_EQ(UnicodeFromWindows1252(0xE9), 0xE9u);
}

// Records pages as lines joined with '|'.
class Recorder : public PageSink {
 public:
  void Line(std::string_view text) override { page_.push_back(std::string(text)); }
  void EndPage() override {
    std::string joined;
    for (std::size_t i = 0; i < page_.size(); ++i) joined += (i ? "|" : "") + page_[i];
    pages.push_back(joined);
    page_.clear();
  }
  std::vector<std::string> pages;

 private:
  std::vector<std::string> page_;
};

TEST(Paginator, LinesAndPages) {
  struct Case {
    const char* input;  // decoded stream
    int columns, lines, tab;
    std::vector<std::string> pages;
  };
  const std::vector<Case> cases = {
      {"", 80, 3, 8, {""}},
      {"\n", 80, 3, 8, {""}},
      {"a", 80, 3, 8, {"a"}},
      {"a\n\nb\n", 80, 3, 8, {"a||b"}},
      {"abcdefg\n", 3, 9, 8, {"abc|def|g"}},
      {"abcdef\n", 3, 9, 8, {"abc|def"}},
      {"1\n2\n3\n4\n", 80, 2, 8, {"1|2", "3|4"}},
      {"\f1\n\f\f2", 80, 3, 8, {"1", "", "2"}},
      {"1\n2\n\f3", 80, 2, 8, {"1|2", "3"}},
      {"1\f", 80, 3, 8, {"1"}},
      {"a\tb\tc", 80, 3, 4, {"a   b   c"}},
      {"abcde\tf", 6, 3, 4, {"abcde |f"}},
      {"abcdef\tg", 6, 3, 4, {"abcdef|    g"}},
      {"\t\n", 80, 3, 8, {"        "}},
  };
  for (const Case& c : cases) {
    Recorder recorder;
    Paginator paginator(c.columns, c.lines, c.tab, recorder);
    std::string input = c.input;
    paginator.Feed(reinterpret_cast<const unsigned char*>(input.data()), input.size());
    paginator.Finish();
    EXPECT_EQ(recorder.pages, c.pages) << "input: " << c.input;
    EXPECT_EQ(paginator.pages(), c.pages.size());
  }
}

TEST(PageLayout, TheThreeLayoutsFitLetterAndA4) {
  struct Case {
    std::vector<std::string> args;
    int columns, lines;
  };
  const std::vector<Case> cases = {
      {{"-c160", "-L", "-s8", "-v7"}, 160, 0},
      {{"-l92", "-c132", "-s6", "-v8"}, 132, 92},
      {{}, 80, 0},
  };
  for (const Case& c : cases) {
    for (PaperSize paper : {kLetter, kA4}) {
      Options options = ParseCommandLine(c.args).options;
      PageLayout layout = ComputeLayout(options, paper);
      const Millipoints width = layout.font_size * kGlyphWidthPerMille * c.columns / 1000;
      EXPECT_EQ(layout.columns, c.columns);
      EXPECT_GE(layout.left, kMinMargin);
      EXPECT_LE(layout.left + width, layout.page_width - kMinMargin);
      const Millipoints usable_height = layout.page_height - 2 * kMinMargin;
      EXPECT_LE(layout.lines_per_page * layout.line_spacing, usable_height);
      if (c.lines != 0) {
        EXPECT_EQ(layout.lines_per_page, c.lines);
      } else {  // as many as fit
        EXPECT_GT((layout.lines_per_page + 1) * layout.line_spacing, usable_height);
      }
      EXPECT_EQ(layout.page_width > layout.page_height, options.landscape);
    }
  }
  // Landscape 160 columns of 8 points need 768 points: A4 has room, letter shrinks the font.
  EXPECT_EQ(ComputeLayout(ParseCommandLine({"-c160", "-L", "-s8"}).options, kA4).font_size, 8000);
  EXPECT_EQ(ComputeLayout(ParseCommandLine({"-c160", "-L", "-s8"}).options, kLetter).font_size,
            7875);
}

TEST(PageLayout, TooManyLinesShrinkSpacingAndFontTogether) {
  PageLayout layout = ComputeLayout(ParseCommandLine({"-l189", "-s8", "-v8"}).options, kLetter);
  EXPECT_EQ(layout.lines_per_page, 189);
  EXPECT_EQ(layout.line_spacing, 4000);  // 756 points for 189 lines
  EXPECT_EQ(layout.font_size, 4000);
}

TEST(PdfSyntax, NumbersDatesAndStrings) {
  EXPECT_EQ(FormatPoints(8000), "8");
  EXPECT_EQ(FormatPoints(7875), "7.875");
  EXPECT_EQ(FormatPoints(594640), "594.64");
  EXPECT_EQ(FormatPoints(-1500), "-1.5");
  EXPECT_EQ(FormatPdfDate(0), "D:19700101000000Z");
  EXPECT_EQ(FormatPdfDate(951782400), "D:20000229000000Z");
  EXPECT_EQ(FormatPdfDate(1700000000), "D:20231114221320Z");
  EXPECT_EQ(FormatTextString("a (b) \\c"), "(a \\(b\\) \\\\c)");
  EXPECT_EQ(FormatTextString("\xC3\xA9\xF0\x9F\x98\x80"), "<FEFF00E9D83DDE00>");
  EXPECT_EQ(FormatTextString("\xE9t\xE9"), "<FEFF00E9007400E9>");
}

std::string Inflate(const std::string& stream, std::size_t size) {
  std::string out(size + 1, '\0');
  uLongf length = static_cast<uLongf>(out.size());
  int status = uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                          reinterpret_cast<const Bytef*>(stream.data()),
                          static_cast<uLong>(stream.size()));
  EXPECT_EQ(status, Z_OK);
  out.resize(length);
  return out;
}

TEST(FlateEncoder, ZlibDecodesWhatItWrites) {
  std::mt19937 random(6);
  std::string text;
  for (int i = 0; i < 30000; ++i) text += "word" + std::to_string(random() % 500) + (i % 9 ? " " : "\n");
  std::string noise;
  for (int i = 0; i < 70000; ++i) noise += static_cast<char>(random());
  // Symbol k appears about 1.6^k times: a Huffman code for it is deeper than deflate allows.
  std::string skewed;
  double count = 1;
  for (char c = 'A'; c <= 'Z'; ++c, count *= 1.6) skewed.append(static_cast<std::size_t>(count), c);
  std::shuffle(skewed.begin(), skewed.end(), random);
  // A repeat exactly at the window's reach, 32768 bytes back.
  std::string far = noise.substr(0, 40000);
  far += far.substr(far.size() - 32768, 300);

  const std::vector<std::string> inputs = {
      "", "x", "abc", "abcdabcdabcdabcd", std::string(100000, 'a'), text, noise, skewed, far,
      text + noise + text};
  FlateEncoder encoder;  // one encoder for all, as a worker uses it
  for (int round = 0; round < 2; ++round) {
    for (const std::string& input : inputs) {
      std::string stream;
      encoder.Compress(input, &stream);
      EXPECT_EQ(Inflate(stream, input.size()), input) << "input of " << input.size() << " bytes";
      if (input == text) {
        EXPECT_LT(stream.size(), input.size() / 2);
      }
    }
  }
}

}  // namespace
}  // namespace pageout::converter
