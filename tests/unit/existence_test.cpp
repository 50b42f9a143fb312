#include "services/existence.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/unit/fake_os.h"

namespace pageout::services {
namespace {

using std::string_literals::operator""s;
using testing::FakeOs;
using ::testing::ElementsAre;

TEST(DeviceCheckTest, Table) {
  struct Case {
    const char* name;
    bool device;
  };
  const Case cases[] = {
      // Every row, as written and in other cases.
      {"CON", true}, {"con", true}, {"USER", true}, {"user", true}, {"PRN", true}, {"COM1", true},
      {"COM2", true}, {"COM3", true}, {"com4", true}, {"LPT1", true}, {"LPT2", true},
      {"Lpt3", true}, {"LPT4", true}, {"NUL", true}, {"nul", true}, {"AUX", true}, {"ERR", true},
      {"LINE", true}, {"CONOUT$", true}, {"conin$", true}, {"CoNiN$", true},
      // With an extension: rows that keep their device meaning.
      {"CON.txt", true}, {"PRN.LST", true}, {"COM1.TXT", true}, {"com4.x", true},
      {"NUL.DAT", true}, {"AUX.LOG", true},
      // Rows that lose it: names beginning with E, L or U, and the console devices.
      {"USER.DAT", false}, {"LPT1.TXT", false}, {"lpt4.x", false}, {"ERR.LOG", false},
      {"LINE.1", false}, {"CONOUT$.X", false}, {"CONIN$.txt", false},
      // A trailing dot is no extension.
      {"NUL.", true}, {"LPT1.", true}, {"CONIN$.", true}, {"ERR.", true},
      // The base is everything before the last dot.
      {"NUL.a.b", false}, {"CON..", false},
      // A directory or drive in front.
      {"C:\\NUL", false}, {"dir\\CON", false}, {"./NUL", false}, {"/dev/NUL", false},
      // Bases of 3, 4, 6 and 7 characters not in the table, and other lengths.
      {"ABC", false}, {"COM5", false}, {"LPT5", false}, {"COM9", false}, {"CONSOL", false},
      {"CONOUTX", false}, {"CO", false}, {"CONSOLE1", false}, {"NULL", false}, {"", false},
      {".", false}, {"NU", false}, {"PRN5", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsDeviceName(c.name), c.device) << c.name;
}

class ExistenceTest : public ::testing::TestWithParam<platform::Host> {
 protected:
  ExistenceTest() : os(GetParam()) {}
  bool Windows() const { return GetParam() == platform::Host::kWindows; }
  std::string Full(const std::string& name) const {
    return os.cwd + (Windows() ? "\\" : "/") + name;
  }
  // Tests name as the front end does: in an 80-character field.
  Existence Test(const std::string& name) {
    std::string field = name;
    if (field.size() < 80) field.resize(80, ' ');
    return TestExistence(os, field);
  }
  FakeOs os;
};

TEST_P(ExistenceTest, NamesInAFieldAgainstASmallFileSystem) {
  os.AddFile(Full("report.txt"));
  os.AddFile(Full("my file.txt"));
  os.AttributeError(Full("locked.txt"), platform::err::kAccessDenied);
  os.AddDirectory(Full("docs"));
  struct Case {
    std::string name;
    bool exists;
  };
  const Case cases[] = {
      {"report.txt", true},  {"  report.txt", true}, {"report.txt  ", true},
      {"REPORT.TXT", Windows()},  // names compare without regard to case on Win32 only
      {"missing.txt", false}, {"docs", false},        {"", false},
      {"my file.txt", true},  {"my  file.txt", false}, {"r?port.txt", false},
      {"*.txt", false},
      {"locked.txt", false},
      {"report.txt\0\0"s, true},
      {"report.txt\0junk"s, false},  // an embedded NUL is never part of a file name
  };
  for (const Case& c : cases) {
    const Existence result = Test(c.name);
    EXPECT_EQ(result.exists, c.exists ? -1 : 0) << "'" << c.name << "'";
    EXPECT_EQ(result.status, 0);
  }
}

TEST_P(ExistenceTest, RelativeNamesAreQueriedWithTheirFullPath) {
  Test("  sub/a.txt");
  EXPECT_THAT(os.full_path_calls, ElementsAre("sub/a.txt"));
  EXPECT_THAT(os.attribute_queries, ElementsAre(Full("sub/a.txt")));
}

TEST_P(ExistenceTest, DeviceNamesExistWhateverTheQuerySays) {
  os.AddFile("NUL");  // a query that succeeds for a device counts too
  for (const char* name : {"nul", "Con", "CONIN$", "lpt3", "COM1.TXT", "NUL.", "NUL"}) {
    os.attribute_queries.clear();
    os.full_path_calls.clear();
    EXPECT_EQ(Test(name).exists, -1) << name;
    EXPECT_TRUE(os.full_path_calls.empty()) << name;  // a device name gets no full path
  }
  os.attribute_queries.clear();
  Test("COM1.TXT");
  EXPECT_THAT(os.attribute_queries, ElementsAre("COM1"));  // cut at its last dot
}

TEST_P(ExistenceTest, NamesThatLostTheirDeviceMeaningAreOrdinaryFiles) {
  for (const char* name : {"LPT1.TXT", "ERR.LOG", "USER.DAT", "LINE.1", "CONOUT$.X", "COM5"}) {
    os.attribute_queries.clear();
    EXPECT_EQ(Test(name).exists, 0) << name;
    EXPECT_THAT(os.attribute_queries, ElementsAre(Full(name)));
    os.AddFile(Full(name));
    EXPECT_EQ(Test(name).exists, -1) << name;
  }
}

TEST_P(ExistenceTest, ADeviceNameBehindADirectoryIsAnOrdinaryName) {
  const std::string name = Windows() ? "C:\\dir\\NUL" : "/dir/NUL";
  EXPECT_EQ(Test(name).exists, 0);
  os.AddFile(name);
  EXPECT_EQ(Test(name).exists, -1);
}

TEST_P(ExistenceTest, FullPathsOver256CharactersAreNotUsed) {
  os.AddFile("short");
  struct Case {
    std::size_t full_length;  // 0: the platform cannot form one
    bool used;
  };
  const Case cases[] = {{1, true}, {256, true}, {257, false}, {400, false}, {0, false}};
  for (const Case& c : cases) {
    const std::string full(c.full_length, 'p');
    os.full_path_hook = [&](const std::string&) -> std::optional<std::string> {
      if (c.full_length == 0) return std::nullopt;
      return full;
    };
    os.attribute_queries.clear();
    Test("short");
    EXPECT_THAT(os.attribute_queries, ElementsAre(c.used ? full : "short")) << c.full_length;
  }
}

TEST_P(ExistenceTest, OnlyTheFirst256CharactersCount) {
  const std::string name = std::string(256, 'n');
  os.AddFile(Full(name));
  EXPECT_EQ(TestExistence(os, name + "tail").exists, 0);  // the full path is too long
  os.full_path_hook = [](const std::string& n) { return std::optional<std::string>(n); };
  EXPECT_EQ(TestExistence(os, name + "tail").exists, 0);
  os.AddFile(name);
  os.attribute_queries.clear();
  EXPECT_EQ(TestExistence(os, name + "tail").exists, -1);
  EXPECT_THAT(os.attribute_queries, ElementsAre(name));
  EXPECT_EQ(TestExistence(os, "   " + name).exists, 0);  // the blanks count among the 256
}

INSTANTIATE_TEST_SUITE_P(BothHosts, ExistenceTest,
                         ::testing::Values(platform::Host::kWindows, platform::Host::kLinux));

}  // namespace
}  // namespace pageout::services
