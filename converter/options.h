// The command line of text2pdf: options, their values and the usage texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "converter/paper.h"

namespace pageout::converter {

// The four faces of the standard monospaced PDF font.
enum class FontFace { kCourier, kCourierBold, kCourierOblique, kCourierBoldOblique };

// The PDF name of a face, e.g. "Courier-Bold".
std::string_view FontName(FontFace face);

// Lengths are in thousandths of a point, so that layout arithmetic is exact and identical on every
// platform.
using Millipoints = std::int64_t;
constexpr Millipoints kPoint = 1000;

struct Options {
  std::string input;              // the file to read; empty or "-" means standard input
  std::string output;             // -o: the file to write; empty (or "-o -") means standard output
  bool landscape = false;         // -L
  std::optional<int> columns;     // -c: characters per line
  std::optional<int> lines;       // -l: lines per page
  std::optional<Millipoints> font_size;     // -s
  std::optional<Millipoints> line_spacing;  // -v
  int tab_width = 8;              // -t
  std::optional<PaperSize> paper;           // -A4, -A3, -letter
  std::optional<Millipoints> page_width;    // -x
  std::optional<Millipoints> page_height;   // -y
  FontFace font = FontFace::kCourier;       // -f
};

enum class ParseOutcome {
  kRun,      // convert with the options
  kHelp,     // print the usage text, exit 0
  kVersion,  // print the version line, exit 0
  kError,    // print the error line, exit 2
};

struct ParseResult {
  ParseOutcome outcome = ParseOutcome::kRun;
  Options options;
  std::string error;  // for kError: one line (without the newline) naming the option and the hint
};

// Parses the arguments after the program name. Values attach to their letter ("-c132") or stand
// as the next argument ("-c 132"). More than one operand is taken as one file name with single
// blanks between the parts, since a command interpreter splits an unquoted name at its blanks.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The text printed by -h/--help and -V/--version, each ending with a newline.
std::string UsageText();
std::string VersionText();

// Parses a non-negative decimal number of points with at most three decimals ("8", "6.5") into
// millipoints; nullopt for anything else.
std::optional<Millipoints> ParsePoints(std::string_view text);

}  // namespace pageout::converter
