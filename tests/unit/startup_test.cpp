#include "diagnostics/startup.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/unit/fake_os.h"

namespace pageout::diagnostics {
namespace {

using testing::ExitCalled;
using testing::FakeOs;

std::vector<std::string> seen_arguments;
void ReturningMain(platform::Os& os, const std::vector<std::string>& arguments) {
  seen_arguments = arguments;
  os.WriteStandardError("", 0);
}

TEST(StartUpTest, RunsMainWithTheArgumentsAndEndsNormallyShouldItReturn) {
  FakeOs os;
  const char* argv[] = {"pageout", "a b.txt", "", "third", nullptr};
  int status = -1;
  try {
    StartUp(os, 4, argv, &ReturningMain);
  } catch (const ExitCalled& exit) {
    status = exit.status;
  }
  EXPECT_EQ(status, 0);
  EXPECT_THAT(seen_arguments, ::testing::ElementsAre("pageout", "a b.txt", "", "third"));
  EXPECT_EQ(os.standard_error, "");  // start-up writes nothing
  EXPECT_TRUE(os.writes.empty());
}

}  // namespace
}  // namespace pageout::diagnostics
