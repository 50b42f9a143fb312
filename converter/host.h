// What the converter needs from the operating system: its files, its standard channels and the
// paper size. The real host is in host_posix.cpp and host_win32.cpp; no OS type appears here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "converter/paper.h"
#include "converter/pdf_writer.h"

namespace pageout::converter {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes: the count read, 0 at the end of the input, or -1 with the system's
  // reason in *reason.
  virtual std::int64_t Read(char* data, std::size_t size, std::string* reason) = 0;
};

class Host {
 public:
  virtual ~Host() = default;
  // Opens the named file for reading, or standard input for an empty name. *size receives the
  // size of a regular file and stays nullopt for anything else. nullptr, with the system's reason
  // in *reason, on failure.
  virtual std::unique_ptr<ByteSource> OpenInput(const std::string& name,
                                                std::optional<std::uint64_t>* size,
                                                std::string* reason) = 0;
  // Creates (or truncates) the named file for writing, or returns standard output for an empty
  // name; bytes go out unchanged on every platform. nullptr with *reason on failure.
  virtual std::unique_ptr<ByteSink> OpenOutput(const std::string& name, std::string* reason) = 0;
  // Text for the user on standard output (the usage and version texts).
  virtual void WriteOutput(std::string_view text) = 0;
  virtual void WriteError(std::string_view text) = 0;
  virtual bool OutputIsTerminal() = 0;
  virtual bool ErrorIsTerminal() = 0;
  virtual PaperSize DefaultPaper() = 0;
  // Whether the two names lead to one existing file (through links, other spellings, ...).
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;
};

// The host of the running process.
std::unique_ptr<Host> MakeSystemHost();

// The program's arguments after its name, as UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace pageout::converter
