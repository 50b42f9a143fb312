// Breaks the decoded text into lines of at most a given number of characters and the lines into
// pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pageout::converter {

// Receives the pages, one line at a time.
class PageSink {
 public:
  virtual ~PageSink() = default;
  // One line of the current page: WinAnsi codes 0x20-0xFF, at most `columns` of them, possibly
  // none. Trailing blanks are kept.
  virtual void Line(std::string_view text) = 0;
  // Ends the current page; the next Line starts a new one. A page may hold no lines.
  virtual void EndPage() = 0;
};

// Lays out the stream of a TextDecoder.
//  - A line longer than `columns` characters wraps: the rest continues on the next line.
//  - A tab moves to the next multiple of `tab_width` within the line, at most to its end.
//  - A form feed ends the page (and the line it stands in, if that holds anything). A form feed on
//    a page that is still empty because the previous page filled up, or because nothing has been
//    read yet, is absorbed, so that text paginated by its author does not gain blank pages.
//  - A page holds `lines_per_page` lines.
//  - The document has at least one page; a page left empty at the end after others is dropped.
class Paginator {
 public:
  Paginator(int columns, int lines_per_page, int tab_width, PageSink& sink);

  void Feed(const unsigned char* data, std::size_t size);
  // Ends the last line and page. Call once, after the last Feed.
  void Finish();

  std::uint64_t pages() const { return pages_; }

 private:
  void EndLine();
  void EndPage();

  std::size_t columns_;
  int lines_per_page_;
  std::size_t tab_width_;
  PageSink& sink_;
  std::string line_;
  bool line_open_ = false;       // a character or tab has started the current line
  int lines_on_page_ = 0;
  bool page_absorbs_feed_ = true;  // the open page began by overflow or at the start
  std::uint64_t pages_ = 0;
};

}  // namespace pageout::converter
