// The Win32 implementation of the platform interface, against the real system (Wine in the tests).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/handle_table.h"
#include "platform/os.h"
#include "platform/runtime_handles_win32.h"

namespace pageout::platform {
namespace {

std::string CurrentDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  return std::string(buffer, length);
}

std::string Joined(const std::string& dir, const std::string& name) {
  return dir.back() == '\\' ? dir + name : dir + "\\" + name;
}

// Each test runs in a fresh folder that is the current directory while it runs.
class Win32OsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = CurrentDirectory();
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    dir_ = std::string(temp) + "pageout-os-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount());
    ASSERT_NE(CreateDirectoryA(dir_.c_str(), nullptr), 0);
    ASSERT_NE(SetCurrentDirectoryA(dir_.c_str()), 0);
    dir_ = CurrentDirectory();
  }
  void TearDown() override {
    SetCurrentDirectoryA(previous_.c_str());
    for (const std::string& name : created_) DeleteFileA(Joined(dir_, name).c_str());
    for (const std::string& name : created_dirs_) RemoveDirectoryA(Joined(dir_, name).c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  HANDLE MakeFile(const std::string& name, const std::string& bytes) {
    const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    created_.push_back(name);
    return file;
  }

  Os& os_ = System();
  std::string previous_;
  std::string dir_;
  std::vector<std::string> created_;
  std::vector<std::string> created_dirs_;
};

TEST_F(Win32OsTest, FullPathIsFormedAgainstTheCurrentDirectoryWhateverItsLength) {
  EXPECT_EQ(os_.FullPath("a.txt"), Joined(dir_, "a.txt"));
  EXPECT_EQ(os_.FullPath("sub\\..\\b.txt"), Joined(dir_, "b.txt"));
  // A full path of 258 characters does not fit the room of the first request; it comes back whole
  // and the caller decides what it is good for.
  const std::string long_name(258 - dir_.size() - 1, 'x');
  const std::optional<std::string> long_path = os_.FullPath(long_name);
  ASSERT_TRUE(long_path.has_value());
  EXPECT_EQ(long_path->size(), 258u);
  EXPECT_EQ(*long_path, Joined(dir_, long_name));
}

TEST_F(Win32OsTest, QueryAttributesTellsFilesDirectoriesAndWhyAQueryFailed) {
  CloseHandle(MakeFile("file.txt", "x"));
  ASSERT_NE(CreateDirectoryA("dir", nullptr), 0);
  created_dirs_.push_back("dir");
  const Attributes file = os_.QueryAttributes("file.txt");
  EXPECT_TRUE(file.ok);
  EXPECT_FALSE(file.directory);
  const Attributes dir = os_.QueryAttributes("dir");
  EXPECT_TRUE(dir.ok);
  EXPECT_TRUE(dir.directory);
  const Attributes missing = os_.QueryAttributes("missing.txt");
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.error, err::kFileNotFound);
  const Attributes missing_dir = os_.QueryAttributes("nowhere\\missing.txt");
  EXPECT_FALSE(missing_dir.ok);
  EXPECT_EQ(missing_dir.error, err::kPathNotFound);
}

TEST_F(Win32OsTest, ReadAndSeekBackOnADiskFile) {
  const HANDLE file = MakeFile("rw.txt", "abcdef");
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  const Handle handle = reinterpret_cast<Handle>(file);
  EXPECT_EQ(os_.KindOf(handle), FileKind::kDisk);
  char buffer[16] = {};
  IoResult got = os_.Read(handle, buffer, 4);
  EXPECT_EQ(std::string(buffer, got.bytes), "abcd");
  EXPECT_TRUE(os_.SeekBack(handle, 2));
  got = os_.Read(handle, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, got.bytes), "cdef");
  got = os_.Read(handle, buffer, sizeof buffer);
  EXPECT_TRUE(got.ok);
  EXPECT_EQ(got.bytes, 0u);
  CloseHandle(file);
}

TEST_F(Win32OsTest, EnvironmentNamesCompareWithoutRegardToCase) {
  ASSERT_NE(SetEnvironmentVariableA("PAGEOUT_OS_TEST", "a value"), 0);
  EXPECT_EQ(os_.GetEnv("pageout_os_test"), "a value");
  ASSERT_NE(SetEnvironmentVariableA("PAGEOUT_OS_TEST", ""), 0);
  EXPECT_EQ(os_.GetEnv("PAGEOUT_OS_TEST"), "");
  ASSERT_NE(SetEnvironmentVariableA("PAGEOUT_OS_TEST", nullptr), 0);
  EXPECT_EQ(os_.GetEnv("PAGEOUT_OS_TEST"), std::nullopt);
  const std::string long_value(1000, 'v');
  ASSERT_NE(SetEnvironmentVariableA("PAGEOUT_OS_TEST", long_value.c_str()), 0);
  EXPECT_EQ(os_.GetEnv("PAGEOUT_OS_TEST"), long_value);
  SetEnvironmentVariableA("PAGEOUT_OS_TEST", nullptr);
  EXPECT_TRUE(os_.IsNtFamily());
}

TEST_F(Win32OsTest, StartAndWaitGivesTheExitCodeOrTheErrorOfAFailedStart) {
  char system_dir[MAX_PATH + 1] = {};
  GetSystemDirectoryA(system_dir, sizeof system_dir);
  const std::string cmd = Joined(system_dir, "cmd.exe");
  const ChildResult ran = os_.StartAndWait(cmd, {}, "cmd.exe /c exit 7");
  EXPECT_TRUE(ran.started);
  EXPECT_EQ(ran.exit_code, 7);
  const ChildResult all_bits = os_.StartAndWait(cmd, {}, "cmd.exe /c exit -1");
  EXPECT_TRUE(all_bits.started);
  EXPECT_EQ(all_bits.exit_code, -1);
  const ChildResult missing = os_.StartAndWait(Joined(dir_, "missing.exe"), {}, "missing.exe");
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.error, err::kFileNotFound);
}

TEST_F(Win32OsTest, SystemMessagesComeFromTheSystemTable) {
  const std::optional<std::string> text = os_.SystemMessage(err::kFileNotFound);
  ASSERT_TRUE(text.has_value());
  EXPECT_GT(text->size(), 2u);
  EXPECT_EQ(text->substr(text->size() - 2), "\r\n");
  EXPECT_EQ(os_.SystemMessage(err::kPosixErrnoBase | 5u), std::nullopt);
}

TEST_F(Win32OsTest, RuntimeHandleSlotsDescribeTheOpenLowLevelHandles) {
  const int text_file = _open("text.txt", _O_CREAT | _O_RDWR | _O_TEXT, 0600);
  const int binary_file = _open("binary.txt", _O_CREAT | _O_RDWR | _O_BINARY, 0600);
  const int private_file = _open("private.txt", _O_CREAT | _O_RDWR | _O_NOINHERIT, 0600);
  created_.insert(created_.end(), {"text.txt", "binary.txt", "private.txt"});
  int pipe_ends[2] = {-1, -1};
  ASSERT_EQ(_pipe(pipe_ends, 256, _O_BINARY), 0);
  ASSERT_GE(text_file, 3);
  ASSERT_GE(binary_file, 3);
  ASSERT_GE(private_file, 3);

  const std::vector<HandleSlot> slots = RuntimeHandleSlots();
  const auto slot = [&](int fd) { return slots.at(static_cast<std::size_t>(fd)); };
  const int highest = std::max({text_file, binary_file, private_file, pipe_ends[0], pipe_ends[1]});
  EXPECT_GE(slots.size(), static_cast<std::size_t>(highest + 1));

  EXPECT_EQ(slot(text_file).flags, handle_flag::kOpen | handle_flag::kText);
  EXPECT_TRUE(slot(text_file).inheritable);
  EXPECT_EQ(slot(text_file).handle, static_cast<std::uint32_t>(_get_osfhandle(text_file)));
  EXPECT_EQ(slot(binary_file).flags, handle_flag::kOpen);
  EXPECT_FALSE(slot(private_file).inheritable);
  EXPECT_EQ(slot(pipe_ends[0]).flags, handle_flag::kOpen | handle_flag::kPipe);

  // Collecting the slots leaves every handle in the mode it had.
  EXPECT_EQ(_setmode(text_file, _O_TEXT), _O_TEXT);
  EXPECT_EQ(_setmode(binary_file, _O_BINARY), _O_BINARY);

  // In the table the handle that may not be inherited travels as flag 0 and handle -1.
  const std::vector<std::uint8_t> table = BuildHandleTable(slots);
  const std::size_t count = table[0] | (std::size_t{table[1]} << 8);
  ASSERT_GT(count, static_cast<std::size_t>(private_file));
  EXPECT_EQ(table[4 + static_cast<std::size_t>(private_file)], 0);
  const std::size_t private_handle = 4 + count + 4 * static_cast<std::size_t>(private_file);
  EXPECT_EQ(table[private_handle], 0xFF);
  EXPECT_EQ(table[private_handle + 3], 0xFF);

  for (int fd : {text_file, binary_file, private_file, pipe_ends[0], pipe_ends[1]}) _close(fd);
}

}  // namespace
}  // namespace pageout::platform
