#include "diagnostics/startup.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pageout::diagnostics {
namespace {

TEST(StartUpTest, ArgumentsKeepEveryWordAsThePlatformSplitIt) {
  const char* argv[] = {"pageout", "a b.txt", "", "  ", "third", nullptr};
  EXPECT_THAT(PrepareArguments(5, argv),
              ::testing::ElementsAre("pageout", "a b.txt", "", "  ", "third"));
  EXPECT_TRUE(PrepareArguments(0, argv).empty());
  EXPECT_TRUE(PrepareArguments(3, nullptr).empty());
}

}  // namespace
}  // namespace pageout::diagnostics
