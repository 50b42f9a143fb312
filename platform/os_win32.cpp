// The platform interface on Win32, calling the system as the program's behaviour names it.
#include <windows.h>

#include <cstdlib>

#include "platform/faults.h"
#include "platform/handle_table.h"
#include "platform/os.h"
#include "platform/runtime_handles_win32.h"

namespace pageout::platform {
namespace {

HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromHandle(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

DWORD ClampToDword(std::size_t size) {
  return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
}

class Win32Os final : public Os {
 public:
  Win32Os() {
    // The platform flag is taken once at process start. Should the query fail, the system is
    // taken for what every system this program runs on is: one of the NT family.
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version) != 0) nt_family_ = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  }

  Host host() const override { return Host::kWindows; }

  Handle StdHandle(StdStream stream) override {
    DWORD which = STD_ERROR_HANDLE;
    if (stream == StdStream::kInput) which = STD_INPUT_HANDLE;
    if (stream == StdStream::kOutput) which = STD_OUTPUT_HANDLE;
    const HANDLE handle = GetStdHandle(which);
    // A process started without standard handles gets NULL, which is as unusable as the invalid
    // handle value; both lead to the console device.
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return kInvalidHandle;
    return FromHandle(handle);
  }

  Handle OpenConsoleDevice(StdStream stream, std::uint32_t* error) override {
    const bool input = stream == StdStream::kInput;
    const HANDLE handle =
        CreateFileA(input ? "CONIN$" : "CONOUT$", input ? GENERIC_READ : GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (error != nullptr) *error = GetLastError();
      return kInvalidHandle;
    }
    return FromHandle(handle);
  }

  FileKind KindOf(Handle handle) override {
    switch (GetFileType(ToHandle(handle))) {
      case FILE_TYPE_CHAR:
        return FileKind::kConsole;
      case FILE_TYPE_DISK:
        return FileKind::kDisk;
      default:
        return FileKind::kPipe;
    }
  }

  IoResult Read(Handle handle, void* buffer, std::size_t size) override {
    DWORD got = 0;
    if (ReadFile(ToHandle(handle), buffer, ClampToDword(size), &got, nullptr) == 0) {
      return {false, 0, GetLastError()};
    }
    return {true, got, 0};
  }

  IoResult Write(Handle handle, const void* buffer, std::size_t size) override {
    DWORD put = 0;
    if (WriteFile(ToHandle(handle), buffer, ClampToDword(size), &put, nullptr) == 0) {
      return {false, put, GetLastError()};
    }
    return {true, put, 0};
  }

  bool SeekBack(Handle handle, std::uint64_t count) override {
    if (count > static_cast<std::uint64_t>(INT64_MAX)) return false;
    const std::int64_t distance = -static_cast<std::int64_t>(count);
    LONG high = static_cast<LONG>(distance >> 32);
    const LONG low = static_cast<LONG>(static_cast<std::uint32_t>(distance & 0xFFFFFFFF));
    SetLastError(NO_ERROR);
    const DWORD result = SetFilePointer(ToHandle(handle), low, &high, FILE_CURRENT);
    return !(result == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
  }

  void YieldTimeSlice() override { Sleep(0); }

  std::optional<std::string> FullPath(const std::string& name) override {
    std::string buffer(257, '\0');
    char* file_part = nullptr;
    DWORD length = GetFullPathNameA(name.c_str(), 257, buffer.data(), &file_part);
    if (length == 0) return std::nullopt;
    // A path that does not fit reports the room it needs; it is fetched whole, and the caller
    // decides what a path of that length is good for.
    while (length >= buffer.size()) {
      buffer.assign(length + 1, '\0');
      length = GetFullPathNameA(name.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(),
                                &file_part);
      if (length == 0) return std::nullopt;
    }
    buffer.resize(length);
    return buffer;
  }

  Attributes QueryAttributes(const std::string& name) override {
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {false, false, GetLastError()};
    return {true, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, 0};
  }

  std::optional<std::string> GetEnv(const std::string& name) override {
    std::string value(256, '\0');
    for (;;) {
      SetLastError(NO_ERROR);
      const DWORD length =
          GetEnvironmentVariableA(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
      if (length == 0) {
        // An empty value also gives 0, without the error code of a missing variable.
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
      }
      if (length < value.size()) {
        value.resize(length);
        return value;
      }
      value.assign(length, '\0');
    }
  }

  bool IsNtFamily() override { return nt_family_; }

  ChildResult StartAndWait(const std::string& program, const std::vector<std::string>& /*args*/,
                           const std::string& command_line) override {
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    std::vector<std::uint8_t> table = BuildHandleTable(RuntimeHandleSlots());
    if (table.size() > 0xFFFF) return {false, -1, ERROR_NOT_ENOUGH_MEMORY};

    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.cbReserved2 = static_cast<WORD>(table.size());
    start.lpReserved2 = table.data();
    PROCESS_INFORMATION process{};
    const BOOL created = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &start, &process);
    const DWORD create_error = created ? NO_ERROR : GetLastError();
    table.clear();
    table.shrink_to_fit();
    if (!created) return {false, -1, create_error};

    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    if (GetExitCodeProcess(process.hProcess, &exit_code) == 0) exit_code = 0xFFFFFFFFu;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // A Ctrl+C that ended the command reached this program too: it goes no further while the
    // event is handled.
    HoldForControlEvent(static_cast<std::int32_t>(exit_code));
    return {true, static_cast<std::int32_t>(exit_code), 0};
  }

  void WriteStandardError(const char* bytes, std::size_t size) override {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
    DWORD put = 0;
    WriteFile(handle, bytes, ClampToDword(size), &put, nullptr);
  }

  std::optional<std::string> SystemMessage(std::uint32_t error) override {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return std::nullopt;
    std::string message(text, length);
    LocalFree(text);
    return message;
  }

  [[noreturn]] void Exit(int status) override { std::exit(status); }

 private:
  bool nt_family_ = true;
};

}  // namespace

Os& System() {
  static Win32Os os;
  return os;
}

}  // namespace pageout::platform
