#include "services/command.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/unit/fake_os.h"

namespace pageout::services {
namespace {

using testing::ChildStart;
using testing::FakeOs;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Args = std::vector<std::string>;

TEST(CommandTest, OnlyTrailingBlanksAreTrimmed) {
  struct Case {
    std::string text, trimmed;
  };
  const Case cases[] = {
      {"", ""}, {"     ", ""}, {"dir   ", "dir"}, {"  a b  ", "  a b"}, {"tab\t", "tab\t"},
      {"tab\t  ", "tab\t"},
  };
  for (const Case& c : cases) EXPECT_EQ(TrimCommand(c.text), c.trimmed) << "'" << c.text << "'";
}

TEST(CommandTest, FailureClasses) {
  for (std::uint32_t code : {2u, 3u, 15u, 18u, 53u, 67u, 161u, 206u}) {
    EXPECT_EQ(ClassifyFailure(code), FailureClass::kNotFound) << code;
  }
  for (std::uint32_t code : {5u, 16u, 19u, 27u, 33u, 36u, 65u, 82u, 83u, 108u, 132u, 158u, 167u}) {
    EXPECT_EQ(ClassifyFailure(code), FailureClass::kAccessDenied) << code;
  }
  for (std::uint32_t code :
       {0u, 1u, 4u, 8u, 14u, 17u, 37u, 109u, 188u, 193u, 202u, 0x20000000u | 95u}) {
    EXPECT_EQ(ClassifyFailure(code), FailureClass::kOther) << code;
  }
}

TEST(CommandTest, PathEntries) {
  struct Case {
    std::string path;
    std::vector<std::string> entries;
  };
  const std::string e257(257, 'e');
  const Case cases[] = {
      {"C:\\a;C:\\b", {"C:\\a", "C:\\b"}},
      {";;;C:\\a;;;C:\\b;;", {"C:\\a", "C:\\b"}},
      {"\"C:\\semi;colon\";C:\\b", {"C:\\semi;colon", "C:\\b"}},
      {"C:\\pre\"fix;x\"post;C:\\b", {"C:\\prefix;xpost", "C:\\b"}},
      {"C:\\a;\"unclosed;rest", {"C:\\a", "unclosed;rest"}},
      {"C:\\a;\"\";C:\\b", {"C:\\a"}},  // an entry empty without its quotes ends the search
      {e257 + ";C:\\b", {e257, "C:\\b"}},
      {"C:\\a;" + e257 + "x;C:\\b", {"C:\\a"}},  // 258 characters end the search
      {"\"" + e257 + "\";C:\\b", {e257, "C:\\b"}},  // quotes do not count
      {"", {}},
      {";;;", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> entries;
    std::size_t position = 0;
    while (const std::optional<std::string> entry = NextPathEntry(c.path, position)) {
      entries.push_back(*entry);
    }
    EXPECT_EQ(entries, c.entries) << c.path;
  }
}

class WindowsCommandTest : public ::testing::Test {
 protected:
  WindowsCommandTest() : os(platform::Host::kWindows) {}
  std::vector<std::string> Programs() const {
    std::vector<std::string> programs;
    for (const ChildStart& start : os.starts) programs.push_back(start.program);
    return programs;
  }
  FakeOs os;
};

TEST_F(WindowsCommandTest, ComspecRunsWithTheTrimmedCommand) {
  os.environment["ComSpec"] = "C:\\Windows\\system32\\cmd.exe";
  os.AddFile("C:\\Windows\\system32\\cmd.exe");
  const std::string command =
      "TEXT2PDF.EXE -c160 -L -s8 -v7      report.txt > OT.PDF" + std::string(106, ' ');
  EXPECT_TRUE(ExecuteCommand(os, command));
  ASSERT_EQ(os.starts.size(), 1u);
  EXPECT_EQ(os.starts[0].program, "C:\\Windows\\system32\\cmd.exe");
  EXPECT_EQ(os.starts[0].command_line,
            "C:\\Windows\\system32\\cmd.exe /c TEXT2PDF.EXE -c160 -L -s8 -v7      report.txt > "
            "OT.PDF");
  EXPECT_THAT(os.starts[0].args,
              ElementsAre("C:\\Windows\\system32\\cmd.exe", "/c",
                          "TEXT2PDF.EXE -c160 -L -s8 -v7      report.txt > OT.PDF"));
}

TEST_F(WindowsCommandTest, AnEmptyCommandStillStartsTheInterpreter) {
  os.environment["COMSPEC"] = "C:\\cmd.exe";
  os.AddFile("C:\\cmd.exe");
  EXPECT_TRUE(ExecuteCommand(os, "      "));
  EXPECT_TRUE(ExecuteCommand(os, ""));
  ASSERT_EQ(os.starts.size(), 2u);
  EXPECT_EQ(os.starts[0].command_line, "C:\\cmd.exe /c ");
  EXPECT_EQ(os.starts[1].command_line, "C:\\cmd.exe /c ");
}

TEST_F(WindowsCommandTest, ExitCodeMinusOneIsNoAndIsNotRetried) {
  os.environment["COMSPEC"] = "C:\\cmd.exe";
  os.environment["PATH"] = "C:\\sys";
  os.AddFile("C:\\cmd.exe");
  os.AddFile("C:\\sys\\cmd.exe");
  os.child_results["C:\\cmd.exe"] = {true, -1, 0};
  EXPECT_FALSE(ExecuteCommand(os, "x"));
  EXPECT_THAT(Programs(), ElementsAre("C:\\cmd.exe"));
  os.child_results["C:\\cmd.exe"] = {true, 3, 0};
  EXPECT_TRUE(ExecuteCommand(os, "x"));
}

TEST_F(WindowsCommandTest, CandidatesOfAComspecName) {
  struct Case {
    const char* comspec;
    std::vector<std::string> queried;
  };
  const Case cases[] = {
      {"cmd.exe", {".\\cmd.exe"}},
      {"C:\\tools\\shell", {"C:\\tools\\shell.com", "C:\\tools\\shell.exe", "C:\\tools\\shell.bat",
                            "C:\\tools\\shell.cmd"}},
      {"shell", {".\\shell.com", ".\\shell.exe", ".\\shell.bat", ".\\shell.cmd"}},
      {"C:shell", {"C:shell.com", "C:shell.exe", "C:shell.bat", "C:shell.cmd"}},
      {"C:cmd.exe", {"C:cmd.exe"}},
      {"D:/dir.x/shell", {"D:/dir.x/shell.com", "D:/dir.x/shell.exe", "D:/dir.x/shell.bat",
                          "D:/dir.x/shell.cmd"}},
      {"C:\\dir/sub\\my.shell", {"C:\\dir/sub\\my.shell"}},
      {"", {".\\.com", ".\\.exe", ".\\.bat", ".\\.cmd"}},
  };
  for (const Case& c : cases) {
    os.attribute_queries.clear();
    os.environment = {{"COMSPEC", c.comspec}};  // no PATH: the fallback finds nothing
    EXPECT_FALSE(ExecuteCommand(os, "x")) << c.comspec;
    EXPECT_EQ(os.attribute_queries, c.queried) << c.comspec;
  }
}

TEST_F(WindowsCommandTest, TheFirstEndingThatExistsIsStartedUnderTheUnchangedName) {
  os.environment["COMSPEC"] = "C:\\tools\\shell";
  os.AddFile("C:\\tools\\shell.bat");
  os.AddFile("C:\\tools\\shell.cmd");
  EXPECT_TRUE(ExecuteCommand(os, "OT.PDF"));
  EXPECT_THAT(os.attribute_queries,
              ElementsAre("C:\\tools\\shell.com", "C:\\tools\\shell.exe", "C:\\tools\\shell.bat"));
  ASSERT_EQ(os.starts.size(), 1u);
  EXPECT_EQ(os.starts[0].program, "C:\\tools\\shell.bat");
  EXPECT_EQ(os.starts[0].command_line, "C:\\tools\\shell /c OT.PDF");
}

TEST_F(WindowsCommandTest, ABareComspecMeansTheCurrentDirectory) {
  os.environment["COMSPEC"] = "cmd.exe";
  os.AddFile(".\\cmd.exe");
  EXPECT_TRUE(ExecuteCommand(os, "OT.PDF"));
  ASSERT_EQ(os.starts.size(), 1u);
  EXPECT_EQ(os.starts[0].program, ".\\cmd.exe");
  EXPECT_EQ(os.starts[0].command_line, "cmd.exe /c OT.PDF");
}

TEST_F(WindowsCommandTest, ComspecFailuresThatFallBackAndOnesThatDoNot) {
  struct Case {
    const char* what;
    bool exists;
    std::uint32_t error;  // of the attributes query (missing) or of the start (existing)
    bool falls_back;
  };
  const Case cases[] = {
      {"missing", false, platform::err::kFileNotFound, true},
      {"missing directory", false, platform::err::kPathNotFound, true},
      {"a directory", true, platform::err::kAccessDenied, true},
      {"not allowed", false, platform::err::kAccessDenied, true},
      {"not a program", true, platform::err::kBadExeFormat, false},
      {"out of memory", true, platform::err::kNotEnoughMemory, false},
  };
  for (const Case& c : cases) {
    FakeOs fresh(platform::Host::kWindows);
    fresh.environment = {{"COMSPEC", "C:\\bad\\sh.exe"}, {"PATH", "C:\\sys"}};
    fresh.AddFile("C:\\sys\\cmd.exe");
    if (c.exists) {
      fresh.AddFile("C:\\bad\\sh.exe");
      fresh.child_results["C:\\bad\\sh.exe"] = {false, -1, c.error};
    } else {
      fresh.AttributeError("C:\\bad\\sh.exe", c.error);
    }
    EXPECT_EQ(ExecuteCommand(fresh, "x"), c.falls_back) << c.what;
    if (c.falls_back) {
      ASSERT_FALSE(fresh.starts.empty()) << c.what;
      EXPECT_EQ(fresh.starts.back().program, "C:\\sys\\cmd.exe") << c.what;
      EXPECT_EQ(fresh.starts.back().command_line, "cmd.exe /c x") << c.what;
    } else {
      EXPECT_EQ(fresh.starts.size(), 1u) << c.what;  // only the failed start of COMSPEC
    }
  }
}

// The fallback interpreter is looked for along PATH only: a cmd.exe planted in the current
// directory must not run.
TEST_F(WindowsCommandTest, TheFallbackIsNeverTakenFromTheCurrentDirectory) {
  os.AddFile(".\\cmd.exe");
  EXPECT_FALSE(ExecuteCommand(os, "x"));  // no COMSPEC, no PATH
  os.environment["PATH"] = "C:\\sys";
  os.AddFile("C:\\sys\\cmd.exe");
  os.attribute_queries.clear();
  EXPECT_TRUE(ExecuteCommand(os, "x"));
  EXPECT_THAT(os.attribute_queries, ElementsAre("C:\\sys\\cmd.exe"));
  EXPECT_THAT(Programs(), ElementsAre("C:\\sys\\cmd.exe"));
}

TEST_F(WindowsCommandTest, FallbackNameFollowsThePlatformFlag) {
  os.environment["PATH"] = "C:\\dos";
  os.AddFile("C:\\dos\\command.com");
  os.nt_family = false;
  EXPECT_TRUE(ExecuteCommand(os, "OT.PDF"));
  ASSERT_EQ(os.starts.size(), 1u);
  EXPECT_EQ(os.starts[0].command_line, "command.com /c OT.PDF");
}

TEST_F(WindowsCommandTest, PathSearchCandidatesAndWhereTheSearchEnds) {
  struct Case {
    const char* what;
    std::string path;
    std::map<std::string, std::uint32_t> failing;  // candidate -> error of its query
    std::vector<std::string> queried;
  };
  const std::string d249(249, 'd');  // "C:\" and 249 characters, a backslash and cmd.exe: 260
  const Case cases[] = {
      {"entries in order", "C:\\one;C:\\two\\;D:/three/", {},
       {"C:\\one\\cmd.exe", "C:\\two\\cmd.exe", "D:/three/cmd.exe"}},
      {"quoted entry with a semicolon", "\"C:\\a;b\";C:\\c", {},
       {"C:\\a;b\\cmd.exe", "C:\\c\\cmd.exe"}},
      {"access denied ends the search", "C:\\one;C:\\two",
       {{"C:\\one\\cmd.exe", platform::err::kAccessDenied}}, {"C:\\one\\cmd.exe"}},
      {"on a network path it does not", "\\\\server\\share;//srv/s;C:\\two",
       {{"\\\\server\\share\\cmd.exe", platform::err::kAccessDenied},
        {"//srv/s\\cmd.exe", 1326}},
       {"\\\\server\\share\\cmd.exe", "//srv/s\\cmd.exe", "C:\\two\\cmd.exe"}},
      {"a candidate of 260 characters ends it", "C:\\one;C:\\" + d249 + ";C:\\two", {},
       {"C:\\one\\cmd.exe"}},
      {"259 characters are tried", "C:\\" + std::string(248, 'd') + ";C:\\two", {},
       {"C:\\" + std::string(248, 'd') + "\\cmd.exe", "C:\\two\\cmd.exe"}},
      {"an entry of 258 characters ends it", "C:\\one;" + std::string(258, 'x') + ";C:\\two", {},
       {"C:\\one\\cmd.exe"}},
  };
  for (const Case& c : cases) {
    FakeOs fresh(platform::Host::kWindows);
    fresh.environment["PATH"] = c.path;
    for (const auto& [candidate, error] : c.failing) fresh.AttributeError(candidate, error);
    EXPECT_FALSE(ExecuteCommand(fresh, "x")) << c.what;
    EXPECT_EQ(fresh.attribute_queries, c.queried) << c.what;
  }
}

TEST_F(WindowsCommandTest, PathCandidatesStartWithTheBareNameAsInterpreterName) {
  os.environment["PATH"] = "C:\\none;C:\\Windows\\System32";
  os.AddFile("C:\\Windows\\System32\\cmd.exe");
  os.child_results["C:\\Windows\\System32\\cmd.exe"] = {true, 7, 0};
  EXPECT_TRUE(ExecuteCommand(os, "OT.PDF"));
  ASSERT_EQ(os.starts.size(), 1u);
  EXPECT_EQ(os.starts[0].program, "C:\\Windows\\System32\\cmd.exe");
  EXPECT_THAT(os.starts[0].args, ElementsAre("cmd.exe", "/c", "OT.PDF"));
  EXPECT_EQ(os.starts[0].command_line, "cmd.exe /c OT.PDF");
}

TEST_F(WindowsCommandTest, AStartFailureOnAnOrdinaryEntryEndsTheSearch) {
  os.environment["PATH"] = "C:\\one;C:\\two";
  os.AddFile("C:\\one\\cmd.exe");
  os.AddFile("C:\\two\\cmd.exe");
  os.child_results["C:\\one\\cmd.exe"] = {false, -1, platform::err::kBadExeFormat};
  EXPECT_FALSE(ExecuteCommand(os, "x"));
  EXPECT_THAT(Programs(), ElementsAre("C:\\one\\cmd.exe"));
  os.starts.clear();
  os.child_results["C:\\one\\cmd.exe"] = {false, -1, platform::err::kFileNotFound};
  EXPECT_TRUE(ExecuteCommand(os, "x"));
  EXPECT_THAT(Programs(), ElementsAre("C:\\one\\cmd.exe", "C:\\two\\cmd.exe"));
}

class PosixCommandTest : public ::testing::Test {
 protected:
  PosixCommandTest() : os(platform::Host::kLinux) {}
  FakeOs os;
};

TEST_F(PosixCommandTest, WithoutComspecTheShellRunsTheCommand) {
  os.AddFile("/bin/sh");
  os.environment["PATH"] = "/usr/bin";
  os.AddFile("/usr/bin/cmd.exe");
  EXPECT_TRUE(ExecuteCommand(os, "xdg-open OT.PDF   "));
  ASSERT_EQ(os.starts.size(), 1u);
  EXPECT_EQ(os.starts[0].program, "/bin/sh");
  EXPECT_THAT(os.starts[0].args, ElementsAre("/bin/sh", "-c", "xdg-open OT.PDF"));
  EXPECT_EQ(os.starts[0].command_line, "/bin/sh -c xdg-open OT.PDF");
}

TEST_F(PosixCommandTest, ComspecIsHonouredAsWritten) {
  struct Case {
    const char* comspec;
    std::string candidate;
  };
  const Case cases[] = {
      {"/opt/fake/interp", "/opt/fake/interp"},  // no extension list
      {"fakesh", "./fakesh"},                    // a bare name means the current directory
      {"C:\\x\\sh", "./C:\\x\\sh"},              // backslashes and colons are ordinary here
      {"sub/sh.exe", "sub/sh.exe"},
  };
  for (const Case& c : cases) {
    FakeOs fresh(platform::Host::kLinux);
    fresh.environment["COMSPEC"] = c.comspec;
    fresh.AddFile(c.candidate);
    EXPECT_TRUE(ExecuteCommand(fresh, "cmd")) << c.comspec;
    ASSERT_EQ(fresh.starts.size(), 1u) << c.comspec;
    EXPECT_EQ(fresh.starts[0].program, c.candidate);
    EXPECT_THAT(fresh.starts[0].args, ElementsAre(c.comspec, "-c", "cmd"));
  }
}

TEST_F(PosixCommandTest, AComspecThatCannotBeFoundFallsBackToTheShell) {
  os.environment["COMSPEC"] = "/nowhere/sh";
  os.AddFile("/bin/sh");
  os.AddFile("./sh");
  EXPECT_TRUE(ExecuteCommand(os, "x"));
  EXPECT_THAT(os.attribute_queries, ElementsAre("/nowhere/sh", "/bin/sh"));
  ASSERT_EQ(os.starts.size(), 1u);
  EXPECT_EQ(os.starts[0].program, "/bin/sh");
  // Another kind of failure keeps the fallback from running.
  os.starts.clear();
  os.AddFile("/nowhere/sh");
  os.child_results["/nowhere/sh"] = {false, -1, platform::err::kBadExeFormat};
  EXPECT_FALSE(ExecuteCommand(os, "x"));
  EXPECT_EQ(os.starts.size(), 1u);
}

}  // namespace
}  // namespace pageout::services
