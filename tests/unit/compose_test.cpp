#include "frontend/compose.h"

#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fuzz/interpreters.h"

namespace pageout::frontend {
namespace {

using platform::Host;

struct Composed {
  std::string command;  // as executed: up to the width, trailing blanks dropped
  std::size_t width;
};

Composed Compose(Host host, const Layout& layout, const std::string& name) {
  std::array<char, kFileNameSize> field;
  field.fill(' ');
  name.copy(field.data(), std::min(name.size(), field.size()));
  std::array<char, kCommandCapacity> command;
  command.fill('#');
  const std::size_t width = ComposeConverterCommand(host, layout, field, command);
  std::string text(command.data(), width);
  const std::string blanks_after = text.substr(text.find_last_not_of(' ') + 1);
  EXPECT_EQ(blanks_after, std::string(blanks_after.size(), ' '));
  text.erase(text.find_last_not_of(' ') + 1);
  return {text, width};
}

TEST(ComposeTest, PlainNamesLandInTheLayoutsNameField) {
  struct Case {
    const Layout* layout;
    std::string command;
  };
  const Case cases[] = {
      {&kLayouts[0], "TEXT2PDF.EXE -c160 -L -s8 -v7      report.txt > OT.PDF"},
      {&kLayouts[1], "TEXT2PDF.EXE -l92 -c132 -s6 -v8  report.txt > OT.PDF"},
      {&kLayouts[2], "TEXT2PDF.EXE report.txt > OT.PDF"},
  };
  for (Host host : {Host::kWindows, Host::kLinux, Host::kMac}) {
    for (const Case& c : cases) {
      const Composed composed = Compose(host, *c.layout, "report.txt");
      EXPECT_EQ(composed.command, c.command);
      EXPECT_EQ(composed.width, kCommandBufferSize);
    }
  }
  EXPECT_EQ(Compose(Host::kWindows, kLayouts[0], "r").command.size(), 44u + 1);
  EXPECT_EQ(Compose(Host::kWindows, kLayouts[1], "r").command.size(), 42u + 1);
  EXPECT_EQ(Compose(Host::kWindows, kLayouts[2], "r").command.size(), 22u + 1);
}

TEST(ComposeTest, AnEightyCharacterNameEndsAtPosition124) {
  const std::string name(80, 'N');
  for (Host host : {Host::kWindows, Host::kLinux}) {
    const Composed composed = Compose(host, kLandscape132, name);
    ASSERT_EQ(composed.command.size(), 124u);
    EXPECT_EQ(composed.command.substr(35, 80), name);         // positions 36 to 115
    EXPECT_EQ(composed.command.substr(115), " > OT.PDF");     // positions 116 to 124
    EXPECT_EQ(composed.width, kCommandBufferSize);
  }
}

TEST(ComposeTest, LeadingBlanksStayInFrontOfTheName) {
  EXPECT_EQ(Compose(Host::kWindows, kLayouts[2], " a.txt").command, "TEXT2PDF.EXE  a.txt > OT.PDF");
  EXPECT_EQ(Compose(Host::kLinux, kLandscape132, "  a.txt").command,
            "TEXT2PDF.EXE -c160 -L -s8 -v7        a.txt > OT.PDF");
}

TEST(ComposeTest, NamesTheInterpreterWouldSplitAreQuoted) {
  struct Case {
    Host host;
    std::string name;
    std::string command;  // portrait 80
  };
  const Case cases[] = {
      {Host::kWindows, "my file.txt", "TEXT2PDF.EXE \"my file.txt\" > OT.PDF"},
      {Host::kWindows, "  my file.txt", "TEXT2PDF.EXE   \"my file.txt\" > OT.PDF"},
      {Host::kWindows, "a&b.txt", "TEXT2PDF.EXE \"a&b.txt\" > OT.PDF"},
      {Host::kWindows, "a\tb", "TEXT2PDF.EXE \"a\tb\" > OT.PDF"},
      {Host::kWindows, "it's;$x.txt", "TEXT2PDF.EXE it's;$x.txt > OT.PDF"},
      {Host::kLinux, "my file.txt", "TEXT2PDF.EXE 'my file.txt' > OT.PDF"},
      {Host::kLinux, " my file.txt", "TEXT2PDF.EXE  'my file.txt' > OT.PDF"},
      {Host::kLinux, "it's.txt", "TEXT2PDF.EXE 'it'\\''s.txt' > OT.PDF"},
      {Host::kLinux, "a;rm -rf x", "TEXT2PDF.EXE 'a;rm -rf x' > OT.PDF"},
      {Host::kLinux, "$HOME", "TEXT2PDF.EXE '$HOME' > OT.PDF"},
      {Host::kLinux, "dir/Az09_.+,:@%=-.txt", "TEXT2PDF.EXE dir/Az09_.+,:@%=-.txt > OT.PDF"},
      {Host::kMac, "a(b)", "TEXT2PDF.EXE 'a(b)' > OT.PDF"},
      // A leading dash would make the name an option of the converter.
      {Host::kWindows, "-oevil", "TEXT2PDF.EXE .\\-oevil > OT.PDF"},
      {Host::kWindows, " -o x", "TEXT2PDF.EXE  \".\\-o x\" > OT.PDF"},
      {Host::kLinux, "-oevil", "TEXT2PDF.EXE ./-oevil > OT.PDF"},
      {Host::kLinux, "-o x", "TEXT2PDF.EXE './-o x' > OT.PDF"},
      {Host::kLinux, "a-b", "TEXT2PDF.EXE a-b > OT.PDF"},
      // NULs after the name are fill, as for the existence test, and never reach the command.
      {Host::kLinux, std::string("a.txt\0\0 \0", 9), "TEXT2PDF.EXE a.txt > OT.PDF"},
      {Host::kWindows, std::string("a b\0", 4), "TEXT2PDF.EXE \"a b\" > OT.PDF"},
      // Backslashes are doubled only before a quote, the closing one included.
      {Host::kWindows, "my dir\\", "TEXT2PDF.EXE \"my dir\\\\\" > OT.PDF"},
      {Host::kWindows, "a b\\c", "TEXT2PDF.EXE \"a b\\c\" > OT.PDF"},
      // A % or a quote leaves no quoted stretch to the interpreter: everything special is escaped.
      {Host::kWindows, "100% sure", "TEXT2PDF.EXE ^\"100%^ sure^\" > OT.PDF"},
      {Host::kWindows, "a%PATH%b", "TEXT2PDF.EXE ^\"a%^PATH%^b^\" > OT.PDF"},
      {Host::kWindows, "a\" & x", "TEXT2PDF.EXE ^\"a\\^\" ^& x^\" > OT.PDF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Compose(c.host, kLayouts[2], c.name).command, c.command) << c.name;
  }
}

TEST(ComposeTest, SpecialCharactersOfEachHost) {
  for (char c : std::string(" \t&|<>^()\"")) {
    EXPECT_TRUE(NeedsQuoting(Host::kWindows, std::string("a") + c)) << int{c};
    EXPECT_TRUE(NeedsQuoting(Host::kLinux, std::string("a") + c)) << int{c};
  }
  EXPECT_TRUE(NeedsQuoting(Host::kWindows, "a%"));
  EXPECT_FALSE(NeedsQuoting(Host::kLinux, "a%"));
  for (char c : std::string(";$'*?`!#~[]{}\\\x80")) {
    EXPECT_FALSE(NeedsQuoting(Host::kWindows, std::string("a") + c)) << int{c};
    EXPECT_TRUE(NeedsQuoting(Host::kLinux, std::string("a") + c)) << int{c};
  }
}

// Each name passes through the models of cmd /c (variables, carets, quotes, & | < >) and of the
// run-time library's splitting of the converter's command line, and arrives unchanged.
TEST(ComposeTest, WindowsNamesReachTheConverterUnchanged) {
  const std::string names[] = {
      "my file.txt", "a&b|c<d>e^f(g)", "dir\\", "my dir\\\\", "a\\\"b", "\"", "\"\"", "a\" & x & \"b",
      "100% sure", "a%PATH%b", "%A%%A%", "% %", "%", "^%A%^", "\\\"%PATH%\\", "-o x",
  };
  for (const std::string& name : names) {
    const fuzz::Parsed parsed = fuzz::ParseWin32("TEXT2PDF.EXE " + QuoteName(Host::kWindows, name));
    EXPECT_EQ(parsed.unsafe, "") << name;
    EXPECT_EQ(parsed.words, (std::vector<std::string>{"TEXT2PDF.EXE", name})) << name;
  }
}

TEST(ComposeTest, NoNameOverflowsTheCommand) {
  struct Case {
    Host host;
    std::string name;
  };
  const Case cases[] = {
      {Host::kWindows, std::string(80, '&')},
      {Host::kWindows, std::string(80, '"')},
      {Host::kWindows, std::string(80, '%')},
      {Host::kWindows, "\\\"" + std::string(78, '\\')},
      {Host::kWindows, " " + std::string(79, '(')},
      {Host::kLinux, std::string(80, '\'')},
      {Host::kLinux, "x" + std::string(78, ' ') + "y"},
  };
  for (const Case& c : cases) {
    for (const Layout& layout : kLayouts) {
      const Composed composed = Compose(c.host, layout, c.name);
      ASSERT_GE(composed.command.size(), 9u);
      EXPECT_EQ(composed.command.substr(composed.command.size() - 9), " > OT.PDF");
      EXPECT_EQ(composed.width, std::max(kCommandBufferSize, composed.command.size()));
      EXPECT_EQ(composed.command.substr(0, layout.prefix.size()), layout.prefix);
    }
  }
  const Composed longest = Compose(Host::kLinux, kLandscape132, std::string(80, '\''));
  EXPECT_EQ(longest.width, kCommandCapacity);
  std::string quoted = "'";
  for (int i = 0; i < 80; ++i) quoted += "'\\''";
  EXPECT_EQ(longest.command, "TEXT2PDF.EXE -c160 -L -s8 -v7      " + quoted + "' > OT.PDF");
}

TEST(ComposeTest, ViewerCommandPerHost) {
  EXPECT_EQ(ViewerCommand(Host::kWindows), "OT.PDF");
  EXPECT_EQ(ViewerCommand(Host::kLinux), "xdg-open OT.PDF");
  EXPECT_EQ(ViewerCommand(Host::kMac), "open OT.PDF");
}

TEST(AnswerTest, Classes) {
  for (char c : std::string("Nn")) EXPECT_EQ(ClassifyAnswer(c), Answer::kNo) << c;
  for (char c : std::string("Qq")) EXPECT_EQ(ClassifyAnswer(c), Answer::kQuit) << c;
  for (char c : std::string(" Yy1x\t\x1a\r")) EXPECT_EQ(ClassifyAnswer(c), Answer::kYes) << int{c};
}

}  // namespace
}  // namespace pageout::frontend
