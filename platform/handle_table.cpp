#include "platform/handle_table.h"

#include <cstddef>

namespace pageout::platform {
namespace {

void PutLittleEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFFu));
  }
}

}  // namespace

std::vector<std::uint8_t> BuildHandleTable(const std::vector<HandleSlot>& slots) {
  constexpr std::uint32_t kNoHandle = 0xFFFFFFFFu;
  std::vector<std::uint8_t> flags;
  std::vector<std::uint32_t> handles;
  flags.reserve(slots.size());
  handles.reserve(slots.size());
  std::size_t count = 0;
  for (const HandleSlot& slot : slots) {
    const bool travels = slot.inheritable && slot.flags != 0;
    flags.push_back(travels ? slot.flags : std::uint8_t{0});
    handles.push_back(travels ? slot.handle : kNoHandle);
    if (travels) count = flags.size();
  }

  std::vector<std::uint8_t> block;
  block.reserve(4 + 5 * count);
  PutLittleEndian32(block, static_cast<std::uint32_t>(count));
  block.insert(block.end(), flags.begin(), flags.begin() + static_cast<std::ptrdiff_t>(count));
  for (std::size_t i = 0; i < count; ++i) PutLittleEndian32(block, handles[i]);
  return block;
}

}  // namespace pageout::platform
