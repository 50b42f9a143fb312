#include "services/console.h"

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/unit/fake_os.h"

namespace pageout::services {
namespace {

using platform::FileKind;
using std::string_literals::operator""s;
using testing::ExitCalled;
using testing::FakeOs;
using testing::ReadStep;
using ::testing::ElementsAre;
using ::testing::StartsWith;

constexpr Element kRead[] = {Begin(), TextField(), End()};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { CloseChannels(); }
  void TearDown() override {
    CloseChannels();
    SetBufferResize(nullptr);
  }

  // Runs body and returns the exit status it ended with, or -1 when it returned.
  template <typename Body>
  int StatusOf(Body body) {
    try {
      body();
    } catch (const ExitCalled& exit) {
      return exit.status;
    }
    return -1;
  }

  std::string ReadInto(std::size_t width) {
    std::string field(width, 'x');
    ReadField(os, kRead, std::span(field.data(), field.size()));
    return field;
  }

  FakeOs os;
};

TEST_F(ConsoleTest, ListLinesBeginWithABlankAndSplitAt80Columns) {
  struct Case {
    std::string item;
    std::vector<std::string> writes;
  };
  const std::string a79(79, 'a');
  const Case cases[] = {
      {" ", {"  \r\n"}},
      {"EXITING PROGRAM", {" EXITING PROGRAM\r\n"}},
      {"     <Enter> for yes", {"      <Enter> for yes\r\n"}},
      {a79, {" " + a79 + "\r\n"}},
      {a79 + "b", {" " + a79 + "\r\n", " b\r\n"}},
      {a79 + a79 + "c", {" " + a79 + "\r\n", " " + a79 + "\r\n", " c\r\n"}},
  };
  for (const Case& c : cases) {
    os.writes.clear();
    WriteListLine(os, c.item);
    EXPECT_EQ(os.writes[FakeOs::kStdOutput], c.writes) << "item of " << c.item.size();
  }
}

TEST_F(ConsoleTest, TemplatesWriteEachRecordInOneCall) {
  struct Case {
    const char* what;
    std::vector<Element> elements;
    std::vector<std::string> writes;
  };
  const std::string pdf = " 1: PDF FILE CREATION FOR VIEWING & PRINTING TO ANY PRINTER";
  const Case cases[] = {
      {"a right move does not extend the record",
       {Begin(), RightMove(1), RecordBreak(), End()},
       {"\r\n", "\r\n"}},
      {"skipped columns are blanks",
       {Begin(), Column(7), Literal(pdf), End()},
       {"      " + pdf + "\r\n"}},
      {"a held prompt has no line end",
       {Begin(), Literal(" Name? "), HoldMark(), End()},
       {" Name? "}},
      {"a move between literals leaves blanks",
       {Begin(), Literal("ab"), RightMove(2), Literal("c"), End()},
       {"ab  c\r\n"}},
      {"a column before the end overwrites",
       {Begin(), Literal("abcdef"), Column(2), Literal("X"), End()},
       {"aXcdef\r\n"}},
      {"the hold ends with its record",
       {Begin(), Literal("p"), HoldMark(), RecordBreak(), Literal("q"), End()},
       {"p", "q\r\n"}},
      {"literals join on one record",
       {Begin(), Literal("ab"), Literal("cd"), RecordBreak(), RecordBreak(), End()},
       {"abcd\r\n", "\r\n", "\r\n"}},
  };
  for (const Case& c : cases) {
    os.writes.clear();
    WriteRecords(os, c.elements);
    EXPECT_EQ(os.writes[FakeOs::kStdOutput], c.writes) << c.what;
  }
}

TEST_F(ConsoleTest, ARecordLongerThanTheBufferGoesOutWhole) {
  const std::string long_text(3 * kInitialRecordBufferSize + 5, 'z');
  const Element elements[] = {Begin(), Column(3), Literal(long_text), End()};
  WriteRecords(os, elements);
  EXPECT_THAT(os.writes[FakeOs::kStdOutput], ElementsAre("  " + long_text + "\r\n"));
}

// The line rules hold whatever the standard input is.
TEST_F(ConsoleTest, LineRulesUnderEveryStrategy) {
  struct Case {
    std::string input;
    std::string field;  // 6 characters
  };
  const Case cases[] = {
      {"abc\r\n", "abc   "},     {"abc\n", "abc   "},      {"abc\r\r\n", "abc\r  "},
      {"a\tb\n", "a\tb   "},     {"\x1a\n", "\x1a     "},  {"\n", "      "},
      {"\r\n", "      "},        {"a\rb\n", "a\rb   "},    {"abcdefgh\n", "abcdef"},
      {"abc", "abc   "},        {"abc\r", "abc   "},      {" n\n", " n    "},
  };
  for (FileKind kind : {FileKind::kConsole, FileKind::kDisk, FileKind::kPipe}) {
    for (const Case& c : cases) {
      CloseChannels();
      os.SetInput(kind, c.input);
      EXPECT_EQ(ReadInto(6), c.field)
          << "kind " << static_cast<int>(kind) << " input '" << c.input << "'";
    }
  }
}

TEST_F(ConsoleTest, ALongLineFillsTheFieldAndTheRestIsDropped) {
  const std::string line(100, 'L');
  os.SetInput(FileKind::kConsole, line + "\r\nnext\r\n");
  EXPECT_EQ(ReadInto(80), std::string(80, 'L'));
  EXPECT_EQ(ReadInto(80), "next" + std::string(76, ' '));
}

TEST_F(ConsoleTest, ConsoleReadsAskForTheFreeRoomAndDoubleTheBuffer) {
  const std::string line(600, 'c');
  os.SetInput(FileKind::kConsole, line + "\nend\n");
  EXPECT_EQ(ReadInto(3), "ccc");
  // 256 free, then 256 more after doubling to 512, then 512 after doubling to 1024.
  EXPECT_THAT(os.input().requests, ElementsAre(256u, 256u, 512u));
  EXPECT_EQ(ReadInto(3), "end");
}

TEST_F(ConsoleTest, ConsoleBytesBeyondTheLineStayForTheNextRead) {
  os.input().script = {ReadStep::Data("one\r\ntwo\nthr"), ReadStep::Data("ee\n")};
  EXPECT_EQ(ReadInto(5), "one  ");
  EXPECT_EQ(ReadInto(5), "two  ");
  EXPECT_EQ(os.input().requests.size(), 1u);  // the second line came from the read-ahead
  EXPECT_EQ(ReadInto(5), "three");
}

TEST_F(ConsoleTest, DiskFilePositionStandsRightAfterEachLine) {
  os.SetInput(FileKind::kDisk, "first\r\nsecond\nlast");
  EXPECT_EQ(ReadInto(6), "first ");
  EXPECT_EQ(os.input().position, 7u);
  EXPECT_EQ(ReadInto(6), "second");
  EXPECT_EQ(os.input().position, 14u);
  EXPECT_EQ(ReadInto(6), "last  ");
  EXPECT_THAT(os.input().seek_backs, ElementsAre(11u, 4u));  // the final line needs no move
  EXPECT_EQ(StatusOf([&] { ReadInto(6); }), 24);
}

TEST_F(ConsoleTest, DiskLineLongerThanTheBufferDoublesIt) {
  const std::string line(700, 'd');
  os.SetInput(FileKind::kDisk, line + "\nnext\n");
  EXPECT_EQ(ReadInto(2), "dd");
  EXPECT_THAT(os.input().requests, ElementsAre(256u, 256u, 512u));
  EXPECT_THAT(os.input().seek_backs, ElementsAre(5u));
  EXPECT_EQ(os.input().position, 701u);
  EXPECT_EQ(ReadInto(4), "next");
}

TEST_F(ConsoleTest, PipesAreReadOneByteAtATimeAndNothingBeyondTheLine) {
  os.SetInput(FileKind::kPipe, "ab\ncd\n");
  EXPECT_EQ(ReadInto(4), "ab  ");
  EXPECT_EQ(os.input().requests, std::vector<std::size_t>(3, 1u));
  EXPECT_EQ(os.input().position, 3u);
  const std::string line(300, 'p');  // longer than the first buffer
  CloseChannels();
  os.SetInput(FileKind::kPipe, line + "\n");
  EXPECT_EQ(ReadInto(2), "pp");
  EXPECT_EQ(os.input().requests.size(), 3u + 301u);
}

TEST_F(ConsoleTest, TheKindIsAskedAtEveryRead) {
  os.SetInput(FileKind::kPipe, "one\ntwo\nthree\n");
  EXPECT_EQ(ReadInto(3), "one");
  os.input().kind = FileKind::kDisk;
  EXPECT_EQ(ReadInto(3), "two");
  EXPECT_THAT(os.input().seek_backs, ElementsAre(6u));
}

// A last line whose bytes exactly fill the buffer is not lost when the next call finds no more.
TEST_F(ConsoleTest, EndOfInputAfterAFullBufferCompletesTheLine) {
  const std::string line(kInitialRecordBufferSize, 'f');
  os.SetInput(FileKind::kDisk, line);
  EXPECT_EQ(ReadInto(kInitialRecordBufferSize), line);
  EXPECT_EQ(StatusOf([&] { ReadInto(1); }), 24);
}

TEST_F(ConsoleTest, EndOfInputRaises24WithoutAPlatformLine) {
  for (FileKind kind : {FileKind::kConsole, FileKind::kDisk, FileKind::kPipe}) {
    CloseChannels();
    os.standard_error.clear();
    os.SetInput(kind, "");
    EXPECT_EQ(StatusOf([&] { ReadInto(80); }), 24);
    EXPECT_THAT(os.standard_error,
                StartsWith("apperr: severe (24): end-of-file during read, unit -4, file CONIN$"
                           "\r\r\n"));
  }
}

TEST_F(ConsoleTest, FailedReadsRaiseTheirDiagnosticAfterThePlatformLine) {
  struct Case {
    std::uint32_t error;
    bool standard_handle;
    int status;
  };
  const Case cases[] = {
      {platform::err::kHandleEof, true, 24},
      {platform::err::kBrokenPipe, true, 24},
      {platform::err::kBrokenPipe, false, 39},  // the console device, not the standard input
      {platform::err::kAccessDenied, true, 39},
      {platform::err::kOperationAborted, true, 39},
  };
  os.system_messages[platform::err::kHandleEof] = "Reached the end of the file.\r\n";
  os.system_messages[platform::err::kBrokenPipe] = "The pipe has been ended.\r\n";
  os.system_messages[platform::err::kAccessDenied] = "Access is denied.\r\n";
  os.system_messages[platform::err::kOperationAborted] = "The I/O operation has been aborted.\r\n";
  for (const Case& c : cases) {
    CloseChannels();
    os.standard_error.clear();
    os.yields = 0;
    if (c.standard_handle) {
      os.std_handles[platform::StdStream::kInput] = FakeOs::kStdInput;
    } else {
      os.std_handles.erase(platform::StdStream::kInput);
    }
    const platform::Handle handle = c.standard_handle ? FakeOs::kStdInput
                                                      : FakeOs::kConsoleInputDevice;
    os.input(handle).kind = FileKind::kConsole;
    os.input(handle).script = {ReadStep::Fail(c.error)};
    EXPECT_EQ(StatusOf([&] { ReadInto(80); }), c.status) << "error " << c.error;
    const std::string text = c.status == 24 ? "end-of-file during read" : "error during read";
    std::string expected = "apperr: " + os.system_messages[c.error];
    expected.insert(expected.size() - 1, "\r");
    expected += "apperr: severe (" + std::to_string(c.status) + "): " + text +
                ", unit -4, file CONIN$\r\r\n";
    EXPECT_THAT(os.standard_error, StartsWith(expected)) << "error " << c.error;
    EXPECT_EQ(os.yields, c.error == platform::err::kOperationAborted ? 1 : 0);
  }
}

TEST_F(ConsoleTest, AnAbortedReadYieldsBeforeItsDiagnostic) {
  os.input().script = {ReadStep::Fail(platform::err::kOperationAborted)};
  StatusOf([&] { ReadInto(1); });
  EXPECT_THAT(os.events, ElementsAre("read", "yield", "stderr", "stderr", "exit"));
}

// A writer that closes its pipe in the middle of a line: the part that arrived is a line of its
// own, and end of input comes with the next read.
TEST_F(ConsoleTest, BrokenPipeAfterPartOfALineCompletesIt) {
  os.system_messages[platform::err::kBrokenPipe] = "The pipe has been ended.\r\n";
  os.SetInput(FileKind::kPipe, "first\nsec");
  os.input().end_result = {false, 0, platform::err::kBrokenPipe};
  EXPECT_EQ(ReadInto(6), "first ");
  EXPECT_EQ(ReadInto(6), "sec   ");
  EXPECT_EQ(os.standard_error, "");
  EXPECT_EQ(StatusOf([&] { ReadInto(6); }), 24);
  EXPECT_THAT(os.standard_error,
              StartsWith("apperr: The pipe has been ended.\r\r\n"
                         "apperr: severe (24): end-of-file during read, unit -4, file CONIN$"));
}

TEST_F(ConsoleTest, PipeEndAfterPartOfALineCompletesIt) {
  os.SetInput(FileKind::kPipe, "tail");
  EXPECT_EQ(ReadInto(6), "tail  ");
  EXPECT_EQ(StatusOf([&] { ReadInto(6); }), 24);
}

TEST_F(ConsoleTest, AFailedWriteRaises38) {
  os.write_error = 232;
  os.system_messages[232] = "The pipe is being closed.\r\n";
  EXPECT_EQ(StatusOf([&] { WriteListLine(os, " "); }), 38);
  EXPECT_THAT(os.standard_error,
              StartsWith("apperr: The pipe is being closed.\r\r\n"
                         "apperr: severe (38): error during write, unit -1, file CONOUT$\r\r\n"));
}

TEST_F(ConsoleTest, MissingStandardHandlesOpenTheConsoleDevices) {
  os.std_handles.clear();
  os.SetInput(FileKind::kConsole, "typed\r\n", FakeOs::kConsoleInputDevice);
  WriteListLine(os, "x");
  EXPECT_EQ(ReadInto(5), "typed");
  EXPECT_THAT(os.writes[FakeOs::kConsoleOutputDevice], ElementsAre(" x\r\n"));
}

TEST_F(ConsoleTest, AConsoleDeviceThatCannotBeOpenedEndsTheProgram) {
  os.std_handles.clear();
  os.open_device_error = 2;
  EXPECT_EQ(StatusOf([&] { WriteListLine(os, "x"); }), 30);
  EXPECT_THAT(os.standard_error,
              StartsWith("apperr: FormatMessage failed for sysmem message number 2"
                         "apperr: severe (30): open failure, unit -1, file CONOUT$\r\r\n"));
  CloseChannels();
  os.standard_error.clear();
  EXPECT_EQ(StatusOf([&] { ReadInto(1); }), 30);
  EXPECT_THAT(os.standard_error, ::testing::HasSubstr("open failure, unit -4, file CONIN$\r\r\n"));
}

// Grows buffers up to the first record-buffer size and refuses anything larger.
void* RefuseGrowth(void* block, std::size_t size) {
  return size > kInitialRecordBufferSize ? nullptr : std::realloc(block, size);
}

TEST_F(ConsoleTest, BuffersThatCannotGrowRaise98And66) {
  SetBufferResize(&RefuseGrowth);
  os.SetInput(FileKind::kConsole, std::string(300, 'i') + "\n");
  EXPECT_EQ(StatusOf([&] { ReadInto(1); }), 98);
  EXPECT_THAT(os.standard_error,
              StartsWith("apperr: severe (98): cannot allocate memory for the file buffer - out of "
                         "memory, unit -4, file CONIN$\r\r\n"));
  os.standard_error.clear();
  const std::string long_text(300, 'o');
  const Element elements[] = {Begin(), Literal(long_text), End()};
  EXPECT_EQ(StatusOf([&] { WriteRecords(os, elements); }), 66);
  EXPECT_THAT(os.standard_error,
              StartsWith("apperr: severe (66): output statement overflows record, unit -1, file "
                         "CONOUT$\r\r\n"));
}

}  // namespace
}  // namespace pageout::services
