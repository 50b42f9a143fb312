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

// The end of the process, recorded in the fake's events beside its writes.
FakeOs* g_fake = nullptr;
void StopMainThread(int exit_status) {
  g_fake->events.push_back("stop main thread, else end with " + std::to_string(exit_status));
}
void End(int status) {
  g_fake->events.push_back("end");
  throw ExitCalled{status};
}
constexpr ProcessEnd kRecordedEnd = {&StopMainThread, &End};

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
    g_fake = &os;
    try {
      HandleControlEvent(os, c.event, kRecordedEnd);
      ADD_FAILURE() << "the handler returned";
    } catch (const ExitCalled& exit) {
      EXPECT_EQ(exit.status, c.status);
    }
    // The line alone: severity "error" carries no traceback. The main thread is stopped before
    // anything is written, and the process ends right after the line, not through Os::Exit.
    EXPECT_EQ(os.standard_error, c.line);
    EXPECT_EQ(os.events,
              (std::vector<std::string>{"stop main thread, else end with " +
                                            std::to_string(c.status),
                                        "stderr", "end"}));
  }
}

TEST(ControlHandlerTest, OtherEventsAreDeclinedWithoutAWord) {
  FakeOs os;
  g_fake = &os;
  EXPECT_FALSE(HandleControlEvent(os, ControlEvent::kOther, kRecordedEnd));
  EXPECT_EQ(os.standard_error, "");
  EXPECT_TRUE(os.events.empty());
}

}  // namespace
}  // namespace pageout::diagnostics
