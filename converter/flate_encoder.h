// A fast encoder of zlib streams (RFC 1950 around RFC 1951 deflate) for page content streams.
//
// It finds repeats with one probe of a hash of four bytes and codes each block with its own
// Huffman codes: about as compact as zlib's fastest level on text, at several times its speed.
// Its output is the same on every platform. zlib itself decodes it (the tests check that) and
// provides the Adler-32 checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pageout::converter {

class FlateEncoder {
 public:
  FlateEncoder();

  // Replaces *out with the zlib stream of `data`, reusing its capacity.
  void Compress(const std::string& data, std::string* out);

 private:
  void WriteBlock(bool last, std::string* out);

  // Hash of four bytes -> position + 1, 0 for none. make_unique zeroes it with one memset; a
  // vector's fill stays a loop in builds that trace every comparison, and there it dominated.
  std::unique_ptr<std::uint32_t[]> table_;
  std::vector<std::uint32_t> tokens_;   // literal, or length << 16 | distance
  std::vector<std::uint32_t> literal_counts_;
  std::vector<std::uint32_t> distance_counts_;
  std::uint32_t base_ = 1;  // table position of the next string's first byte
  std::uint64_t bits_ = 0;  // bits not yet stored, the oldest in the lowest positions
  int bit_count_ = 0;
};

}  // namespace pageout::converter
