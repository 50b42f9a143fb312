#include "converter/paginator.h"

#include <algorithm>

#include "converter/text_decoder.h"

namespace pageout::converter {

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
      while (p < end && *p >= 0x20) ++p;
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
