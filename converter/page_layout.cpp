#include "converter/page_layout.h"

#include <algorithm>
#include <utility>

namespace pageout::converter {
namespace {

// The standard monospaced font's ascender and descender, per mille of the font size.
constexpr Millipoints kAscender = 629;
constexpr Millipoints kDescender = 157;

}  // namespace

PageLayout ComputeLayout(const Options& options, PaperSize default_paper) {
  PaperSize paper = options.paper.value_or(default_paper);
  PageLayout layout;
  layout.page_width = options.page_width.value_or(paper.width);
  layout.page_height = options.page_height.value_or(paper.height);
  if (options.landscape && layout.page_width < layout.page_height) {
    std::swap(layout.page_width, layout.page_height);
  }
  const Millipoints usable_width = layout.page_width - 2 * kMinMargin;
  const Millipoints usable_height = layout.page_height - 2 * kMinMargin;

  layout.columns = options.columns.value_or(kDefaultColumns);
  const Millipoints columns = layout.columns;
  Millipoints size = options.font_size.value_or(kDefaultFontSize);
  size = std::min(size, usable_width * 1000 / (kGlyphWidthPerMille * columns));
  size = std::max<Millipoints>(size, 1);

  Millipoints spacing = options.line_spacing.value_or(size * 6 / 5);
  spacing = std::max<Millipoints>(spacing, 1);
  if (options.lines) {
    layout.lines_per_page = *options.lines;
  } else {
    layout.lines_per_page = static_cast<int>(std::max<Millipoints>(usable_height / spacing, 1));
  }
  const Millipoints lines = layout.lines_per_page;
  if (lines * spacing > usable_height) {
    Millipoints fitted = std::max<Millipoints>(usable_height / lines, 1);
    size = std::max<Millipoints>(size * fitted / spacing, 1);
    spacing = fitted;
  }
  layout.font_size = size;
  layout.line_spacing = spacing;

  const Millipoints block_width = size * kGlyphWidthPerMille * columns / 1000;
  const Millipoints block_height = lines * spacing;
  layout.left = (layout.page_width - block_width) / 2;
  const Millipoints top = (layout.page_height - block_height) / 2;
  const Millipoints glyph_height = size * (kAscender + kDescender) / 1000;
  const Millipoints baseline_in_line = (spacing - glyph_height) / 2 + size * kAscender / 1000;
  layout.first_baseline = layout.page_height - top - baseline_in_line;
  return layout;
}

}  // namespace pageout::converter
