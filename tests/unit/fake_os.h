// A fake of the platform interface for unit tests: scripted console input, recorded output, a
// small file system, an environment and recorded child starts. Exit throws ExitCalled.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/os.h"

namespace pageout::testing {

// Thrown by FakeOs::Exit in place of ending the process.
struct ExitCalled {
  int status;
};

// One scripted result of a read call. ok with bytes delivers up to the size asked (what is left
// stays at the front of the script); ok without bytes reports end of input; !ok fails with error.
struct ReadStep {
  std::string bytes;
  bool ok = true;
  std::uint32_t error = 0;

  static ReadStep Data(std::string data) { return {std::move(data)}; }
  static ReadStep Empty() { return {}; }
  static ReadStep Fail(std::uint32_t code) { return {{}, false, code}; }
};

// What a handle reads from. Scripted steps come first; when none is left the stream is read by its
// kind: a console delivers at most one line (through its LF) per call, a disk file or a pipe as
// much as asked. At the end of the stream a call gives end_result.
struct FakeInput {
  platform::FileKind kind = platform::FileKind::kConsole;
  std::deque<ReadStep> script;
  std::string stream;
  std::size_t position = 0;  // of the stream
  platform::IoResult end_result{true, 0, 0};
  std::vector<std::size_t> requests;      // sizes asked, one per read call
  std::vector<std::uint64_t> seek_backs;  // counts of SeekBack calls
};

struct ChildStart {
  std::string program;
  std::vector<std::string> args;
  std::string command_line;
  std::size_t input_position;  // the standard input's stream position when the child started
};

class FakeOs : public platform::Os {
 public:
  static constexpr platform::Handle kStdInput = 100;
  static constexpr platform::Handle kStdOutput = 101;
  static constexpr platform::Handle kStdError = 102;
  static constexpr platform::Handle kConsoleInputDevice = 200;
  static constexpr platform::Handle kConsoleOutputDevice = 201;

  explicit FakeOs(platform::Host host = platform::Host::kWindows) : host_(host) {
    cwd = host == platform::Host::kWindows ? "C:\\work" : "/work";
  }

  // --- Set-up helpers -------------------------------------------------------------------------
  FakeInput& input(platform::Handle handle = kStdInput) { return inputs[handle]; }
  void SetInput(platform::FileKind kind, std::string stream, platform::Handle handle = kStdInput) {
    FakeInput& in = inputs[handle];
    in.kind = kind;
    in.stream = std::move(stream);
    in.position = 0;
  }
  void AddFile(const std::string& path) { objects[Key(path)] = false; }
  void AddDirectory(const std::string& path) { objects[Key(path)] = true; }
  // Queries of path fail with error (a file the user may not even look at, say).
  void AttributeError(const std::string& path, std::uint32_t error) {
    attribute_errors[Key(path)] = error;
  }
  // Output written to a handle, all calls joined.
  std::string Output(platform::Handle handle = kStdOutput) const {
    std::string all;
    const auto found = writes.find(handle);
    if (found != writes.end()) {
      for (const std::string& w : found->second) all += w;
    }
    return all;
  }

  // --- State the tests set or inspect ---------------------------------------------------------
  platform::Host host_;
  std::map<platform::StdStream, platform::Handle> std_handles{
      {platform::StdStream::kInput, kStdInput},
      {platform::StdStream::kOutput, kStdOutput},
      {platform::StdStream::kError, kStdError}};
  std::uint32_t open_device_error = 0;  // non-zero: OpenConsoleDevice fails with it
  std::map<platform::Handle, FakeInput> inputs;
  std::map<platform::Handle, std::vector<std::string>> writes;  // one entry per write call
  std::optional<std::uint32_t> write_error;                     // set: every write fails with it
  int yields = 0;
  std::vector<std::string> events;  // "read", "write", "yield", "stderr", "start", "exit" in order

  std::string cwd;
  std::map<std::string, bool> objects;                    // path -> is a directory
  std::map<std::string, std::uint32_t> attribute_errors;  // path -> error of a failing query
  std::function<std::optional<std::string>(const std::string&)> full_path_hook;
  std::vector<std::string> full_path_calls;
  std::vector<std::string> attribute_queries;

  std::map<std::string, std::string> environment;
  bool nt_family = true;
  std::vector<ChildStart> starts;
  std::map<std::string, platform::ChildResult> child_results;  // by program; default exit 0

  std::string standard_error;
  std::vector<std::string> standard_error_writes;
  std::map<std::uint32_t, std::string> system_messages;
  std::optional<int> exit_status;

  // --- platform::Os ---------------------------------------------------------------------------
  platform::Host host() const override { return host_; }

  platform::Handle StdHandle(platform::StdStream stream) override {
    const auto found = std_handles.find(stream);
    return found == std_handles.end() ? platform::kInvalidHandle : found->second;
  }
  platform::Handle OpenConsoleDevice(platform::StdStream stream, std::uint32_t* error) override {
    if (open_device_error != 0) {
      *error = open_device_error;
      return platform::kInvalidHandle;
    }
    return stream == platform::StdStream::kInput ? kConsoleInputDevice : kConsoleOutputDevice;
  }
  platform::FileKind KindOf(platform::Handle handle) override { return inputs[handle].kind; }

  platform::IoResult Read(platform::Handle handle, void* buffer, std::size_t size) override {
    events.push_back("read");
    FakeInput& in = inputs[handle];
    in.requests.push_back(size);
    char* out = static_cast<char*>(buffer);
    if (!in.script.empty()) {
      ReadStep& step = in.script.front();
      if (!step.ok) {
        const std::uint32_t code = step.error;
        in.script.pop_front();
        return {false, 0, code};
      }
      const std::size_t n = std::min(size, step.bytes.size());
      std::memcpy(out, step.bytes.data(), n);
      step.bytes.erase(0, n);
      if (step.bytes.empty()) in.script.pop_front();
      return {true, n, 0};
    }
    if (in.position >= in.stream.size()) return in.end_result;
    std::size_t n = std::min(size, in.stream.size() - in.position);
    if (in.kind == platform::FileKind::kConsole) {
      const std::size_t lf = in.stream.find('\n', in.position);
      if (lf != std::string::npos) n = std::min(n, lf + 1 - in.position);
    }
    std::memcpy(out, in.stream.data() + in.position, n);
    in.position += n;
    return {true, n, 0};
  }

  platform::IoResult Write(platform::Handle handle, const void* buffer, std::size_t size) override {
    events.push_back("write");
    if (write_error) return {false, 0, *write_error};
    writes[handle].emplace_back(static_cast<const char*>(buffer), size);
    return {true, size, 0};
  }

  bool SeekBack(platform::Handle handle, std::uint64_t count) override {
    FakeInput& in = inputs[handle];
    in.seek_backs.push_back(count);
    if (in.kind != platform::FileKind::kDisk || count > in.position) return false;
    in.position -= static_cast<std::size_t>(count);
    return true;
  }

  void YieldTimeSlice() override {
    ++yields;
    events.push_back("yield");
  }

  std::optional<std::string> FullPath(const std::string& name) override {
    full_path_calls.push_back(name);
    if (full_path_hook) return full_path_hook(name);
    if (name.empty()) return std::nullopt;
    if (IsAbsolute(name)) return name;
    return cwd + (host_ == platform::Host::kWindows ? "\\" : "/") + name;
  }

  platform::Attributes QueryAttributes(const std::string& name) override {
    attribute_queries.push_back(name);
    // Win32 refuses wildcards in the name it is asked about.
    if (host_ == platform::Host::kWindows && name.find_first_of("*?") != std::string::npos) {
      return {false, false, 123};
    }
    const auto error = attribute_errors.find(Key(name));
    if (error != attribute_errors.end()) return {false, false, error->second};
    const auto found = objects.find(Key(name));
    if (found == objects.end()) return {false, false, platform::err::kFileNotFound};
    return {true, found->second, 0};
  }

  std::optional<std::string> GetEnv(const std::string& name) override {
    for (const auto& [key, value] : environment) {
      if (host_ == platform::Host::kWindows ? Key(key) == Key(name) : key == name) return value;
    }
    return std::nullopt;
  }

  bool IsNtFamily() override { return nt_family; }

  platform::ChildResult StartAndWait(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::string& command_line) override {
    events.push_back("start");
    const std::size_t position = inputs.count(kStdInput) ? inputs[kStdInput].position : 0;
    starts.push_back({program, args, command_line, position});
    const auto found = child_results.find(program);
    if (found != child_results.end()) return found->second;
    return {true, 0, 0};
  }

  void WriteStandardError(const char* bytes, std::size_t size) override {
    events.push_back("stderr");
    standard_error.append(bytes, size);
    standard_error_writes.emplace_back(bytes, size);
  }

  std::optional<std::string> SystemMessage(std::uint32_t error) override {
    const auto found = system_messages.find(error);
    if (found == system_messages.end()) return std::nullopt;
    return found->second;
  }

  [[noreturn]] void Exit(int status) override {
    events.push_back("exit");
    exit_status = status;
    throw ExitCalled{status};
  }

 private:
  // File names compare without regard to case on Win32.
  std::string Key(const std::string& name) const {
    if (host_ != platform::Host::kWindows) return name;
    std::string key = name;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
  }
  bool IsAbsolute(const std::string& name) const {
    if (host_ != platform::Host::kWindows) return name[0] == '/';
    if (name[0] == '\\' || name[0] == '/') return true;
    return name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) &&
           name[1] == ':' && (name[2] == '\\' || name[2] == '/');
  }
};

}  // namespace pageout::testing
