#include "converter/text_decoder.h"

#include <array>
#include <cstring>

namespace pageout::converter {
namespace {

// Windows-1252 between 0x80 and 0x9F; zero marks the five codes the code page leaves undefined.
constexpr std::array<std::uint16_t, 32> kHighControls{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The WinAnsi code of each byte read as Windows-1252 on its own, built once: the code page and the
// font encoding agree wherever the code page defines a printable character.
constexpr std::array<unsigned char, 256> MakeByteTable() {
  std::array<unsigned char, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    bool printable = (b >= 0x20 && b < 0x7F) || b >= 0xA0 || (b >= 0x80 && kHighControls[b - 0x80] != 0);
    table[b] = printable ? static_cast<unsigned char>(b) : kReplacement;
  }
  table[kTab] = kTab;
  table[kFormFeed] = kFormFeed;
  table[kLineEnd] = kLineEnd;
  return table;
}

constexpr std::array<unsigned char, 256> kByteTable = MakeByteTable();

constexpr std::array<unsigned char, 3> kByteOrderMark{0xEF, 0xBB, 0xBF};

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

// Whether any of the eight bytes is outside printable ASCII (0x20-0x7E). A byte below 0x20 borrows
// in the subtraction, 0x7F carries into its high bit in the addition, and bytes from 0x80 have it
// already; a borrow or carry only ever marks bytes above one that is really outside.
bool AnyNotPrintableAscii(std::uint64_t bytes) {
  return ((bytes | (bytes - 0x20 * kOnes) | (bytes + kOnes)) & kHighBits) != 0;
}

// The length of the UTF-8 sequence a lead byte announces, 0 for a byte that cannot lead one.
int SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Whether `byte` may stand at position `index` (1-based) of a sequence led by `lead`. The second
// byte's range excludes overlong forms, surrogates and code points above U+10FFFF.
bool ValidContinuation(unsigned char lead, int index, unsigned char byte) {
  if (index == 1) {
    switch (lead) {
      case 0xE0: return byte >= 0xA0 && byte <= 0xBF;
      case 0xED: return byte >= 0x80 && byte <= 0x9F;
      case 0xF0: return byte >= 0x90 && byte <= 0xBF;
      case 0xF4: return byte >= 0x80 && byte <= 0x8F;
      default: break;
    }
  }
  return byte >= 0x80 && byte <= 0xBF;
}

}  // namespace

unsigned char WinAnsiFromUnicode(std::uint32_t code_point) {
  if (code_point < 0x80) {
    return code_point >= 0x20 && code_point < 0x7F ? static_cast<unsigned char>(code_point)
                                                    : kReplacement;
  }
  if (code_point >= 0xA0 && code_point <= 0xFF) return static_cast<unsigned char>(code_point);
  if (code_point < 0xA0) return kReplacement;
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == code_point) return static_cast<unsigned char>(0x80 + i);
  }
  return kReplacement;
}

std::uint32_t UnicodeFromWindows1252(unsigned char byte) {
  if (byte < 0x80 || byte >= 0xA0) return byte;
  std::uint32_t code_point = kHighControls[byte - 0x80];
  return code_point != 0 ? code_point : 0xFFFD;
}

std::size_t TextDecoder::Decode(const unsigned char* in, std::size_t size, bool last,
                                unsigned char* out, std::size_t* written) {
  std::size_t i = 0;
  unsigned char* o = out;
  if (at_start_) {
    std::size_t n = 0;
    while (n < kByteOrderMark.size() && n < size && in[n] == kByteOrderMark[n]) ++n;
    if (n == kByteOrderMark.size()) {
      i = n;
    } else if (n == size && !last) {
      *written = 0;
      return 0;  // A byte order mark may be cut off; wait for more.
    }
    at_start_ = false;
  }

  while (i < size) {
    // Plain ASCII text, the common case, goes through eight bytes at a time unchanged.
    while (i + 8 <= size) {
      std::uint64_t bytes;
      std::memcpy(&bytes, in + i, sizeof bytes);
      if (AnyNotPrintableAscii(bytes)) break;
      std::memcpy(o, in + i, sizeof bytes);
      o += 8;
      i += 8;
    }
    if (i == size) break;
    unsigned char b = in[i];
    if (b < 0x80) {
      if (b == '\r') {
        if (i + 1 == size && !last) break;  // The LF of a CR LF may be in the next piece.
        *o++ = kLineEnd;
        i += (i + 1 < size && in[i + 1] == '\n') ? 2 : 1;
        continue;
      }
      *o++ = kByteTable[b];
      ++i;
      continue;
    }
    int length = SequenceLength(b);
    if (length == 0) {
      *o++ = kByteTable[b];
      ++i;
      continue;
    }
    // Check the continuation bytes that are there; stop early when the piece ends inside a
    // sequence that is valid so far.
    int valid = 1;
    while (valid < length && i + static_cast<std::size_t>(valid) < size &&
           ValidContinuation(b, valid, in[i + static_cast<std::size_t>(valid)])) {
      ++valid;
    }
    if (valid < length) {
      if (i + static_cast<std::size_t>(valid) == size && !last) break;
      *o++ = kByteTable[b];
      ++i;
      continue;
    }
    std::uint32_t code_point = b & (0x7Fu >> length);
    for (int k = 1; k < length; ++k) {
      code_point = (code_point << 6) | (in[i + static_cast<std::size_t>(k)] & 0x3Fu);
    }
    *o++ = WinAnsiFromUnicode(code_point);
    i += static_cast<std::size_t>(length);
  }
  *written = static_cast<std::size_t>(o - out);
  return i;
}

}  // namespace pageout::converter
