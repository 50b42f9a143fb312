#include "diagnostics/control_handler.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/unit/fake_os.h"

namespace pageout::diagnostics {
namespace {

using platform::ControlEvent;
using testing::ExitCalled;
using testing::FakeOs;

TEST(ControlHandlerTest, EachConsoleEventReportsDiagnostic200AndEndsWithItsStatus) {
  struct Case {
    ControlEvent event;
    const char* line;
    int status;
  };
  const Case cases[] = {
      // Ctrl+C ends with 130, the status of an interrupted program, never with 0, the status of
      // success.
      {ControlEvent::kCtrlC, "apperr: error (200): program aborting due to control-C event\r\r\n",
       130},
      {ControlEvent::kCtrlBreak,
       "apperr: error (200): program aborting due to control-BREAK event\r\r\n", 1},
      {ControlEvent::kConsoleClosed,
       "apperr: error (200): program aborting due to window-CLOSE event\r\r\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FakeOs os;
    try {
      HandleControlEvent(os, c.event);
      ADD_FAILURE() << "the handler returned";
    } catch (const ExitCalled& exit) {
      EXPECT_EQ(exit.status, c.status);
    }
    // The line alone: severity "error" carries no traceback. It is written before the exit, and
    // nothing touches the console channels, which the main thread may be using.
    EXPECT_EQ(os.standard_error, c.line);
    EXPECT_EQ(os.events, (std::vector<std::string>{"stderr", "exit"}));
  }
}

TEST(ControlHandlerTest, OtherEventsAreDeclinedWithoutAWord) {
  FakeOs os;
  EXPECT_FALSE(HandleControlEvent(os, ControlEvent::kOther));
  EXPECT_EQ(os.standard_error, "");
  EXPECT_TRUE(os.events.empty());
  EXPECT_EQ(FindControlAction(ControlEvent::kOther), nullptr);
}

}  // namespace
}  // namespace pageout::diagnostics
