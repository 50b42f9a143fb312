#include "platform/handle_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pageout::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kConsoleText =
    handle_flag::kOpen | handle_flag::kDevice | handle_flag::kText;
constexpr std::uint8_t kPipeText = handle_flag::kOpen | handle_flag::kPipe | handle_flag::kText;
constexpr std::uint8_t kFileText = handle_flag::kOpen | handle_flag::kText;

struct Case {
  std::string name;
  std::vector<HandleSlot> slots;
  Bytes expected;
};

TEST(HandleTable, BuildsCountFlagsAndHandlesUpToTheLastSlotThatTravels) {
  const Case cases[] = {
      {"three standard handles",
       {{kConsoleText, 0x00000010u, true},
        {kPipeText, 0x00000014u, true},
        {kFileText, 0x12345678u, true}},
       {3, 0, 0, 0, kConsoleText, kPipeText, kFileText, 0x10, 0, 0, 0, 0x14, 0, 0, 0, 0x78, 0x56,
        0x34, 0x12}},
      {"slots after the last open one are left out",
       {{kConsoleText, 0x20u, true}, {0, 0xFFFFFFFFu, false}, {0, 0xFFFFFFFFu, true}},
       {1, 0, 0, 0, kConsoleText, 0x20, 0, 0, 0}},
      {"a handle the child may not inherit travels as flag 0 and handle -1",
       {{kFileText, 0x30u, true}, {kFileText, 0x34u, false}, {kPipeText, 0x38u, true}},
       {3, 0, 0, 0, kFileText, 0, kPipeText, 0x30, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x38, 0, 0, 0}},
      {"a slot not in use keeps its place in the middle",
       {{0, 0x40u, true}, {kFileText, 0x44u, true}},
       {2, 0, 0, 0, 0, kFileText, 0xFF, 0xFF, 0xFF, 0xFF, 0x44, 0, 0, 0}},
      {"a last slot that may not be inherited ends the table before it",
       {{kFileText, 0x50u, true}, {kFileText, 0x54u, false}},
       {1, 0, 0, 0, kFileText, 0x50, 0, 0, 0}},
      {"no slot travels", {{kFileText, 0x60u, false}}, {0, 0, 0, 0}},
      {"no slots at all", {}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes block = BuildHandleTable(c.slots);
    EXPECT_EQ(block, c.expected);
    const std::size_t count =
        std::size_t{block[0]} | std::size_t{block[1]} << 8 | std::size_t{block[2]} << 16 |
        std::size_t{block[3]} << 24;
    EXPECT_EQ(block.size(), 4 + 5 * count);
  }
}

TEST(HandleTable, CountIsLittleEndianBeyondOneByte) {
  std::vector<HandleSlot> slots(300);
  slots.back() = {kFileText, 0xABCDu, true};
  const Bytes block = BuildHandleTable(slots);
  ASSERT_EQ(block.size(), 4u + 5u * 300u);
  EXPECT_EQ(block[0], 300 & 0xFF);
  EXPECT_EQ(block[1], 300 >> 8);
  EXPECT_EQ(block[2], 0);
  EXPECT_EQ(block[3], 0);
  EXPECT_EQ(block[4 + 299], kFileText);
  const std::size_t last_handle = 4 + 300 + 4 * 299;
  EXPECT_EQ(block[last_handle], 0xCD);
  EXPECT_EQ(block[last_handle + 1], 0xAB);
  EXPECT_EQ(block[4], 0);  // slot 0 is not in use
  EXPECT_EQ(block[4 + 300], 0xFF);
}

}  // namespace
}  // namespace pageout::platform
