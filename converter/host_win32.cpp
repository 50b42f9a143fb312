#include <windows.h>
#include <shellapi.h>

#include "converter/host.h"

namespace pageout::converter {
namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), length, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(length - 1));
  return utf8;
}

// The system's text for an error code, without the line end FormatMessage puts after it.
std::string Reason(DWORD error) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = length > 0 && text != nullptr ? std::string(text, length)
                                                     : "error " + std::to_string(error);
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason;
}

class HandleSource final : public ByteSource {
 public:
  HandleSource(HANDLE handle, bool owned) : handle_(handle), owned_(owned) {}
  ~HandleSource() override {
    if (owned_) CloseHandle(handle_);
  }
  HandleSource(const HandleSource&) = delete;
  HandleSource& operator=(const HandleSource&) = delete;

  std::int64_t Read(char* data, std::size_t size, std::string* reason) override {
    DWORD count = 0;
    if (ReadFile(handle_, data, static_cast<DWORD>(size), &count, nullptr)) return count;
    DWORD error = GetLastError();
    // The writing end of a pipe closing is how a pipe reports its end.
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
    *reason = Reason(error);
    return -1;
  }

 private:
  HANDLE handle_;
  bool owned_;
};

class HandleSink final : public ByteSink {
 public:
  HandleSink(HANDLE handle, bool owned) : handle_(handle), owned_(owned) {}
  ~HandleSink() override {
    if (owned_) CloseHandle(handle_);
  }
  HandleSink(const HandleSink&) = delete;
  HandleSink& operator=(const HandleSink&) = delete;

  // WriteFile on the handle passes the bytes through untouched, where the C run-time's text mode
  // would turn every LF into CR LF and corrupt the document.
  bool Write(const char* data, std::size_t size, std::string* reason) override {
    while (size > 0) {
      DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
      DWORD count = 0;
      if (!WriteFile(handle_, data, piece, &count, nullptr)) {
        *reason = Reason(GetLastError());
        return false;
      }
      data += count;
      size -= count;
    }
    return true;
  }

 private:
  HANDLE handle_;
  bool owned_;
};

bool IsConsole(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  // GetConsoleMode succeeds only for a console; the NUL device, which the run-time's _isatty
  // takes for a terminal, fails it.
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void WriteAll(DWORD which, std::string_view text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  std::string ignored;
  HandleSink(handle, false).Write(text.data(), text.size(), &ignored);
}

class Win32Host final : public Host {
 public:
  std::unique_ptr<ByteSource> OpenInput(const std::string& name,
                                        std::optional<std::uint64_t>* size,
                                        std::string* reason) override {
    HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    if (!name.empty()) {
      handle = CreateFileW(Wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
      if (handle == INVALID_HANDLE_VALUE) {
        *reason = Reason(GetLastError());
        return nullptr;
      }
    } else if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
      *reason = Reason(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    LARGE_INTEGER file_size{};
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &file_size)) {
      *size = static_cast<std::uint64_t>(file_size.QuadPart);
    }
    return std::make_unique<HandleSource>(handle, !name.empty());
  }

  std::unique_ptr<ByteSink> OpenOutput(const std::string& name, std::string* reason) override {
    if (name.empty()) {
      HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
      if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        *reason = Reason(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      return std::make_unique<HandleSink>(handle, false);
    }
    HANDLE handle = CreateFileW(Wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      *reason = Reason(GetLastError());
      return nullptr;
    }
    return std::make_unique<HandleSink>(handle, true);
  }

  void WriteOutput(std::string_view text) override { WriteAll(STD_OUTPUT_HANDLE, text); }
  void WriteError(std::string_view text) override { WriteAll(STD_ERROR_HANDLE, text); }
  bool OutputIsTerminal() override { return IsConsole(STD_OUTPUT_HANDLE); }
  bool ErrorIsTerminal() override { return IsConsole(STD_ERROR_HANDLE); }
  PaperSize DefaultPaper() override { return SystemDefaultPaper(); }

  // A file is known by its volume's serial number and its index on that volume.
  bool SameFile(const std::string& a, const std::string& b) override {
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return Identify(a, &first) && Identify(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
  }

 private:
  static bool Identify(const std::string& name, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE handle = CreateFileW(Wide(name).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(handle, info) != 0;
    CloseHandle(handle);
    return ok;
  }
};

}  // namespace

std::unique_ptr<Host> MakeSystemHost() { return std::make_unique<Win32Host>(); }

// The run-time's argv holds the arguments in the ANSI code page, which loses every character
// outside it; the wide command line keeps file names whole.
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  }
  for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return args;
}

}  // namespace pageout::converter
