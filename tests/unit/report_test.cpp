#include "diagnostics/report.h"

#include <cstdarg>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "diagnostics/catalogue.h"
#include "platform/fault_context.h"
#include "tests/unit/fake_os.h"

namespace pageout::diagnostics {
namespace {

using testing::ExitCalled;
using testing::FakeOs;
using ::testing::ElementsAre;
using ::testing::StartsWith;

template <typename Body>
int StatusOf(Body body) {
  try {
    body();
  } catch (const ExitCalled& exit) {
    return exit.status;
  }
  return -1;
}

// Memory that refuses requests of refused_from bytes and more, and counts what it hands out.
struct CountingMemory {
  static inline std::size_t refused_from = 0;
  static inline std::vector<std::size_t> requests;
  static inline int outstanding = 0;
  static char* Obtain(std::size_t size) {
    requests.push_back(size);
    if (size >= refused_from) return nullptr;
    ++outstanding;
    return new char[size];
  }
  static void Release(char* block) {
    --outstanding;
    delete[] block;
  }
  static TextMemory Refusing(std::size_t from) {
    refused_from = from;
    requests.clear();
    outstanding = 0;
    return {&Obtain, &Release};
  }
};

void Report(platform::Os& os, const TextMemory& memory, unsigned number, ...) {
  std::va_list values;
  va_start(values, number);
  ReportDiagnosticWith(os, memory, nullptr, number, values);
  va_end(values);
}

TEST(DiagnosticTest, TheChannelDiagnosticLineEndsCrCrLf) {
  FakeOs os;
  EXPECT_EQ(StatusOf([&] { ReportChannelDiagnostic(os, 24, {-4, "CONIN$", 0}); }), 24);
  EXPECT_THAT(os.standard_error,
              StartsWith("apperr: severe (24): end-of-file during read, unit -4, file CONIN$"
                         "\r\r\n"));
}

TEST(DiagnosticTest, AnErrorSeverityReturnsWithoutTraceback) {
  FakeOs os;
  for (const char* event : {"control-C", "control-BREAK", "window-CLOSE"}) {
    os.standard_error.clear();
    ReportDiagnostic(os, msg::kControlEvent, event);
    EXPECT_EQ(os.standard_error,
              "apperr: error (200): program aborting due to " + std::string(event) +
                  " event\r\r\n");
  }
  EXPECT_FALSE(os.exit_status.has_value());
  EXPECT_EQ(os.standard_error_writes.size(), 3u);  // each diagnostic in one piece
}

TEST(DiagnosticTest, ANumberNotInTheCatalogueIsSevere) {
  FakeOs os;
  EXPECT_EQ(StatusOf([&] { ReportDiagnostic(os, 999); }), 999);
  EXPECT_THAT(os.standard_error, StartsWith("apperr: severe (999): Message not found\r\n\r\r\n"));
}

TEST(DiagnosticTest, SeverityPrefixes) {
  EXPECT_STREQ(SeverityPrefix(Severity::kPlain), "apperr");
  EXPECT_STREQ(SeverityPrefix(Severity::kInfo), "apperr: info");
  EXPECT_STREQ(SeverityPrefix(Severity::kWarning), "apperr: warning");
  EXPECT_STREQ(SeverityPrefix(Severity::kError), "apperr: error");
  EXPECT_STREQ(SeverityPrefix(Severity::kSevere), "apperr: severe");
}

TEST(DiagnosticTest, PlatformErrorLineComesFirstWithOrWithoutSystemText) {
  struct Case {
    std::uint32_t code;
    std::optional<std::string> system_text;
    std::string expected;
  };
  const Case cases[] = {
      {109, "The pipe has been ended.\r\n",
       "apperr: The pipe has been ended.\r\r\n"
       "apperr: severe (24): end-of-file during read, unit -4, file CONIN$\r\r\n"},
      {0x20000000u | 32, "Broken pipe\r\n",
       "apperr: Broken pipe\r\r\n"
       "apperr: severe (24): end-of-file during read, unit -4, file CONIN$\r\r\n"},
      {12345, std::nullopt,
       "apperr: FormatMessage failed for sysmem message number 12345"
       "apperr: severe (24): end-of-file during read, unit -4, file CONIN$\r\r\n"},
  };
  for (const Case& c : cases) {
    FakeOs os;
    if (c.system_text) os.system_messages[c.code] = *c.system_text;
    EXPECT_EQ(StatusOf([&] { ReportChannelDiagnostic(os, 24, {-4, "CONIN$", c.code}); }), 24);
    EXPECT_THAT(os.standard_error, StartsWith(c.expected)) << c.code;
  }
}

TEST(DiagnosticTest, WithoutTheFullBufferTheLineAloneIsWritten) {
  FakeOs os;
  const TextMemory memory = CountingMemory::Refusing(kDiagnosticTextSize);
  EXPECT_EQ(StatusOf([&] { Report(os, memory, 38, -1, "CONOUT$"); }), 38);
  const std::string line = "apperr: severe (38): error during write, unit -1, file CONOUT$\r\n";
  EXPECT_EQ(os.standard_error,
            "apperr: severe (38): error during write, unit -1, file CONOUT$\r\r\n");
  EXPECT_THAT(CountingMemory::requests, ElementsAre(kDiagnosticTextSize, line.size() + 1));
  EXPECT_EQ(CountingMemory::outstanding, 0);
}

TEST(DiagnosticTest, WithoutAnyBufferANoticeNamesTheNumber) {
  FakeOs os;
  const TextMemory memory = CountingMemory::Refusing(0);
  EXPECT_EQ(StatusOf([&] { Report(os, memory, 24, -4, "CONIN$"); }), 24);
  EXPECT_EQ(os.standard_error, "apperr: no message buffer available for message number 24\r\r\n");
  // An error-severity diagnostic returns after its notice.
  os.standard_error.clear();
  Report(os, memory, msg::kControlEvent, "control-C");
  EXPECT_EQ(os.standard_error, "apperr: no message buffer available for message number 200\r\r\n");
}

TEST(DiagnosticTest, TheFullBufferIsReleasedBeforeTheSevereEnd) {
  FakeOs os;
  const TextMemory memory = CountingMemory::Refusing(kDiagnosticTextSize + 1);
  EXPECT_EQ(StatusOf([&] { Report(os, memory, 39, -4, "CONIN$"); }), 39);
  EXPECT_THAT(CountingMemory::requests, ElementsAre(kDiagnosticTextSize));
  EXPECT_EQ(CountingMemory::outstanding, 0);
  EXPECT_THAT(os.standard_error,
              StartsWith("apperr: severe (39): error during read, unit -4, file CONIN$\r\r\n"));
}

TEST(DiagnosticTest, ExceptionsAreReportedByTheLow16BitsOfTheirCode) {
  struct Case {
    std::uint32_t code;
    std::string line;
  };
  const Case cases[] = {
      {0xC0000005, "apperr: severe (157): Program Exception - access violation\r\r\n"},
      {0x80000002, "apperr: severe (158): Program Exception - datatype misalignment\r\r\n"},
      {0x80000003, "apperr: severe (159): Program Exception - breakpoint\r\r\n"},
      {0x80000004, "apperr: severe (160): Program Exception - single step\r\r\n"},
      {0xC000008C, "apperr: severe (161): Program Exception - array bounds exceeded\r\r\n"},
      {0xC000008D,
       "apperr: severe (162): Program Exception - denormal floating-point operand\r\r\n"},
      {0xC0000092, "apperr: severe (163): Program Exception - floating stack check\r\r\n"},
      {0xC0000094, "apperr: severe (164): Program Exception - integer divide by zero\r\r\n"},
      {0xC0000095, "apperr: severe (165): Program Exception - integer overflow\r\r\n"},
      {0xC0000096, "apperr: severe (166): Program Exception - privileged instruction\r\r\n"},
      {0xC0000006, "apperr: severe (167): Program Exception - in page error\r\r\n"},
      {0xC000001D, "apperr: severe (168): Program Exception - illegal instruction\r\r\n"},
      {0xC0000025, "apperr: severe (169): Program Exception - noncontinuable exception\r\r\n"},
      {0xC00000FD, "apperr: severe (170): Program Exception - stack overflow\r\r\n"},
      {0xC0000026, "apperr: severe (171): Program Exception - invalid disposition\r\r\n"},
      {0x80000001,
       "apperr: severe (172): Program Exception - exception code = 0x80000001 (-2147483647)\r\r\n"},
      {0xE06D7363,
       "apperr: severe (172): Program Exception - exception code = 0xe06d7363 (-529697949)\r\r\n"},
      {0x00000001, "apperr: severe (172): Program Exception - exception code = 0x1 (1)\r\r\n"},
  };
  for (const Case& c : cases) {
    FakeOs os;
    // Without the full buffer the line stands alone, whatever a traceback would add.
    const TextMemory memory = CountingMemory::Refusing(kDiagnosticTextSize);
    const platform::FaultContext fault{c.code, nullptr, nullptr};
    const int status = StatusOf([&] { ReportExceptionWith(os, memory, fault); });
    EXPECT_EQ(os.standard_error, c.line) << std::hex << c.code;
    EXPECT_EQ(status, static_cast<int>(ExceptionMessageNumber(c.code)));
  }
}

TEST(DiagnosticTest, StandardErrorIsATextStream) {
  FakeOs os;
  std::string long_text;
  std::string expected;
  for (int i = 0; i < 700; ++i) {
    long_text += "ab\n";
    expected += "ab\r\n";
  }
  WriteStandardErrorText(os, long_text.data(), long_text.size());
  EXPECT_EQ(os.standard_error, expected);
  os.standard_error.clear();
  const std::string mixed = "\n\r\nx\r";
  WriteStandardErrorText(os, mixed.data(), mixed.size());
  EXPECT_EQ(os.standard_error, "\r\n\r\r\nx\r");
}

}  // namespace
}  // namespace pageout::diagnostics
