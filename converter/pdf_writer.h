// Writes the PDF document in one pass: pages go out as they are completed, and what the writer
// keeps is a few bytes per page for the cross-reference stream. The page objects travel in
// compressed object streams, a hundred at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "converter/deflate_pool.h"
#include "converter/flate_encoder.h"
#include "converter/options.h"
#include "converter/page_layout.h"
#include "converter/paginator.h"

namespace pageout::converter {

// Where the document goes.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all `size` bytes; false, with the system's reason in *reason, on failure.
  virtual bool Write(const char* data, std::size_t size, std::string* reason) = 0;
};

struct DocumentInfo {
  std::string title;            // UTF-8 (other bytes are read as Windows-1252); empty: no title
  std::string producer;
  std::int64_t creation_time = 0;  // seconds since 1970-01-01 00:00 UTC
};

// "123.456": millipoints as points with at most three decimals, trailing zeros dropped.
std::string FormatPoints(Millipoints value);
// A PDF date, "D:YYYYMMDDHHmmSSZ", for seconds since 1970-01-01 00:00 UTC.
std::string FormatPdfDate(std::int64_t seconds);
// A PDF text string: a literal string for printable ASCII, else UTF-16BE with a byte order mark.
std::string FormatTextString(std::string_view utf8);

class PdfWriter final : public PageSink {
 public:
  // Compresses pages with `threads` worker threads.
  PdfWriter(ByteSink& out, const PageLayout& layout, FontFace font, DocumentInfo info,
            unsigned threads);

  void Line(std::string_view text) override;
  void EndPage() override;

  // Writes the rest of the document after the last page. False when a write failed, now or before.
  bool Finish();

  // A write failed; the writer has stopped writing. error() holds the system's reason.
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  std::uint64_t bytes_written() const { return offset_; }

 private:
  void Put(std::string_view bytes);
  void PutNumber(std::uint64_t value);
  void Flush();
  void BeginObject(std::uint64_t number);
  void SubmitBatch();
  void WriteBatch(std::unique_ptr<DeflatePool::Batch> batch);
  std::string SpareString();
  void WriteObjectStream();
  void WriteCrossReference(std::uint64_t info_object);
  void CompressCrossReference(std::uint64_t xref_offset, int width,
                              const std::function<void(std::string_view)>& emit);

  ByteSink& out_;
  PageLayout layout_;
  FontFace font_;
  DocumentInfo info_;
  DeflatePool pool_;
  FlateEncoder object_encoder_;  // for the object streams, with their buffers
  std::string object_index_;
  std::string object_text_;
  std::string object_stream_;
  std::size_t max_pending_;

  std::string page_prefix_;  // the operators that start every page's text
  std::string content_;      // the current page's content stream
  std::size_t content_reserve_ = 0;
  int blank_lines_ = 0;      // blank lines not yet written on the current page
  std::unique_ptr<DeflatePool::Batch> batch_;
  // Batches and page strings written out, kept for reuse with their capacity.
  std::vector<std::unique_ptr<DeflatePool::Batch>> spare_batches_;
  std::vector<std::string> spare_strings_;
  std::size_t batch_bytes_ = 0;
  std::uint64_t pages_written_ = 0;

  // Where the objects are, for the cross-reference stream: the catalog and the font, the pages
  // tree and the information; per group of pages its first content stream and its object stream;
  // per page its content stream, from the start of its group. A deque grows in small blocks, so
  // the table costs four bytes a page and never a copy of itself.
  std::vector<std::uint64_t> first_offsets_;
  std::uint64_t pages_offset_ = 0;
  std::uint64_t info_offset_ = 0;
  std::deque<std::uint64_t> group_starts_;
  std::deque<std::uint64_t> object_stream_offsets_;
  std::deque<std::uint32_t> page_offsets_;

  std::string buffer_;
  std::uint64_t offset_ = 0;
  bool failed_ = false;
  std::string error_;
};

}  // namespace pageout::converter
