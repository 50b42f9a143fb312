#include "frontend/compose.h"

#include <algorithm>

#include "services/fixed_field.h"

namespace pageout::frontend {
namespace {

bool IsPosixSafe(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("_./+,:@%=-").find(c) != std::string_view::npos;
}

// Assigns text to positions first to last (from 1) of command.
void AssignPositions(std::span<char> command, std::size_t first, std::size_t last,
                     std::string_view text) {
  services::AssignField(command.subspan(first - 1, last - first + 1), text);
}

}  // namespace

bool NeedsQuoting(platform::Host host, std::string_view name) {
  if (host == platform::Host::kWindows) {
    return name.find_first_of(" \t&|<>^()\"%") != std::string_view::npos;
  }
  return !std::all_of(name.begin(), name.end(), IsPosixSafe);
}

std::string QuoteName(platform::Host host, std::string_view name) {
  if (host == platform::Host::kWindows) {
    // One argument for the converter's parser of its command line: backslashes stay as they are
    // unless a quote follows them, the closing one included; then they are doubled and a quote
    // of the name becomes \".
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : name) {
      if (c == '"') quoted.append(backslashes + 1, '\\');
      backslashes = c == '\\' ? backslashes + 1 : 0;
      quoted += c;
    }
    quoted.append(backslashes, '\\');
    quoted += '"';
    if (name.find_first_of("\"%") == std::string_view::npos) return quoted;
    // The interpreter expands %NAME% even between quotes, and a quote of the name would end its
    // quoted stretch early. Written with every special character escaped by ^ instead, the text
    // has no quoted stretch at all; a ^ right after each % (escaping the character that follows)
    // keeps it from starting the name of a variable.
    std::string escaped;
    bool after_percent = false;
    for (char c : quoted) {
      if (after_percent || std::string_view("^&|<>()\"").find(c) != std::string_view::npos) {
        escaped += '^';
      }
      escaped += c;
      after_percent = c == '%';
    }
    return escaped;
  }
  std::string quoted = "'";
  for (char c : name) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::size_t ComposeConverterCommand(platform::Host host, const Layout& layout,
                                    std::span<const char, kFileNameSize> file_name,
                                    std::span<char, kCommandCapacity> command) {
  services::AssignField(command, {});

  const std::string_view field = services::View(file_name);
  // The name ends where the existence test ends it: NULs after it are fill like the blanks, and
  // would cut the command short if they stood in it.
  std::size_t end = services::TrimmedLength(field);
  while (end > 0 && (field[end - 1] == ' ' || field[end - 1] == '\0')) --end;
  const std::size_t leading = std::min(field.find_first_not_of(' '), end);
  const std::string_view name = field.substr(leading, end - leading);
  // The converter would read a name beginning with a dash as an option (-oFILE alone sends the
  // document elsewhere); with the current directory in front it stays the input file's name.
  const std::string_view directory =
      name.starts_with('-') ? (host == platform::Host::kWindows ? ".\\" : "./") : "";
  const bool trailing_fill = end != services::TrimmedLength(field);
  if (!directory.empty() || trailing_fill || NeedsQuoting(host, name)) {
    // The leading blanks stay in front of the opening quote, as they stand in the field.
    const std::string path = std::string(directory) + std::string(name);
    const std::string text =
        std::string(leading, ' ') + (NeedsQuoting(host, path) ? QuoteName(host, path) : path);
    AssignPositions(command, layout.name_first, layout.name_first + text.size() - 1, text);
  } else {
    AssignPositions(command, layout.name_first, layout.name_last, field);
  }
  AssignPositions(command, layout.prefix_first, layout.prefix_last, layout.prefix);

  const std::size_t last = services::TrimmedLength(services::View(command));
  AssignPositions(command, last + 1, last + kRedirection.size(), kRedirection);
  return std::max(kCommandBufferSize, last + kRedirection.size());
}

std::string_view ViewerCommand(platform::Host host) {
  switch (host) {
    case platform::Host::kWindows:
      return kViewerCommandWindows;
    case platform::Host::kMac:
      return kViewerCommandMac;
    case platform::Host::kLinux:
      break;
  }
  return kViewerCommandLinux;
}

Answer ClassifyAnswer(char reply) {
  if (reply == 'N' || reply == 'n') return Answer::kNo;
  if (reply == 'Q' || reply == 'q') return Answer::kQuit;
  return Answer::kYes;
}

}  // namespace pageout::frontend
