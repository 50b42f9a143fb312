#include "converter/pdf_writer.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <functional>

#include <zlib.h>

#include "converter/text_decoder.h"

namespace pageout::converter {
namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
// Pages are handed to the compressing threads in batches of about this many bytes, so that a
// thread's work outweighs the hand-over.
constexpr std::size_t kBatchBytes = 64 * 1024;
constexpr std::size_t kBatchPages = 16;

// Objects 1 to 3 come first. Pages follow in groups of kGroupPages: a group starts with the object
// stream that holds its page objects, then has, for its page i (from 0), the content stream in
// object base + 1 + 2i and the page object in base + 2 + 2i. The document information and the
// cross-reference stream follow the last page. Every number follows from the page's index, so the
// writer needs no table of object numbers.
constexpr std::uint64_t kCatalogObject = 1;
constexpr std::uint64_t kPagesObject = 2;
constexpr std::uint64_t kFontObject = 3;
constexpr std::uint64_t kGroupPages = 100;
constexpr std::uint64_t GroupBase(std::uint64_t group) { return 4 + group * (2 * kGroupPages + 1); }
constexpr std::uint64_t ContentObject(std::uint64_t page) {
  return GroupBase(page / kGroupPages) + 1 + 2 * (page % kGroupPages);
}
constexpr std::uint64_t PageObject(std::uint64_t page) { return ContentObject(page) + 1; }

// zlib compression fed piece by piece, handing each piece of its output to `emit`.
class ZlibStream {
 public:
  ZlibStream(int level, std::function<void(std::string_view)> emit) : emit_(std::move(emit)) {
    deflateInit(&stream_, level);
  }
  ~ZlibStream() { deflateEnd(&stream_); }
  ZlibStream(const ZlibStream&) = delete;
  ZlibStream& operator=(const ZlibStream&) = delete;

  void Add(std::string_view data) { Run(data, Z_NO_FLUSH); }
  void Finish() { Run({}, Z_FINISH); }

 private:
  void Run(std::string_view data, int flush) {
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream_.avail_in = static_cast<uInt>(data.size());
    for (;;) {
      char piece[16384];
      stream_.next_out = reinterpret_cast<Bytef*>(piece);
      stream_.avail_out = sizeof piece;
      int status = deflate(&stream_, flush);
      emit_(std::string_view(piece, sizeof piece - stream_.avail_out));
      if (flush == Z_FINISH ? status == Z_STREAM_END : stream_.avail_in == 0) break;
      if (status != Z_OK && status != Z_BUF_ERROR) break;
    }
  }

  z_stream stream_{};
  std::function<void(std::string_view)> emit_;
};

std::string ToString(std::uint64_t value) {
  std::array<char, 24> digits{};
  auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  return std::string(digits.data(), result.ptr);
}

// The Unicode code points of a text held as UTF-8, where bytes outside valid sequences are read
// as Windows-1252.
std::vector<std::uint32_t> CodePoints(std::string_view text) {
  std::vector<std::uint32_t> result;
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      result.push_back(b);
      ++i;
      continue;
    }
    int length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    std::uint32_t code_point = 0;
    bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
    if (valid) {
      code_point = b & (0x7Fu >> length);
      for (int k = 1; k < length && valid; ++k) {
        auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        valid = (c & 0xC0) == 0x80;
        code_point = (code_point << 6) | (c & 0x3Fu);
      }
      // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
      static constexpr std::array<std::uint32_t, 5> kMinimum{0, 0, 0x80, 0x800, 0x10000};
      valid = valid && code_point >= kMinimum[static_cast<std::size_t>(length)] &&
              code_point <= 0x10FFFF && (code_point < 0xD800 || code_point > 0xDFFF);
    }
    if (valid) {
      result.push_back(code_point);
      i += static_cast<std::size_t>(length);
    } else {
      result.push_back(UnicodeFromWindows1252(b));
      ++i;
    }
  }
  return result;
}

// `value` in decimal with leading zeros to `width` digits.
std::string Padded(std::uint64_t value, std::size_t width) {
  std::string digits = ToString(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

std::string Padded(std::int64_t value, std::size_t width) {
  return Padded(static_cast<std::uint64_t>(value < 0 ? 0 : value), width);
}

// The first of the characters a PDF string must escape ( "(", ")" and "\\" ) from `p` on, or
// `end`; eight bytes at a time, by the test for a zero byte applied to the bytes exclusive-ored
// with each of the three (exact for the first one found).
const char* NextDelimiter(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  auto zero_bytes = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighBits; };
  while (end - p >= 8) {
    std::uint64_t bytes;
    std::memcpy(&bytes, p, sizeof bytes);
    const std::uint64_t found = zero_bytes(bytes ^ ('(' * kOnes)) |
                                zero_bytes(bytes ^ (')' * kOnes)) |
                                zero_bytes(bytes ^ ('\\' * kOnes));
    if (found != 0) return p + std::countr_zero(found) / 8;
    p += 8;
  }
  while (p < end && *p != '(' && *p != ')' && *p != '\\') ++p;
  return p;
}

// Room for the content stream of a full page of full lines without escapes: the operators that
// start the page and, per line, the characters, "()'" and a line end; 64 bytes to spare.
std::size_t ContentReserve(const PageLayout& layout) {
  return 64 + static_cast<std::size_t>(layout.lines_per_page) *
                  (static_cast<std::size_t>(layout.columns) + 4);
}

}  // namespace

std::string FormatPoints(Millipoints value) {
  std::string text;
  if (value < 0) {
    text = "-";
    value = -value;
  }
  text += ToString(static_cast<std::uint64_t>(value / 1000));
  auto fraction = static_cast<int>(value % 1000);
  if (fraction != 0) {
    char digits[4] = {static_cast<char>('0' + fraction / 100),
                      static_cast<char>('0' + fraction / 10 % 10),
                      static_cast<char>('0' + fraction % 10), 0};
    std::size_t length = 3;
    while (digits[length - 1] == '0') --length;
    text += '.';
    text.append(digits, length);
  }
  return text;
}

std::string FormatPdfDate(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from a day count (the proleptic Gregorian calendar, eras of 400 years).
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_index = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const std::int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);

  return "D:" + Padded(year, 4) + Padded(month, 2) + Padded(day, 2) + Padded(rest / 3600, 2) +
         Padded(rest / 60 % 60, 2) + Padded(rest % 60, 2) + "Z";
}

std::string FormatTextString(std::string_view utf8) {
  bool printable = true;
  for (char c : utf8) printable = printable && c >= 0x20 && c < 0x7F;
  if (printable) {
    std::string text = "(";
    for (char c : utf8) {
      if (c == '(' || c == ')' || c == '\\') text += '\\';
      text += c;
    }
    return text + ")";
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "<FEFF";
  auto put_unit = [&](std::uint32_t unit) {
    for (int shift = 12; shift >= 0; shift -= 4) text += kHex[(unit >> shift) & 0xF];
  };
  for (std::uint32_t code_point : CodePoints(utf8)) {
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      put_unit(0xD800 + (code_point >> 10));
      put_unit(0xDC00 + (code_point & 0x3FF));
    } else {
      put_unit(code_point);
    }
  }
  return text + ">";
}

PdfWriter::PdfWriter(ByteSink& out, const PageLayout& layout, FontFace font, DocumentInfo info,
                     unsigned threads)
    : out_(out),
      layout_(layout),
      font_(font),
      info_(std::move(info)),
      pool_(threads, ContentReserve(layout)),
      max_pending_(2 * static_cast<std::size_t>(threads == 0 ? 1 : threads)) {
  buffer_.reserve(kBufferSize);
  // Each line is shown with the ' operator, which first moves down by the leading, so the text
  // position starts one line above the first baseline.
  page_prefix_ = "BT\n/F1 " + FormatPoints(layout_.font_size) + " Tf\n" +
                 FormatPoints(layout_.line_spacing) + " TL\n" + FormatPoints(layout_.left) + " " +
                 FormatPoints(layout_.first_baseline + layout_.line_spacing) + " Td\n";
  content_reserve_ = ContentReserve(layout_);
  content_ = SpareString();
  content_ = page_prefix_;

  // A binary comment after the header tells transfer programs that the file is not text.
  Put("%PDF-1.5\n%\xE2\xE3\xCF\xD3\n");
  BeginObject(kCatalogObject);
  Put("<</Type/Catalog/Pages 2 0 R>>\nendobj\n");
  BeginObject(kFontObject);
  Put("<</Type/Font/Subtype/Type1/BaseFont/");
  Put(FontName(font_));
  Put("/Encoding/WinAnsiEncoding>>\nendobj\n");
}

void PdfWriter::Line(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) {
    ++blank_lines_;
    return;
  }
  for (; blank_lines_ > 0; --blank_lines_) content_ += "T*\n";
  content_ += '(';
  const char* run = text.data();
  const char* end = run + text.size();
  const char* p = run;
  while (p < end) {
    p = NextDelimiter(p, end);
    if (p == end) break;
    content_.append(run, static_cast<std::size_t>(p - run));
    content_ += '\\';
    run = p++;
  }
  content_.append(run, static_cast<std::size_t>(end - run));
  content_ += ")'\n";
}

void PdfWriter::EndPage() {
  content_ += "ET\n";
  blank_lines_ = 0;
  batch_bytes_ += content_.size();
  if (!batch_) {
    if (spare_batches_.empty()) {
      batch_ = std::make_unique<DeflatePool::Batch>();
    } else {
      batch_ = std::move(spare_batches_.back());
      spare_batches_.pop_back();
    }
  }
  batch_->data.push_back(std::move(content_));
  content_ = SpareString();
  content_ = page_prefix_;
  if (batch_bytes_ >= kBatchBytes || batch_->data.size() >= kBatchPages) SubmitBatch();
}

std::string PdfWriter::SpareString() {
  if (spare_strings_.empty()) {
    // Written over once, so that the string takes its pages of memory now rather than bit by bit
    // as longer pages come along.
    std::string fresh(content_reserve_, '\0');
    fresh.clear();
    return fresh;
  }
  std::string spare = std::move(spare_strings_.back());
  spare_strings_.pop_back();
  return spare;
}

void PdfWriter::SubmitBatch() {
  if (!batch_) return;
  pool_.Submit(std::move(batch_));
  batch_bytes_ = 0;
  while (pool_.pending() > max_pending_) WriteBatch(pool_.TakeOldest());
}

void PdfWriter::WriteBatch(std::unique_ptr<DeflatePool::Batch> batch) {
  for (const std::string& stream : batch->compressed) {
    const std::uint64_t page = pages_written_++;
    if (page % kGroupPages == 0) group_starts_.push_back(offset_);
    page_offsets_.push_back(static_cast<std::uint32_t>(offset_ - group_starts_.back()));
    PutNumber(ContentObject(page));
    Put(" 0 obj\n<</Length ");
    PutNumber(stream.size());
    Put("/Filter/FlateDecode>>stream\n");
    Put(stream);
    Put("\nendstream\nendobj\n");
    if (pages_written_ % kGroupPages == 0) WriteObjectStream();
  }
  for (std::string& data : batch->data) {
    data.clear();
    spare_strings_.push_back(std::move(data));
  }
  batch->data.clear();
  spare_batches_.push_back(std::move(batch));
}

void PdfWriter::WriteObjectStream() {
  // The page objects of the group just written. The stream begins with pairs of object number and
  // offset within the stream, then the objects themselves.
  const std::uint64_t group = (pages_written_ - 1) / kGroupPages;
  const std::uint64_t first_page = group * kGroupPages;
  std::string& index = object_index_;
  std::string& objects = object_text_;
  index.clear();
  objects.clear();
  for (std::uint64_t page = first_page; page < pages_written_; ++page) {
    index += ToString(PageObject(page));
    index += ' ';
    index += ToString(objects.size());
    index += ' ';
    objects += "<</Type/Page/Parent 2 0 R/Contents ";
    objects += ToString(ContentObject(page));
    objects += " 0 R>>\n";
  }
  index.back() = '\n';
  const std::size_t first = index.size();
  index += objects;
  std::string& data = object_stream_;
  object_encoder_.Compress(index, &data);
  object_stream_offsets_.push_back(offset_);
  PutNumber(GroupBase(group));
  Put(" 0 obj\n<</Type/ObjStm/N ");
  PutNumber(pages_written_ - first_page);
  Put("/First ");
  PutNumber(first);
  Put("/Length ");
  PutNumber(data.size());
  Put("/Filter/FlateDecode>>stream\n");
  Put(data);
  Put("\nendstream\nendobj\n");
}

bool PdfWriter::Finish() {
  SubmitBatch();
  while (pool_.pending() > 0) WriteBatch(pool_.TakeOldest());
  if (pages_written_ % kGroupPages != 0) WriteObjectStream();

  pages_offset_ = offset_;
  PutNumber(kPagesObject);
  Put(" 0 obj\n<</Type/Pages/Count ");
  PutNumber(pages_written_);
  Put("/MediaBox[0 0 ");
  Put(FormatPoints(layout_.page_width));
  Put(" ");
  Put(FormatPoints(layout_.page_height));
  Put("]/Resources<</Font<</F1 3 0 R>>/ProcSet[/PDF/Text]>>/Kids[");
  for (std::uint64_t page = 0; page < pages_written_; ++page) {
    if (page > 0) Put(page % 16 == 0 ? "\n" : " ");
    PutNumber(PageObject(page));
    Put(" 0 R");
  }
  Put("]>>\nendobj\n");

  const std::uint64_t info_object = PageObject(pages_written_ - 1) + 1;
  info_offset_ = offset_;
  PutNumber(info_object);
  Put(" 0 obj\n<<");
  if (!info_.title.empty()) {
    Put("/Title");
    Put(FormatTextString(info_.title));
  }
  Put("/Producer");
  Put(FormatTextString(info_.producer));
  Put("/CreationDate");
  Put(FormatTextString(FormatPdfDate(info_.creation_time)));
  Put(">>\nendobj\n");

  WriteCrossReference(info_object);
  Flush();
  return !failed_;
}

void PdfWriter::WriteCrossReference(std::uint64_t info_object) {
  const std::uint64_t xref_object = info_object + 1;
  const std::uint64_t xref_offset = offset_;
  const int width = xref_offset >> 32 == 0 ? 4 : 5;
  // The stream's length has to stand before it, and the table is not kept: it is compressed once
  // to count its length and once more, identically, to write it.
  std::uint64_t length = 0;
  CompressCrossReference(xref_offset, width,
                         [&](std::string_view piece) { length += piece.size(); });

  PutNumber(xref_object);
  Put(" 0 obj\n<</Type/XRef/Size ");
  PutNumber(xref_object + 1);
  Put("/W[1 ");
  PutNumber(static_cast<std::uint64_t>(width));
  Put(" 2]/Root 1 0 R/Info ");
  PutNumber(info_object);
  Put(" 0 R/Length ");
  PutNumber(length);
  Put("/Filter/FlateDecode>>stream\n");
  CompressCrossReference(xref_offset, width,
                         [&](std::string_view piece) { Put(piece); });
  Put("\nendstream\nendobj\nstartxref\n");
  PutNumber(xref_offset);
  Put("\n%%EOF\n");
}

void PdfWriter::CompressCrossReference(std::uint64_t xref_offset, int width,
                                       const std::function<void(std::string_view)>& emit) {
  // One entry per object: type 0 (free), 1 (offset in the file) or 2 (object stream and index),
  // in fields 1, `width` and 2 bytes wide, big-endian.
  ZlibStream stream(Z_DEFAULT_COMPRESSION, emit);
  std::string rows;
  auto entry = [&](int type, std::uint64_t field2, std::uint64_t field3) {
    rows += static_cast<char>(type);
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
      rows += static_cast<char>((field2 >> shift) & 0xFF);
    }
    rows += static_cast<char>((field3 >> 8) & 0xFF);
    rows += static_cast<char>(field3 & 0xFF);
    if (rows.size() >= 16384) {
      stream.Add(rows);
      rows.clear();
    }
  };
  entry(0, 0, 65535);
  entry(1, first_offsets_[0], 0);  // the catalog
  entry(1, pages_offset_, 0);
  entry(1, first_offsets_[1], 0);  // the font
  for (std::uint64_t page = 0; page < pages_written_; ++page) {
    const std::uint64_t group = page / kGroupPages;
    const auto index = static_cast<std::size_t>(page);
    const auto group_index = static_cast<std::size_t>(group);
    if (page % kGroupPages == 0) entry(1, object_stream_offsets_[group_index], 0);
    entry(1, group_starts_[group_index] + page_offsets_[index], 0);
    entry(2, GroupBase(group), page % kGroupPages);
  }
  entry(1, info_offset_, 0);
  entry(1, xref_offset, 0);
  stream.Add(rows);
  stream.Finish();
}

void PdfWriter::BeginObject(std::uint64_t number) {
  first_offsets_.push_back(offset_);
  PutNumber(number);
  Put(" 0 obj\n");
}

void PdfWriter::Put(std::string_view bytes) {
  offset_ += bytes.size();
  if (buffer_.size() + bytes.size() > kBufferSize) Flush();
  if (bytes.size() >= kBufferSize) {
    if (!failed_) failed_ = !out_.Write(bytes.data(), bytes.size(), &error_);
    return;
  }
  buffer_.append(bytes);
}

void PdfWriter::PutNumber(std::uint64_t value) { Put(ToString(value)); }

void PdfWriter::Flush() {
  if (!buffer_.empty() && !failed_) failed_ = !out_.Write(buffer_.data(), buffer_.size(), &error_);
  buffer_.clear();
}

}  // namespace pageout::converter
