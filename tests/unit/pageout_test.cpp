// Whole runs of the front end through the fake platform: the exact console bytes and the exact
// command lines the interpreter receives.
#include "frontend/pageout.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "services/console.h"
#include "tests/unit/fake_os.h"

namespace pageout::frontend {
namespace {

using platform::FileKind;
using platform::Host;
using testing::ExitCalled;
using testing::FakeOs;
using ::testing::ElementsAre;
using ::testing::StartsWith;

const std::string kRuleLine = std::string(74, '=') + "\r\n";
const std::string kBanner =
    "  \r\n"
    "\r\n"
    "\r\n" +
    kRuleLine +
    " EXECUTE THE\" PROGRAM BY TYPING -  PAGEOUT 'FILENAME' - THE DEFAULTS ARE: \r\n"
    "       1: PDF FILE CREATION FOR VIEWING & PRINTING TO ANY PRINTER\r\n"
    "       2: LANDSCAPE WITH A MAXIMUM OF 132 COLUMNS\r\n" +
    kRuleLine +
    "\r\n"
    "\r\n"
    "\r\n";
const std::string kPrompt = " Name of file to be printed: ";
const std::string kError = "  \r\n ERROR ON FILENAME INPUT!  TRY AGAIN.\r\n  \r\n";
const std::string kLegend =
    "  \r\n      <Enter> for yes\r\n      <N> for no\r\n      <Q> to quit\r\n  \r\n";
const std::string kLandscapeQ = " Landscape, 132 columns maximum? ";
const std::string kPortrait132Q = " Portrait, 132 columns maximum? ";
const std::string kPortrait80Q = " Portrait, 80 columns maximum? ";
const std::string kFarewell = "  \r\n EXITING PROGRAM\r\n  \r\n";

const std::string kInterpreter = "C:\\Windows\\system32\\cmd.exe";
const std::string kLandscape = "TEXT2PDF.EXE -c160 -L -s8 -v7      ";
const std::string kPortrait132 = "TEXT2PDF.EXE -l92 -c132 -s6 -v8  ";
const std::string kPortrait80 = "TEXT2PDF.EXE ";

class PageoutTest : public ::testing::Test {
 protected:
  explicit PageoutTest(Host host = Host::kWindows) : os(host) {
    if (host == Host::kWindows) {
      os.environment["COMSPEC"] = kInterpreter;
      os.AddFile(kInterpreter);
      os.AddFile("C:\\work\\report.txt");
    } else {
      os.AddFile("/bin/sh");
      os.AddFile("/work/report.txt");
    }
    os.SetInput(FileKind::kConsole, "");
  }
  void SetUp() override { services::CloseChannels(); }
  void TearDown() override { services::CloseChannels(); }

  // Runs the front end with argument 1 when given; returns the exit status.
  int Run(std::optional<std::string> argument = std::nullopt) {
    std::vector<std::string> arguments{"pageout"};
    if (argument) arguments.push_back(*argument);
    return RunWith(arguments);
  }
  int RunWith(const std::vector<std::string>& arguments) {
    try {
      Pageout(os, arguments);
    } catch (const ExitCalled& exit) {
      return exit.status;
    }
    ADD_FAILURE() << "the front end returned";
    return -1;
  }
  // The command lines the interpreter received, in order.
  std::vector<std::string> Commands() const {
    std::vector<std::string> lines;
    for (const auto& start : os.starts) lines.push_back(start.command_line);
    return lines;
  }
  std::vector<std::string> Ran(const std::string& converter_command) const {
    return {kInterpreter + " /c " + converter_command, kInterpreter + " /c OT.PDF"};
  }

  FakeOs os;
};

TEST_F(PageoutTest, CommandLineRunWritesTheBannerAndRunsLandscape132) {
  EXPECT_EQ(Run("report.txt"), 0);
  EXPECT_EQ(os.Output(), kBanner);
  EXPECT_EQ(Commands(), Ran(kLandscape + "report.txt > OT.PDF"));
  EXPECT_TRUE(os.input().requests.empty());
  EXPECT_TRUE(os.attribute_queries.size() == 2);  // the interpreter twice, no existence test
  EXPECT_EQ(os.standard_error, "");
  // Every record went out in its own write call: one list line and ten records.
  EXPECT_EQ(os.writes[FakeOs::kStdOutput].size(), 11u);
}

TEST_F(PageoutTest, CommandLineArguments) {
  struct Case {
    std::vector<std::string> arguments;
    std::string converter_command;
  };
  const std::string a80(80, 'a');
  const Case cases[] = {
      {{"pageout", "missing.txt"}, kLandscape + "missing.txt > OT.PDF"},
      {{"pageout", "one.txt", "two.txt"}, kLandscape + "one.txt > OT.PDF"},
      {{"pageout", a80}, kLandscape + a80 + " > OT.PDF"},
      {{"pageout", a80 + "bbbb"}, kLandscape + a80 + " > OT.PDF"},
      {{"pageout", " lead.txt"}, kLandscape + " lead.txt > OT.PDF"},
      {{"pageout", "my file.txt"}, kLandscape + "\"my file.txt\" > OT.PDF"},
      // 32768 characters or more are still an argument.
      {{"pageout", std::string(32768, 'x')}, kLandscape + std::string(80, 'x') + " > OT.PDF"},
      {{"pageout", std::string(65536, 'y')}, kLandscape + std::string(80, 'y') + " > OT.PDF"},
  };
  for (const Case& c : cases) {
    os.starts.clear();
    services::CloseChannels();
    EXPECT_EQ(RunWith(c.arguments), 0);
    EXPECT_EQ(Commands(), Ran(c.converter_command)) << c.arguments[1].size();
  }
}

TEST_F(PageoutTest, NoArgumentOrABlankOneAsksForTheName) {
  for (const std::optional<std::string>& argument :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("     ")}) {
    services::CloseChannels();
    os.writes.clear();
    os.standard_error.clear();
    os.SetInput(FileKind::kDisk, "");
    EXPECT_EQ(Run(argument), 24);
    EXPECT_EQ(os.Output(), kBanner + kPrompt);
    EXPECT_THAT(os.standard_error,
                StartsWith("apperr: severe (24): end-of-file during read, unit -4, file CONIN$"
                           "\r\r\n"));
    EXPECT_TRUE(os.starts.empty());
  }
}

TEST_F(PageoutTest, TheWorkedExampleByteForByte) {
  os.SetInput(FileKind::kConsole, "missing.txt\r\nreport.txt\r\nn\r\n\r\n");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(os.Output(), kBanner + kPrompt + kError + kPrompt + kLegend + kLandscapeQ + "  \r\n" +
                             kPortrait132Q);
  EXPECT_EQ(Commands(), Ran(kPortrait132 + "report.txt > OT.PDF"));
  EXPECT_EQ(os.standard_error, "");
}

TEST_F(PageoutTest, EveryClassOfAnswer) {
  struct Case {
    std::string reply;
    std::string chosen;  // the converter command, or "" for a quit
  };
  const Case cases[] = {
      {"", kLandscape},   {"Y", kLandscape}, {"y", kLandscape}, {"yes", kLandscape},
      {"1", kLandscape},  {" n", kLandscape}, {"\x1a", kLandscape}, {"\t", kLandscape},
      {"Q", ""},          {"q", ""},          {"Quit", ""},
  };
  for (const Case& c : cases) {
    services::CloseChannels();
    os.starts.clear();
    os.writes.clear();
    os.SetInput(FileKind::kPipe, "report.txt\n" + c.reply + "\n");
    EXPECT_EQ(Run(), 0);
    if (c.chosen.empty()) {
      EXPECT_TRUE(os.starts.empty()) << "'" << c.reply << "'";
      EXPECT_EQ(os.Output(), kBanner + kPrompt + kLegend + kLandscapeQ + kFarewell);
    } else {
      EXPECT_EQ(Commands(), Ran(c.chosen + "report.txt > OT.PDF")) << "'" << c.reply << "'";
    }
  }
  for (const char* no : {"N", "n", "No", "no"}) {
    services::CloseChannels();
    os.starts.clear();
    os.SetInput(FileKind::kPipe, "report.txt\n" + std::string(no) + "\ny\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Commands(), Ran(kPortrait132 + "report.txt > OT.PDF")) << no;
  }
}

TEST_F(PageoutTest, ThreeNoAnswersBringBackTheFirstQuestionWithoutTheLegend) {
  os.SetInput(FileKind::kDisk, "report.txt\nn\nn\nn\nn\nN\nyes\n");
  EXPECT_EQ(Run(), 0);
  const std::string cycle = kLandscapeQ + "  \r\n" + kPortrait132Q + kPortrait80Q;
  EXPECT_EQ(os.Output(), kBanner + kPrompt + kLegend + cycle + cycle);
  EXPECT_EQ(Commands(), Ran(kPortrait80 + "report.txt > OT.PDF"));
}

TEST_F(PageoutTest, QuitAtEachQuestion) {
  const std::string replies[] = {"q\n", "n\nQ\n", "n\nn\nquit\n"};
  const std::string shown[] = {kLandscapeQ, kLandscapeQ + "  \r\n" + kPortrait132Q,
                               kLandscapeQ + "  \r\n" + kPortrait132Q + kPortrait80Q};
  for (int i = 0; i < 3; ++i) {
    services::CloseChannels();
    os.writes.clear();
    os.SetInput(FileKind::kConsole, "report.txt\r\n" + replies[i]);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(os.Output(), kBanner + kPrompt + kLegend + shown[i] + kFarewell) << i;
    EXPECT_TRUE(os.starts.empty());
  }
}

TEST_F(PageoutTest, RejectedNamesAreAskedAgain) {
  os.AddDirectory("C:\\work\\docs");
  os.AddFile("C:\\work\\a.txt");  // a pattern is not expanded, whatever it would match
  for (const char* rejected : {"", "   ", "missing.txt", "docs", "*.txt", "rep?rt.txt"}) {
    services::CloseChannels();
    os.writes.clear();
    os.starts.clear();
    os.SetInput(FileKind::kConsole, std::string(rejected) + "\r\nreport.txt\r\n\r\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(os.Output(), kBanner + kPrompt + kError + kPrompt + kLegend + kLandscapeQ)
        << "'" << rejected << "'";
    EXPECT_EQ(Commands(), Ran(kLandscape + "report.txt > OT.PDF"));
  }
}

TEST_F(PageoutTest, TypedNamesKeepTheirLeadingBlanksAndLoseTheirTrailingOnes) {
  struct Case {
    std::string typed;
    std::string in_command;
  };
  os.AddFile("C:\\work\\my file.txt");
  const Case cases[] = {
      {"report.txt   ", "report.txt"},
      {"  report.txt", "  report.txt"},
      {"NUL", "NUL"},
      {"con.txt", "con.txt"},
      {"my file.txt", "\"my file.txt\""},
      {" my file.txt ", " \"my file.txt\""},
  };
  for (const Case& c : cases) {
    services::CloseChannels();
    os.starts.clear();
    os.SetInput(FileKind::kConsole, c.typed + "\r\nno\r\nyes\r\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Commands(), Ran(kPortrait132 + c.in_command + " > OT.PDF")) << c.typed;
  }
}

TEST_F(PageoutTest, AReplyLongerThanTheFieldCountsByItsFirstCharacter) {
  os.SetInput(FileKind::kConsole, "report.txt\r\n" + std::string(100, 'n') + "\r\n\r\n");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Commands(), Ran(kPortrait132 + "report.txt > OT.PDF"));
}

TEST_F(PageoutTest, EndOfInputAtAnAnswerPrompt) {
  os.SetInput(FileKind::kPipe, "report.txt\nn\n");
  EXPECT_EQ(Run(), 24);
  EXPECT_EQ(os.Output(), kBanner + kPrompt + kLegend + kLandscapeQ + "  \r\n" + kPortrait132Q);
  EXPECT_THAT(os.standard_error,
              StartsWith("apperr: severe (24): end-of-file during read, unit -4, file CONIN$"
                         "\r\r\n"));
}

TEST_F(PageoutTest, TheInterpreterFindsStandardInputRightAfterTheLastLineRead) {
  os.SetInput(FileKind::kDisk, "report.txt\r\nn\r\n\r\nfor the child\r\n");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(os.starts.size(), 2u);
  EXPECT_EQ(os.starts[0].input_position, 17u);
}

TEST_F(PageoutTest, AClosedOutputEndsTheRunWith38) {
  os.write_error = 232;
  EXPECT_EQ(Run("report.txt"), 38);
  EXPECT_THAT(os.standard_error,
              ::testing::HasSubstr("apperr: severe (38): error during write, unit -1, file "
                                   "CONOUT$\r\r\n"));
  EXPECT_TRUE(os.starts.empty());
}

class PosixPageoutTest : public PageoutTest {
 protected:
  PosixPageoutTest() : PageoutTest(Host::kLinux) {}
};

TEST_F(PosixPageoutTest, TheShellRunsTheSameConverterCommandAndTheDesktopOpener) {
  os.AddFile("/work/it's here.txt");
  os.SetInput(FileKind::kPipe, "it's here.txt\nn\nn\n\n");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(os.Output(), kBanner + kPrompt + kLegend + kLandscapeQ + "  \r\n" + kPortrait132Q +
                             kPortrait80Q);
  ASSERT_EQ(os.starts.size(), 2u);
  EXPECT_THAT(os.starts[0].args,
              ElementsAre("/bin/sh", "-c", "TEXT2PDF.EXE 'it'\\''s here.txt' > OT.PDF"));
  EXPECT_THAT(os.starts[1].args, ElementsAre("/bin/sh", "-c", "xdg-open OT.PDF"));
}

TEST_F(PosixPageoutTest, MacOpensWithOpen) {
  os.host_ = Host::kMac;
  EXPECT_EQ(Run("report.txt"), 0);
  ASSERT_EQ(os.starts.size(), 2u);
  EXPECT_THAT(os.starts[0].args,
              ElementsAre("/bin/sh", "-c", kLandscape + "report.txt > OT.PDF"));
  EXPECT_THAT(os.starts[1].args, ElementsAre("/bin/sh", "-c", "open OT.PDF"));
}

}  // namespace
}  // namespace pageout::frontend
