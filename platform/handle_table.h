// The handle table a C run-time hands to a child process it starts: the block that travels in the
// cbReserved2 / lpReserved2 pair of the start information, from which the child's run-time rebuilds
// its numbered low-level file handles.
#pragma once

#include <cstdint>
#include <vector>

namespace pageout::platform {

// Flag bits of one slot, as the run-time keeps them for each low-level handle.
namespace handle_flag {
constexpr std::uint8_t kOpen = 0x01;
constexpr std::uint8_t kPipe = 0x08;
constexpr std::uint8_t kDevice = 0x40;
constexpr std::uint8_t kText = 0x80;
}  // namespace handle_flag

// One low-level handle of the run-time, numbered from 0. A slot that is not in use has flags 0.
struct HandleSlot {
  std::uint8_t flags = 0;
  std::uint32_t handle = 0xFFFFFFFFu;  // the OS handle value
  bool inheritable = false;            // whether the child may receive the OS handle
};

// Builds the block: a little-endian 32-bit count N, then N flag bytes, then N little-endian 32-bit
// handle values, for slots 0 to N-1. N ends after the last slot that travels with a non-zero flag
// byte. A slot that is not inheritable travels as flag byte 0 and handle value 0xFFFFFFFF, and so
// does a slot that is not in use. The block's size (the cbReserved2 value) is 4 + 5N; with no slot
// left it is the 4 bytes of a zero count.
std::vector<std::uint8_t> BuildHandleTable(const std::vector<HandleSlot>& slots);

}  // namespace pageout::platform
