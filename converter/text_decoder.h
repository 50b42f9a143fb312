// Turns the bytes of a text file into the bytes of the font's WinAnsi encoding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pageout::converter {

// The decoded stream holds WinAnsi codes 0x20-0xFF for characters and three control codes:
// kLineEnd (for LF, CR LF and a lone CR), kTab and kFormFeed. No other code below 0x20 appears.
constexpr unsigned char kLineEnd = '\n';
constexpr unsigned char kTab = '\t';
constexpr unsigned char kFormFeed = '\f';
// What a character the font cannot show (or a control character) becomes.
constexpr unsigned char kReplacement = '?';

// The WinAnsi code of a Unicode code point, or kReplacement when the encoding has none. Control
// characters, tab and line ends included, give kReplacement here.
unsigned char WinAnsiFromUnicode(std::uint32_t code_point);

// The Unicode code point of a byte read as Windows-1252; bytes the code page leaves undefined
// give U+FFFD.
std::uint32_t UnicodeFromWindows1252(unsigned char byte);

// A streaming decoder. UTF-8 sequences are decoded (a byte order mark at the start of the input is
// skipped); every byte that does not begin a valid, complete UTF-8 sequence is read on its own as
// Windows-1252. Feed it consecutive pieces of the input.
class TextDecoder {
 public:
  // Decodes from `in` into `out` (which must have room for `size` bytes) and returns the number of
  // input bytes consumed; *written receives the number of bytes written. Unless `last` is set, a
  // sequence cut off at the end of the piece (an incomplete UTF-8 sequence, a CR that may be
  // followed by LF, a partial byte order mark) is left unconsumed: the caller passes those bytes
  // again at the start of the next piece. With `last` set, everything is consumed.
  std::size_t Decode(const unsigned char* in, std::size_t size, bool last, unsigned char* out,
                     std::size_t* written);

 private:
  bool at_start_ = true;
};

}  // namespace pageout::converter
