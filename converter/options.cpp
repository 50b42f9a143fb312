#include "converter/options.h"

#include <array>
#include <cctype>
#include <string>

#ifndef PAGEOUT_VERSION
#define PAGEOUT_VERSION "0"
#endif

namespace pageout::converter {
namespace {

constexpr std::string_view kHint = "; try 'text2pdf --help'";

constexpr int kMaxColumns = 1000;
constexpr int kMaxLines = 1000;
constexpr int kMaxTabWidth = 100;
constexpr Millipoints kMaxFontSize = 1000 * kPoint;
// A page between one inch and the largest size PDF readers accept (200 inches).
constexpr Millipoints kMinPageSide = 72 * kPoint;
constexpr Millipoints kMaxPageSide = 14400 * kPoint;

struct FaceName {
  std::string_view name;
  FontFace face;
};

constexpr std::array<FaceName, 4> kFaces{{
    {"Courier", FontFace::kCourier},
    {"Courier-Bold", FontFace::kCourierBold},
    {"Courier-Oblique", FontFace::kCourierOblique},
    {"Courier-BoldOblique", FontFace::kCourierBoldOblique},
}};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::optional<int> ParseCount(std::string_view text, int min, int max) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::optional<FontFace> ParseFace(std::string_view text) {
  for (const FaceName& face : kFaces) {
    if (EqualsIgnoringCase(text, face.name)) return face.face;
  }
  return std::nullopt;
}

ParseResult Error(std::string text) {
  ParseResult result;
  result.outcome = ParseOutcome::kError;
  result.error = "text2pdf: " + std::move(text) + std::string(kHint);
  return result;
}

}  // namespace

std::string_view FontName(FontFace face) {
  for (const FaceName& entry : kFaces) {
    if (entry.face == face) return entry.name;
  }
  return kFaces[0].name;
}

std::optional<Millipoints> ParsePoints(std::string_view text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  Millipoints whole = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] != '.'; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    whole = whole * 10 + (text[i] - '0');
  }
  Millipoints fraction = 0;
  if (i < text.size()) {
    std::string_view decimals = text.substr(i + 1);
    if (decimals.empty() && i == 0) return std::nullopt;
    if (decimals.size() > 3) return std::nullopt;
    Millipoints scale = 100;
    for (char c : decimals) {
      if (c < '0' || c > '9') return std::nullopt;
      fraction += (c - '0') * scale;
      scale /= 10;
    }
  }
  return whole * kPoint + fraction;
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  Options& options = result.options;
  std::vector<std::string> operands;
  bool options_ended = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    // Whole-word options first: "-letter" must not be read as -l with the value "etter".
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      result.outcome = ParseOutcome::kHelp;
      return result;
    }
    if (arg == "-V" || arg == "--version") {
      result.outcome = ParseOutcome::kVersion;
      return result;
    }
    if (arg == "-L") {
      options.landscape = true;
      continue;
    }
    if (arg == "-A4" || arg == "-a4") {
      options.paper = kA4;
      continue;
    }
    if (arg == "-A3" || arg == "-a3") {
      options.paper = kA3;
      continue;
    }
    if (arg == "-letter") {
      options.paper = kLetter;
      continue;
    }

    char letter = arg[1];
    if (std::string_view("clsvtxyfo").find(letter) == std::string_view::npos ||
        arg.rfind("--", 0) == 0) {
      return Error("unknown option '" + arg + "'");
    }
    std::string value;
    if (arg.size() > 2) {
      value = arg.substr(2);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return Error(std::string("option -") + letter + " needs a value");
    }
    auto bad_value = [&] {
      return Error("bad value '" + value + "' for option -" + letter);
    };

    switch (letter) {
      case 'c':
        if (auto n = ParseCount(value, 1, kMaxColumns)) options.columns = *n;
        else return bad_value();
        break;
      case 'l':
        if (auto n = ParseCount(value, 1, kMaxLines)) options.lines = *n;
        else return bad_value();
        break;
      case 't':
        if (auto n = ParseCount(value, 1, kMaxTabWidth)) options.tab_width = *n;
        else return bad_value();
        break;
      case 's':
      case 'v': {
        auto points = ParsePoints(value);
        if (!points || *points <= 0 || *points > kMaxFontSize) return bad_value();
        (letter == 's' ? options.font_size : options.line_spacing) = *points;
        break;
      }
      case 'x':
      case 'y': {
        auto points = ParsePoints(value);
        if (!points || *points < kMinPageSide || *points > kMaxPageSide) return bad_value();
        (letter == 'x' ? options.page_width : options.page_height) = *points;
        break;
      }
      case 'f':
        if (auto face = ParseFace(value)) options.font = *face;
        else return bad_value();
        break;
      case 'o':
        if (value.empty()) return bad_value();
        options.output = value == "-" ? std::string() : value;
        break;
      default:
        break;
    }
  }

  for (std::size_t i = 0; i < operands.size(); ++i) {
    if (i > 0) options.input += ' ';
    options.input += operands[i];
  }
  if (options.input == "-") options.input.clear();
  return result;
}

std::string UsageText() {
  return
      "Usage: text2pdf [options] [file]\n"
      "Converts a plain text file (standard input when there is none, or \"-\") into a PDF\n"
      "document written to standard output.\n"
      "\n"
      "  -L         landscape\n"
      "  -cN        characters per line (default 80); longer lines wrap\n"
      "  -lN        lines per page (default: as many as fit)\n"
      "  -sN        font size in points (default 10; smaller when the line would not fit)\n"
      "  -vN        line spacing in points (default 1.2 times the font size)\n"
      "  -tN        tab width (default 8)\n"
      "  -A4, -A3, -letter\n"
      "             paper size (default: the system's paper size, else letter)\n"
      "  -xN -yN    page width and height in points\n"
      "  -fNAME     font: Courier, Courier-Bold, Courier-Oblique, Courier-BoldOblique\n"
      "  -o FILE    write the PDF to FILE instead of standard output\n"
      "  -h, --help     show this text\n"
      "  -V, --version  show the version\n"
      "\n"
      "Values attach to their letter (-c132) or follow as the next argument (-c 132).\n"
      "The text is read as UTF-8, or as Windows-1252 where it is not valid UTF-8.\n";
}

std::string VersionText() { return "text2pdf " PAGEOUT_VERSION "\n"; }

}  // namespace pageout::converter
