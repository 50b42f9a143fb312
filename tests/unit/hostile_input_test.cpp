// Regression tests for faults that fuzzing found. A test named DISABLED_ states the sound behaviour
// of a fault that is reported and not yet mended; the mend enables it (and removes the matching
// skip in the fuzz target).
#include <gtest/gtest.h>

#include <string>

#include "services/command.h"
#include "tests/unit/fake_os.h"

namespace pageout::services {
namespace {

using testing::FakeOs;

// An interpreter that ran and ended with exit code -1 has been run: the search must not run it a
// second time from a later PATH entry, not even when it came from a network path, where failures
// to start let the search go on. (Found by fuzz_path_search; the command ran twice.)
TEST(HostileInputTest, AnInterpreterThatRanIsNeverRunAgainFromALaterPathEntry) {
  FakeOs os(platform::Host::kWindows);
  os.environment["PATH"] = "\\\\server\\share;C:\\bin";
  os.AddFile("\\\\server\\share\\cmd.exe");
  os.AddFile("C:\\bin\\cmd.exe");
  os.child_results["\\\\server\\share\\cmd.exe"] = {true, -1, 0};
  EXPECT_FALSE(ExecuteCommand(os, "TEXT2PDF.EXE in.txt > OT.PDF"));
  ASSERT_EQ(os.starts.size(), 1u);
  EXPECT_EQ(os.starts[0].program, "\\\\server\\share\\cmd.exe");
}

}  // namespace
}  // namespace pageout::services
