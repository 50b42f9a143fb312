// The converter's own Flate encoder over arbitrary data, one encoder reused for several streams in
// a row as the page writer reuses it: zlib must decode every stream back to exactly its data, with
// a valid checksum.
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <string>

#include "converter/flate_encoder.h"
#include "tests/fuzz/fuzz_os.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pageout;
  FuzzedDataProvider input(data, size);
  converter::FlateEncoder encoder;
  std::string compressed = "left over from an earlier stream";
  while (input.remaining_bytes() > 0) {
    // Page text is repetitive: a piece may be repeated to give long matches and far distances.
    std::string piece = input.ConsumeRandomLengthString(1024);
    const std::size_t repeats = input.ConsumeIntegralInRange<std::size_t>(1, 16);
    std::string stream;
    for (std::size_t i = 0; i < repeats; ++i) stream += piece;
    encoder.Compress(stream, &compressed);

    std::string decoded(stream.size() + 1, '\0');
    uLongf decoded_size = static_cast<uLongf>(decoded.size());
    const int status = uncompress(reinterpret_cast<Bytef*>(decoded.data()), &decoded_size,
                                  reinterpret_cast<const Bytef*>(compressed.data()),
                                  static_cast<uLong>(compressed.size()));
    if (status != Z_OK || decoded_size != stream.size() ||
        decoded.compare(0, stream.size(), stream) != 0) {
      std::fprintf(stderr, "zlib status %d, %zu bytes decoded of %zu\n", status,
                   static_cast<std::size_t>(decoded_size), stream.size());
      std::abort();
    }
  }
  return 0;
}
