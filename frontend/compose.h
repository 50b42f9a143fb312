// The converter command, the viewer command and the classes of answers.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "frontend/layouts.h"
#include "platform/os.h"

namespace pageout::frontend {

constexpr std::size_t kFileNameSize = 80;
constexpr std::size_t kCommandBufferSize = 160;
// Room for the longest command: the widest prefix field, its blank, a name whose every character
// needs the longest quoting (a ' written as '\'' inside the quotes) and the redirection.
constexpr std::size_t kCommandCapacity = 35 + 2 + 4 * kFileNameSize + kRedirection.size();

// Whether the interpreter of host would split or reinterpret name: on Win32 a blank, tab or one of
// & | < > ^ ( ) " %; on POSIX any character outside A-Z a-z 0-9 _ . / + , : @ % = -.
bool NeedsQuoting(platform::Host host, std::string_view name);

// name as one argument for the interpreter of host and the program it starts. On Win32 in double
// quotes, with backslashes before a quote doubled and a quote inside written as \"; a name with a
// " or a % has every quote and special character escaped with ^ in addition, and a ^ right after
// each %, so that the interpreter neither expands a variable nor ends a quoted stretch inside it. On POSIX
// in single quotes (a ' inside written as '\'').
std::string QuoteName(platform::Host host, std::string_view name);

// Composes the converter command of layout for the file-name field into command and returns its
// width: 160 positions, or more when a quoted name needs more. A name that needs no quoting lands
// in the layout's name field exactly; a quoted one starts there too, after the field's leading
// blanks. The redirection follows the last character that is not a blank.
std::size_t ComposeConverterCommand(platform::Host host, const Layout& layout,
                                    std::span<const char, kFileNameSize> file_name,
                                    std::span<char, kCommandCapacity> command);

// The command that opens OT.PDF on host.
std::string_view ViewerCommand(platform::Host host);

enum class Answer { kYes, kNo, kQuit };

// "N"/"n" no, "Q"/"q" quit, every other character yes (the blank of an empty reply too).
Answer ClassifyAnswer(char reply);

}  // namespace pageout::frontend
