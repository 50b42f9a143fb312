#include "converter/flate_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>

namespace pageout::converter {
namespace {

constexpr int kHashBits = 15;
constexpr std::size_t kTableSize = std::size_t{1} << kHashBits;
constexpr std::uint32_t kWindow = 32768;
constexpr std::size_t kMinMatch = 4;
constexpr std::size_t kMaxMatch = 258;
constexpr std::size_t kBlockTokens = 1 << 15;
constexpr int kLiteralCodes = 286;
constexpr int kDistanceCodes = 30;
constexpr int kEndOfBlock = 256;
constexpr int kMaxCodeLength = 15;
constexpr int kMaxLengthCodeLength = 7;

constexpr std::array<std::uint16_t, 29> kLengthBase{3,  4,  5,  6,  7,  8,  9,  10,  11,  13,
                                                    15, 17, 19, 23, 27, 31, 35, 43,  51,  59,
                                                    67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase{
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra{0, 0, 0, 0, 1, 1, 2,  2,  3,  3,
                                                      4, 4, 5, 5, 6, 6, 7,  7,  8,  8,
                                                      9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which the lengths of the code-length code are stored.
constexpr std::array<std::uint8_t, 19> kLengthCodeOrder{16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

// Length (3-258) -> index into kLengthBase.
constexpr std::array<std::uint8_t, 259> MakeLengthIndex() {
  std::array<std::uint8_t, 259> index{};
  for (std::size_t code = 0; code < kLengthBase.size(); ++code) {
    std::size_t end = code + 1 < kLengthBase.size() ? kLengthBase[code + 1] : 259;
    if (code == 27) end = 258;  // 258 has a code of its own
    for (std::size_t length = kLengthBase[code]; length < end; ++length) {
      index[length] = static_cast<std::uint8_t>(code);
    }
  }
  return index;
}
constexpr std::array<std::uint8_t, 259> kLengthIndex = MakeLengthIndex();

// Distance - 1 -> code: directly below 256, by distance / 128 above.
constexpr std::array<std::uint8_t, 512> MakeDistanceIndex() {
  std::array<std::uint8_t, 512> index{};
  for (std::size_t code = 0; code < kDistanceBase.size(); ++code) {
    std::size_t end = code + 1 < kDistanceBase.size() ? kDistanceBase[code + 1] : 32769;
    for (std::size_t distance = kDistanceBase[code]; distance < end; ++distance) {
      std::size_t d = distance - 1;
      index[d < 256 ? d : 256 + (d >> 7)] = static_cast<std::uint8_t>(code);
    }
  }
  return index;
}
constexpr std::array<std::uint8_t, 512> kDistanceIndex = MakeDistanceIndex();

int DistanceCode(std::uint32_t distance) {
  std::uint32_t d = distance - 1;
  return kDistanceIndex[d < 256 ? d : 256 + (d >> 7)];
}

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// How many bytes from `a` and `b` agree, knowing that the first kMinMatch do, up to `longest`.
std::size_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t longest) {
  std::size_t length = kMinMatch;
  while (length + 8 <= longest) {
    const std::uint64_t difference = Load64(a + length) ^ Load64(b + length);
    if (difference != 0) {
      // The lowest differing byte of a little-endian load is the first that differs.
      return length + static_cast<std::size_t>(std::countr_zero(difference)) / 8;
    }
    length += 8;
  }
  while (length < longest && a[length] == b[length]) ++length;
  return length;
}

// Makes sure at least two symbols have a count, so that every code built is complete.
void EnsureTwoSymbols(std::uint32_t* counts, int symbols) {
  int used = 0;
  for (int s = 0; s < symbols; ++s) used += counts[s] != 0;
  for (int s = 0; used < 2 && s < symbols; ++s) {
    if (counts[s] == 0) {
      counts[s] = 1;
      ++used;
    }
  }
}

// Code lengths of a Huffman code for `counts`, none longer than `limit`, forming a complete code
// (as inflaters demand) whenever two or more symbols occur. Ties are broken by symbol number, so
// the result depends on the counts alone.
void BuildLengths(const std::uint32_t* counts, int symbols, int limit, std::uint8_t* lengths) {
  // Fixed arrays: a block builds three codes, and a page is often a block of its own.
  std::array<int, kLiteralCodes> used;
  std::size_t leaves = 0;
  for (int s = 0; s < symbols; ++s) {
    lengths[s] = 0;
    if (counts[s] != 0) used[leaves++] = s;
  }
  if (leaves == 0) return;
  if (leaves == 1) {
    lengths[used[0]] = 1;
    return;
  }
  std::sort(used.begin(), used.begin() + static_cast<std::ptrdiff_t>(leaves), [&](int a, int b) {
    return counts[a] != counts[b] ? counts[a] < counts[b] : a < b;
  });
  // Two queues: the leaves in ascending order, and the inner nodes, which come out ascending too.
  std::array<std::uint64_t, 2 * kLiteralCodes> weight;
  std::array<std::size_t, 2 * kLiteralCodes> parent;
  for (std::size_t i = 0; i < leaves; ++i) weight[i] = counts[used[i]];
  std::size_t next_leaf = 0;
  std::size_t next_inner = leaves;
  for (std::size_t node = leaves; node < 2 * leaves - 1; ++node) {
    std::size_t pick[2];
    for (std::size_t& p : pick) {
      if (next_leaf < leaves && (next_inner >= node || weight[next_leaf] <= weight[next_inner])) {
        p = next_leaf++;
      } else {
        p = next_inner++;
      }
    }
    weight[node] = weight[pick[0]] + weight[pick[1]];
    parent[pick[0]] = node;
    parent[pick[1]] = node;
  }
  std::array<int, 2 * kLiteralCodes> depth;
  depth[2 * leaves - 2] = 0;
  for (std::size_t node = 2 * leaves - 2; node-- > 0;) depth[node] = depth[parent[node]] + 1;

  // Limit the lengths, then restore the Kraft sum to exactly one: lengthen the deepest codes
  // that may still grow while the sum is too large, shorten the deepest while it is too small.
  const std::int64_t full = std::int64_t{1} << limit;
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < leaves; ++i) {
    int length = std::min(depth[i], limit);
    lengths[used[i]] = static_cast<std::uint8_t>(length);
    sum += full >> length;
  }
  while (sum > full) {
    // The rarest symbol among those with the longest length below the limit.
    std::size_t best = leaves;
    for (std::size_t i = 0; i < leaves; ++i) {
      int length = lengths[used[i]];
      if (length < limit && (best == leaves || length > lengths[used[best]])) best = i;
    }
    sum -= full >> (lengths[used[best]] + 1);
    ++lengths[used[best]];
  }
  while (sum < full) {
    // The most frequent symbol among those with the longest length.
    std::size_t best = leaves;
    for (std::size_t i = leaves; i-- > 0;) {
      int length = lengths[used[i]];
      if (length > 1 && (full >> length) <= full - sum &&
          (best == leaves || length > lengths[used[best]])) {
        best = i;
      }
    }
    sum += full >> lengths[used[best]];
    --lengths[used[best]];
  }
}

constexpr std::array<std::uint8_t, 256> MakeReversedBytes() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < 8; ++bit) reversed |= ((b >> bit) & 1u) << (7 - bit);
    table[b] = static_cast<std::uint8_t>(reversed);
  }
  return table;
}
constexpr std::array<std::uint8_t, 256> kReversedByte = MakeReversedBytes();

// Canonical codes for `lengths`, bit-reversed for a stream that is filled from the low bit.
void BuildCodes(const std::uint8_t* lengths, int symbols, std::uint16_t* codes) {
  std::array<std::uint16_t, kMaxCodeLength + 2> count{};
  for (int s = 0; s < symbols; ++s) ++count[lengths[s]];
  count[0] = 0;
  std::array<std::uint16_t, kMaxCodeLength + 2> next{};
  std::uint32_t code = 0;
  for (int bits = 1; bits <= kMaxCodeLength; ++bits) {
    code = (code + count[static_cast<std::size_t>(bits - 1)]) << 1;
    next[static_cast<std::size_t>(bits)] = static_cast<std::uint16_t>(code);
  }
  for (int s = 0; s < symbols; ++s) {
    int length = lengths[s];
    if (length == 0) continue;
    const std::uint32_t value = next[static_cast<std::size_t>(length)]++;
    const std::uint32_t reversed = static_cast<std::uint32_t>(kReversedByte[value & 0xFF]) << 8 |
                                   kReversedByte[value >> 8];
    codes[s] = static_cast<std::uint16_t>(reversed >> (16 - length));
  }
}

// Fills bytes from the low bit up. The caller makes room in the output beforehand; the writer
// stores eight bytes at a time and keeps the position in the string's size.
class BitWriter {
 public:
  BitWriter(std::uint64_t& bits, int& count, std::string& out, std::size_t room)
      : bits_(bits), count_(count), out_(out), used_(out.size()) {
    out_.resize(used_ + room + 8);
  }
  ~BitWriter() { out_.resize(used_); }
  BitWriter(const BitWriter&) = delete;
  BitWriter& operator=(const BitWriter&) = delete;

  // `length` at most 32 bits.
  void Put(std::uint32_t value, int length) {
    bits_ |= static_cast<std::uint64_t>(value) << count_;
    count_ += length;
    if (count_ >= 32) {
      const std::uint32_t low = static_cast<std::uint32_t>(bits_);
      char bytes[4] = {static_cast<char>(low), static_cast<char>(low >> 8),
                       static_cast<char>(low >> 16), static_cast<char>(low >> 24)};
      std::memcpy(out_.data() + used_, bytes, 4);
      used_ += 4;
      bits_ >>= 32;
      count_ -= 32;
    }
  }
  // Writes out the bits left, padding the last byte with zeros.
  void Align() {
    while (count_ > 0) {
      out_[used_++] = static_cast<char>(bits_);
      bits_ >>= 8;
      count_ -= 8;
    }
    bits_ = 0;
    count_ = 0;
  }

 private:
  std::uint64_t& bits_;
  int& count_;
  std::string& out_;
  std::size_t used_;
};

}  // namespace

FlateEncoder::FlateEncoder()
    : table_(std::make_unique<std::uint32_t[]>(kTableSize)),
      literal_counts_(kLiteralCodes, 0),
      distance_counts_(kDistanceCodes, 0) {
  tokens_.reserve(kBlockTokens);
}

void FlateEncoder::Compress(const std::string& text, std::string* out) {
  out->clear();
  // CMF 0x78: deflate with a 32 KiB window; FLG 0x01: the fastest level, check bits.
  *out += '\x78';
  *out += '\x01';
  bits_ = 0;
  bit_count_ = 0;

  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t size = text.size();
  // Positions in the table are counted across calls, so the table never needs clearing: an entry
  // from an earlier string lies below `base`. Start afresh before the count could overflow.
  if (base_ > 0xF0000000u - size) {
    std::fill_n(table_.get(), kTableSize, 0u);
    base_ = 1;
  }
  const std::uint32_t base = base_;
  base_ += static_cast<std::uint32_t>(size) + 1;

  auto emit_literal = [&](std::uint8_t byte) {
    tokens_.push_back(byte);
    ++literal_counts_[byte];
  };
  const std::size_t last_probe = size >= kMinMatch ? size - kMinMatch + 1 : 0;
  std::size_t i = 0;
  while (i < size) {
    if (tokens_.size() >= kBlockTokens) WriteBlock(false, out);
    if (i >= last_probe) {
      emit_literal(data[i++]);
      continue;
    }
    const std::uint32_t value = Load32(data + i);
    const std::uint32_t hash = (value * 2654435761u) >> (32 - kHashBits);
    const std::uint32_t here = base + static_cast<std::uint32_t>(i);
    const std::uint32_t candidate = table_[hash];
    table_[hash] = here;
    if (candidate < base || here - candidate > kWindow || Load32(data + (candidate - base)) != value) {
      emit_literal(data[i++]);
      continue;
    }
    const std::size_t from = candidate - base;
    const std::size_t length = MatchLength(data + from, data + i, std::min(kMaxMatch, size - i));
    const auto distance = static_cast<std::uint32_t>(i - from);
    tokens_.push_back(static_cast<std::uint32_t>(length) << 16 | distance);
    ++literal_counts_[257u + kLengthIndex[length]];
    ++distance_counts_[static_cast<std::size_t>(DistanceCode(distance))];
    // Later repeats may start inside this one; the places just after its start and at its end
    // catch most of them for a fraction of the work of hashing every place.
    const std::size_t end = std::min(i + length, last_probe);
    for (std::size_t k : {i + 1, i + length - 2, i + length - 1}) {
      if (k < end) {
        table_[(Load32(data + k) * 2654435761u) >> (32 - kHashBits)] =
            base + static_cast<std::uint32_t>(k);
      }
    }
    i += length;
  }
  WriteBlock(true, out);

  const uLong adler = adler32(adler32(0L, Z_NULL, 0), data, static_cast<uInt>(size));
  *out += static_cast<char>(adler >> 24);
  *out += static_cast<char>(adler >> 16);
  *out += static_cast<char>(adler >> 8);
  *out += static_cast<char>(adler);
}

void FlateEncoder::WriteBlock(bool last, std::string* out) {
  ++literal_counts_[kEndOfBlock];
  // Inflaters accept only complete codes (but for one of a single symbol, which some reject too):
  // codes get two symbols at least, an unused one if need be.
  EnsureTwoSymbols(literal_counts_.data(), kLiteralCodes);
  EnsureTwoSymbols(distance_counts_.data(), kDistanceCodes);

  std::array<std::uint8_t, kLiteralCodes> literal_lengths{};
  std::array<std::uint8_t, kDistanceCodes> distance_lengths{};
  BuildLengths(literal_counts_.data(), kLiteralCodes, kMaxCodeLength, literal_lengths.data());
  BuildLengths(distance_counts_.data(), kDistanceCodes, kMaxCodeLength, distance_lengths.data());
  std::array<std::uint16_t, kLiteralCodes> literal_codes{};
  std::array<std::uint16_t, kDistanceCodes> distance_codes{};
  BuildCodes(literal_lengths.data(), kLiteralCodes, literal_codes.data());
  BuildCodes(distance_lengths.data(), kDistanceCodes, distance_codes.data());

  int literals = kLiteralCodes;
  while (literals > 257 && literal_lengths[static_cast<std::size_t>(literals - 1)] == 0) --literals;
  int distances = kDistanceCodes;
  while (distances > 1 && distance_lengths[static_cast<std::size_t>(distances - 1)] == 0) --distances;

  // Both lists of lengths in one, run-length coded: 16 repeats the previous length 3-6 times,
  // 17 and 18 stand for 3-10 and 11-138 zeros.
  std::array<std::uint8_t, kLiteralCodes + kDistanceCodes> all;
  const std::size_t all_size = static_cast<std::size_t>(literals + distances);
  std::copy_n(literal_lengths.begin(), literals, all.begin());
  std::copy_n(distance_lengths.begin(), distances, all.begin() + literals);
  std::array<std::uint16_t, kLiteralCodes + kDistanceCodes> runs;  // symbol | extra value << 8
  std::size_t run_count = 0;
  std::array<std::uint32_t, 19> length_counts{};
  auto add = [&](int symbol, int extra) {
    runs[run_count++] = static_cast<std::uint16_t>(symbol | extra << 8);
    ++length_counts[static_cast<std::size_t>(symbol)];
  };
  for (std::size_t i = 0; i < all_size;) {
    const std::uint8_t length = all[i];
    std::size_t run = 1;
    while (i + run < all_size && all[i + run] == length) ++run;
    i += run;
    if (length == 0) {
      while (run >= 11) {
        std::size_t take = std::min<std::size_t>(run, 138);
        add(18, static_cast<int>(take - 11));
        run -= take;
      }
      if (run >= 3) {
        add(17, static_cast<int>(run - 3));
        run = 0;
      }
    } else {
      add(length, 0);
      --run;
      while (run >= 3) {
        std::size_t take = std::min<std::size_t>(run, 6);
        add(16, static_cast<int>(take - 3));
        run -= take;
      }
    }
    for (; run > 0; --run) add(length, 0);
  }
  EnsureTwoSymbols(length_counts.data(), 19);
  std::array<std::uint8_t, 19> code_lengths{};
  std::array<std::uint16_t, 19> code_codes{};
  BuildLengths(length_counts.data(), 19, kMaxLengthCodeLength, code_lengths.data());
  BuildCodes(code_lengths.data(), 19, code_codes.data());
  int stored = 19;
  while (stored > 4 && code_lengths[kLengthCodeOrder[static_cast<std::size_t>(stored - 1)]] == 0) {
    --stored;
  }

  // Room for the block: its symbols and extra bits, counted exactly, and the header with its code
  // lengths, which takes less than 600 bytes (316 lengths of at most 14 bits, 19 of 3, 17 more).
  std::uint64_t block_bits = 0;
  for (int sym = 0; sym < kLiteralCodes; ++sym) {
    const auto k = static_cast<std::size_t>(sym);
    std::uint64_t extra = sym > 256 ? kLengthExtra[k - 257] : 0;
    block_bits += literal_counts_[k] * (literal_lengths[k] + extra);
  }
  for (std::size_t k = 0; k < kDistanceCodes; ++k) {
    block_bits += distance_counts_[k] * static_cast<std::uint64_t>(distance_lengths[k] + kDistanceExtra[k]);
  }
  BitWriter writer(bits_, bit_count_, *out, static_cast<std::size_t>(block_bits / 8) + 1024);
  writer.Put(last ? 1 : 0, 1);
  writer.Put(2, 2);  // Huffman codes of this block's own
  writer.Put(static_cast<std::uint32_t>(literals - 257), 5);
  writer.Put(static_cast<std::uint32_t>(distances - 1), 5);
  writer.Put(static_cast<std::uint32_t>(stored - 4), 4);
  for (int k = 0; k < stored; ++k) {
    writer.Put(code_lengths[kLengthCodeOrder[static_cast<std::size_t>(k)]], 3);
  }
  static constexpr std::array<int, 3> kRunExtraBits{2, 3, 7};
  for (std::size_t r = 0; r < run_count; ++r) {
    const std::uint16_t run = runs[r];
    const int symbol = run & 0xFF;
    writer.Put(code_codes[static_cast<std::size_t>(symbol)], code_lengths[static_cast<std::size_t>(symbol)]);
    if (symbol >= 16) writer.Put(static_cast<std::uint32_t>(run >> 8), kRunExtraBits[static_cast<std::size_t>(symbol - 16)]);
  }

  for (std::uint32_t token : tokens_) {
    if (token < 256) {
      writer.Put(literal_codes[token], literal_lengths[token]);
      continue;
    }
    const std::uint32_t length = token >> 16;
    const std::uint32_t distance = token & 0xFFFF;
    const std::size_t li = kLengthIndex[length];
    const auto di = static_cast<std::size_t>(DistanceCode(distance));
    // Code and extra bits go out together: at most 15 + 5 and 15 + 13 bits.
    const int code_bits = literal_lengths[257 + li];
    writer.Put(literal_codes[257 + li] | (length - kLengthBase[li]) << code_bits,
               code_bits + kLengthExtra[li]);
    const int distance_bits = distance_lengths[di];
    writer.Put(distance_codes[di] | (distance - kDistanceBase[di]) << distance_bits,
               distance_bits + kDistanceExtra[di]);
  }
  writer.Put(literal_codes[kEndOfBlock], literal_lengths[kEndOfBlock]);
  if (last) writer.Align();

  tokens_.clear();
  std::fill(literal_counts_.begin(), literal_counts_.end(), 0);
  std::fill(distance_counts_.begin(), distance_counts_.end(), 0);
}

}  // namespace pageout::converter
