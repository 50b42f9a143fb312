// The geometry of the pages: paper, font size, line spacing and where the text block sits.
#pragma once

#include "converter/options.h"
#include "converter/paper.h"

namespace pageout::converter {

// Blank edge kept on every side of the page, about what printers cannot print on (a quarter inch).
constexpr Millipoints kMinMargin = 18 * kPoint;
constexpr Millipoints kDefaultFontSize = 10 * kPoint;
constexpr int kDefaultColumns = 80;
// Every glyph of the standard monospaced font is 600/1000 of the font size wide.
constexpr Millipoints kGlyphWidthPerMille = 600;

struct PageLayout {
  Millipoints page_width = 0;
  Millipoints page_height = 0;
  Millipoints font_size = 0;
  Millipoints line_spacing = 0;
  int columns = 0;
  int lines_per_page = 0;
  Millipoints left = 0;            // x of the start of every line
  Millipoints first_baseline = 0;  // y of the first line's baseline, from the bottom edge
};

// Fits the requested layout onto the page. The page is the paper of the options (-A4, -A3,
// -letter, overridden by -x/-y) or `default_paper`, turned so that its long side is horizontal
// with -L. A line of `columns` characters always fits between the margins: the font shrinks when
// the requested (or default) size would be too wide. The page holds `lines` lines (as many as fit
// when not given): when they would not fit, spacing and font shrink together. Without -v the
// spacing is 1.2 times the font size. The text block is centred on the page.
PageLayout ComputeLayout(const Options& options, PaperSize default_paper);

}  // namespace pageout::converter
