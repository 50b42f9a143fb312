#include "converter/paginator.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "converter/text_decoder.h"

namespace pageout::converter {
namespace {

// The first control code (below 0x20) from `p` on, or `end`. Eight bytes at a time: subtracting
// 0x20 from each byte borrows into the high bit exactly for those below 0x20 that lack it, up to
// the first such byte.
const unsigned char* EndOfRun(const unsigned char* p, const unsigned char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  while (end - p >= 8) {
    std::uint64_t bytes;
    std::memcpy(&bytes, p, sizeof bytes);
    const std::uint64_t below = (bytes - 0x20 * kOnes) & ~bytes & kHighBits;
    if (below != 0) {
      // Little-endian: the lowest marked byte is the first control code.
      return p + std::countr_zero(below) / 8;
    }
    p += 8;
  }
  while (p < end && *p >= 0x20) ++p;
  return p;
}

}  // namespace

Paginator::Paginator(int columns, int lines_per_page, int tab_width, PageSink& sink)
    : columns_(static_cast<std::size_t>(columns)),
      lines_per_page_(lines_per_page),
      tab_width_(static_cast<std::size_t>(tab_width)),
      sink_(sink) {
  line_.reserve(columns_);
}

void Paginator::Feed(const unsigned char* data, std::size_t size) {
  const unsigned char* p = data;
  const unsigned char* end = data + size;
  while (p < end) {
    if (*p >= 0x20) {
      // Copy the run of characters up to the next control code, a line's width at a time.
      const unsigned char* run = p;
      p = EndOfRun(p, end);
      while (run < p) {
        if (line_.size() == columns_) EndLine();
        std::size_t take = std::min(static_cast<std::size_t>(p - run), columns_ - line_.size());
        line_.append(reinterpret_cast<const char*>(run), take);
        line_open_ = true;
        run += take;
      }
      continue;
    }
    switch (*p++) {
      case kLineEnd:
        EndLine();
        break;
      case kTab: {
        if (line_.size() == columns_) EndLine();
        std::size_t stop = (line_.size() / tab_width_ + 1) * tab_width_;
        line_.append(std::min(stop, columns_) - line_.size(), ' ');
        line_open_ = true;
        break;
      }
      case kFormFeed:
        if (line_open_) EndLine();
        if (lines_on_page_ > 0 || !page_absorbs_feed_) EndPage();
        page_absorbs_feed_ = false;
        break;
      default:
        break;
    }
  }
}

void Paginator::EndLine() {
  sink_.Line(line_);
  line_.clear();
  line_open_ = false;
  if (++lines_on_page_ == lines_per_page_) {
    EndPage();
    page_absorbs_feed_ = true;
  }
}

void Paginator::EndPage() {
  sink_.EndPage();
  ++pages_;
  lines_on_page_ = 0;
}

void Paginator::Finish() {
  if (line_open_) EndLine();
  if (lines_on_page_ > 0 || pages_ == 0) EndPage();
}

}  // namespace pageout::converter
