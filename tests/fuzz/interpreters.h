// How the receiving side reads a command: a POSIX shell for /bin/sh -c, and the Win32 command
// interpreter for cmd /c followed by the run-time library's splitting of the program's command
// line. Small models for the fuzz targets, covering what a converter command can hold.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pageout::fuzz {

struct Parsed {
  std::vector<std::string> words;         // the converter's argument vector, its own name first
  std::vector<std::string> redirections;  // the targets of ">"
  std::string unsafe;                     // what the interpreter would act on besides the above
};

// /bin/sh -c command: words split at unquoted blanks, tabs and newlines, quotes removed.
inline Parsed ParsePosix(std::string_view command) {
  Parsed parsed;
  std::string word;
  bool in_word = false;
  bool redirect_next = false;
  auto finish = [&] {
    if (!in_word) return;
    (redirect_next ? parsed.redirections : parsed.words).push_back(word);
    redirect_next = false;
    word.clear();
    in_word = false;
  };
  for (std::size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == ' ' || c == '\t') {
      finish();
    } else if (c == '\'') {
      const std::size_t close = command.find('\'', i + 1);
      if (close == std::string_view::npos) return parsed.unsafe = "unterminated quote", parsed;
      word.append(command.substr(i + 1, close - i - 1));
      in_word = true;
      i = close;
    } else if (c == '\\') {
      if (i + 1 == command.size() || command[i + 1] == '\n')
        return parsed.unsafe = "backslash", parsed;
      word += command[++i];
      in_word = true;
    } else if (c == '>') {
      finish();
      if (redirect_next) return parsed.unsafe = "two redirections", parsed;
      redirect_next = true;
    } else if (std::string_view("\n|&;()<\"$`").find(c) != std::string_view::npos) {
      return parsed.unsafe = std::string("unquoted ") + c, parsed;
    } else if (std::string_view("*?[").find(c) != std::string_view::npos) {
      return parsed.unsafe = std::string("pattern ") + c, parsed;
    } else if (!in_word && (c == '#' || c == '~')) {
      return parsed.unsafe = std::string("word starting ") + c, parsed;
    } else {
      word += c;
      in_word = true;
    }
  }
  finish();
  if (redirect_next) parsed.unsafe = "redirection without a target";
  return parsed;
}

// The run-time library's splitting of a Win32 command line into arguments.
inline std::vector<std::string> SplitWin32(std::string_view line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) return args;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      std::size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          arg += '"';
        } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg += '"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(backslashes, '\\');
        if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
      }
    }
    args.push_back(arg);
  }
}

// cmd /c command: carets and redirections outside quotes, variable references anywhere; what is
// left is the converter's command line, split by the run-time library. A % with another % after
// it starts a variable reference unless a ^ follows it: no variable's name begins with one.
inline Parsed ParseWin32(std::string_view command) {
  Parsed parsed;
  std::string line;
  bool quoted = false;
  for (std::size_t i = command.find('%'); i != std::string_view::npos;
       i = command.find('%', i + 1)) {
    if (command.find('%', i + 1) != std::string_view::npos &&
        (i + 1 == command.size() || command[i + 1] != '^')) {
      return parsed.unsafe = "variable reference", parsed;
    }
  }
  for (std::size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '^') {
      if (++i < command.size()) line += command[i];
      continue;
    }
    if (!quoted && (c == '&' || c == '|' || c == '<'))
      return parsed.unsafe = std::string("unquoted ") + c, parsed;
    if (!quoted && c == '>') {
      if (!parsed.redirections.empty()) return parsed.unsafe = "two redirections", parsed;
      std::size_t start = i + 1;
      while (start < command.size() && command[start] == ' ') ++start;
      std::size_t end = start;
      while (end < command.size() && command[end] != ' ') ++end;
      parsed.redirections.emplace_back(command.substr(start, end - start));
      i = end - 1;
      continue;
    }
    line += c;
  }
  parsed.words = SplitWin32(line);
  return parsed;
}

}  // namespace pageout::fuzz
